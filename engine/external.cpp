#include "engine/external.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine/errortext.h"
#include "engine/groupsort.h"
#include "engine/keys.h"
#include "engine/merge.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "engine/statreport.h"
#include "engine/workspace.h"
#include "os/platform.h"

static const char kCannotCreateTemporary[] = "\n Could NOT Create Temporary File in: %s!\n";
static const char kCannotWriteTemporary[] = "\n Could NOT Write Temporary File: %s!\n";
static const char kCannotReadTemporary[] = "\n Could NOT Read Temporary File: %s!\n";

static const uint64_t kBudgetReserve = uint64_t{6} << 20;     // the writer's two buffers and the pool's scratch
static const uint64_t kLeastPartBudget = uint64_t{1} << 20;   // what a part may take when the budget leaves less
static const uint64_t kLargestPartBuffer = uint64_t{1} << 30; // part buffers stay below this, offsets in 32 bits
static const size_t kScanBlock = size_t{8} << 20;             // bytes per read of the block scan
static const size_t kMergeReadSize = size_t{256} << 10;       // each merged run file's buffer, at least
static const uint32_t kMostFanIn = 1024;                      // run files one merge takes, at most
static const size_t kWriterBuffer = size_t{2} << 20;          // each of a writer's two buffers
static const uint32_t kIndexBytes = 4;                        // a run entry's record index
static const uint32_t kGatherAhead = 16;                      // records ahead that a run file's gathering asks for
static const uint64_t kExhausted = ~uint64_t{0};              // head prefix of a run file with nothing left
static const unsigned char kCr = 0x0D;
static const unsigned char kLf = 0x0A;

// Test seam (sortrun.h): records per part and run files per merge, 0 for the budget's; the
// block scan's first block, 0 for kScanBlock.
static uint32_t gTestPartRecords = 0;
static uint32_t gTestFanIn = 0;
static size_t gTestScanBlock = 0;

void SetExternalLimitsForTesting(uint32_t partRecords, uint32_t fanIn, size_t scanBlock) {
  gTestPartRecords = partRecords;
  gTestFanIn = fanIn;
  gTestScanBlock = scanBlock;
}

int ExternalForcedForTesting() { return gTestPartRecords != 0; }

// One run file being merged: a window of it in memory holding at least its head entry whole.
struct RunReader {
  const OutputFile *file;
  uint64_t size;           // bytes in the file
  uint64_t offset;         // the next byte to read
  unsigned char *buffer;   // the window, capacity bytes
  size_t capacity;
  size_t start;            // the head entry's first byte in the window
  size_t end;              // bytes in the window
  size_t headLength;       // bytes of the head entry
  uint64_t prefix;         // its key's first eight bytes, big-endian; kExhausted when done
  bool done;               // no entry left
};

// The exact count of the selection merge over all groups (merge.h), kept as the final order
// is emitted. mergecount.cpp gives the rule; streamed, the one thing it needs of the future
// (is there a later reference of a lower group?) is whether a lower group still has
// references left, and the lowest group with any left only grows.
struct MergeCount {
  uint64_t *prevSame;      // G: each group's last position so far, 1-based; 0 for none
  uint64_t *stackPosition; // positions of increasing groups, the nearest lower group on top
  uint32_t *stackGroup;
  uint16_t *remaining;     // G: references not yet emitted
  uint64_t depth;
  uint32_t firstUnfinished;// the lowest group with references left
  uint32_t groupCount;
  uint64_t position;       // references emitted
  uint64_t total;          // the count
};

struct ExternalSort {
  SortRunState *part;         // the part being sorted: the buffer as its input, its own workspace
  unsigned char *buffer;      // the part buffer
  size_t bufferSize;          // its bytes
  uint32_t partRecords;       // most records of one part, a multiple of 997
  uint32_t fanIn;             // most run files one merge takes
  size_t readSize;            // bytes of each merged run file's window
  uint32_t entryHead;         // T + 4: each entry's key and record index, before the record
  OutputFile *runs;           // the run files, in input order of their records
  uint32_t runCount;
  uint32_t runCapacity;
  OutputFile *merged;         // during a merge pass: the longer run files it makes
  uint32_t mergedCount;
  unsigned char *writerBuffers;  // the two buffers of the one file being written
  RunReader *readers;         // fanIn readers with their windows
  uint32_t *losers;           // the loser tree: fanIn nodes
  uint32_t *winners;          // and its set-up
  MergeCount count;
  char folder[kNameSize];     // where the run files go
};

static uint64_t RoundUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

uint64_t InMemoryBytes(const SortRunState *run, uint64_t n) {
  const uint64_t groups = (n + kSortGroupSize - 1) / kSortGroupSize;
  uint64_t keyLength = 0;
  for (int k = 0; k < run->job.keyCount; k++) keyLength += static_cast<uint64_t>(run->job.keys[k].length);
  uint64_t bytes = n * (4 + 4 + 8) + groups * (2 + 24 + 16);  // references, order, prefixes; the merge's
  if (groups > kMergeBatch) bytes += 8 * n;
  if (run->variable) {
    keyLength += run->wideOffsets ? kWideOffsetSuffixLength : kOffsetSuffixLength;
    bytes += n * ((run->wideOffsets ? 8 : 4) + 2);
  }
  bytes += n * keyLength + 2 * uint64_t{run->bufferSize} + kOutputBufferSize + (uint64_t{kMaxSortThreads} << 20) / 8;
  return bytes + run->input.size;
}

// ---- Writing a file in sequence from two buffers: the run fills one while a thread of the
// writer's own hands the other to the system, so that the copy into the file's pages
// overlaps the merge or the gathering of a part. Every write goes through WriteOutputAt,
// the fault hook's.

struct SequentialWriter {
  const OutputFile *file;
  unsigned char *buffers[2];        // kWriterBuffer bytes each
  unsigned char *fill;              // the one being filled
  size_t used;                      // bytes in it
  uint64_t offset;                  // where the next handed-over buffer goes
  const unsigned char *handed;      // the buffer the thread writes; null while it waits
  size_t handedBytes;
  bool stop;
  std::atomic<int> failed;          // 1 once a write failed
  std::mutex lock;
  std::condition_variable changed;
  std::thread thread;
};

static void WriteHandedBuffers(SequentialWriter *w) {
  std::unique_lock<std::mutex> hold(w->lock);
  for (;;) {
    w->changed.wait(hold, [w] { return w->handed != nullptr || w->stop; });
    if (w->handed == nullptr) return;
    const unsigned char *bytes = w->handed;
    const size_t count = w->handedBytes;
    const uint64_t offset = w->offset;
    hold.unlock();
    const int failed = w->failed == 0 ? WriteOutputAt(w->file, bytes, count, offset) : 1;
    hold.lock();
    if (failed != 0) w->failed = 1;
    w->offset += count;
    w->handed = nullptr;
    w->changed.notify_all();
  }
}

static void StartWriter(SequentialWriter *w, const OutputFile *file, unsigned char *buffers) {
  w->file = file;
  w->buffers[0] = buffers;
  w->buffers[1] = buffers + kWriterBuffer;
  w->fill = w->buffers[0];
  w->used = 0;
  w->offset = 0;
  w->handed = nullptr;
  w->stop = false;
  w->failed = 0;
  w->thread = std::thread(WriteHandedBuffers, w);
}

// Hands the filled buffer to the thread once it is free, and fills the other.
static void HandOver(SequentialWriter *w) {
  std::unique_lock<std::mutex> hold(w->lock);
  w->changed.wait(hold, [w] { return w->handed == nullptr; });
  w->handed = w->fill;
  w->handedBytes = w->used;
  w->fill = w->fill == w->buffers[0] ? w->buffers[1] : w->buffers[0];
  w->used = 0;
  w->changed.notify_all();
}

static void PutMore(SequentialWriter *w, const unsigned char *bytes, size_t count) {
  while (count > 0) {
    const size_t room = kWriterBuffer - w->used;
    const size_t part = count < room ? count : room;
    memcpy(w->fill + w->used, bytes, part);
    w->used += part;
    bytes += part;
    count -= part;
    if (w->used == kWriterBuffer) HandOver(w);
  }
}

static inline void Put(SequentialWriter *w, const void *bytes, size_t count) {
  if (count < kWriterBuffer - w->used) {
    memcpy(w->fill + w->used, bytes, count);
    w->used += count;
  } else {
    PutMore(w, static_cast<const unsigned char *>(bytes), count);
  }
}

// Writes what is left, ends the thread and returns the bytes written, or UINT64_MAX when
// a write failed.
static uint64_t FinishWriter(SequentialWriter *w) {
  if (w->used > 0) HandOver(w);
  {
    std::unique_lock<std::mutex> hold(w->lock);
    w->changed.wait(hold, [w] { return w->handed == nullptr; });
    w->stop = true;
    w->changed.notify_all();
  }
  w->thread.join();
  return w->failed != 0 ? UINT64_MAX : w->offset;
}

// ---- Reading the input in sequence.

// Reads count bytes at offset whole. Returns 0, or 1 after writing the message.
static int ReadInputWhole(SortRunState *run, unsigned char *bytes, size_t count, uint64_t offset) {
  while (count > 0) {
    const int64_t got = ReadInputAt(&run->input, bytes, count, offset);
    if (got <= 0) {
      FailWithName(run, got < 0 && !InputFileChanged(&run->input) ? kReadError : kInputChanged, run->job.inputName);
      return 1;
    }
    bytes += got;
    count -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return 0;
}

// The position just after the last delimiter in bytes[0, size), or 0 when there is none.
static size_t AfterLastDelimiter(const unsigned char *bytes, size_t size, int mode) {
  for (size_t pos = size; pos > 0; pos--) {
    const unsigned char c = bytes[pos - 1];
    if (mode == kDelimiterCr ? c == kCr : c == kLf && (mode == kDelimiterLf || (pos >= 2 && bytes[pos - 2] == kCr))) {
      return pos;
    }
  }
  return 0;
}

// 1 when bytes[0, size) hold a byte other than CR and LF: a record's byte.
static bool HoldsRecordBytes(const unsigned char *bytes, size_t size) {
  for (size_t i = 0; i < size; i++) {
    if (bytes[i] != kCr && bytes[i] != kLf) return true;
  }
  return false;
}

// A whole buffer without a delimiter, past which the input goes on: only line breaks that
// are not delimiters (no record is open after them: the cut is the buffer's end), or a
// record that only a later delimiter or byte decides (0: the buffer must grow).
static size_t CutWithoutDelimiter(const unsigned char *bytes, size_t size) {
  return HoldsRecordBytes(bytes, size) ? 0 : size;
}

// Doubles a buffer holding have bytes. Returns 0, or 1 when the memory cannot be had.
static int GrowBuffer(unsigned char **buffer, size_t *size, size_t have) {
  unsigned char *larger = static_cast<unsigned char *>(AllocateZeroed(2 * *size, 1));
  if (larger == nullptr) return 1;
  memcpy(larger, *buffer, have);
  free(*buffer);
  *buffer = larger;
  *size *= 2;
  return 0;
}

int ScanInputInBlocks(SortRunState *run) {
  size_t blockSize = gTestScanBlock != 0 ? gTestScanBlock : kScanBlock;
  unsigned char *block = static_cast<unsigned char *>(malloc(blockSize));
  if (block == nullptr) return -1;
  uint64_t records = 0;
  uint64_t base = 0;   // the file offset of block[0]
  size_t have = 0;
  int result = kScanGood;
  run->tally.longestRecord = 0;
  // The block's scan on the run's pool, through a state of its own whose input is the block.
  SortRunState *scan = RunPool(run) != nullptr ? static_cast<SortRunState *>(calloc(1, sizeof(SortRunState))) : nullptr;
  if (scan != nullptr) {
    scan->input.handle = -1;
    scan->pool = run->pool;
    scan->threads = run->threads;
  }
  while (result == kScanGood) {
    while (have < blockSize && base + have < run->input.size) {
      const int64_t got = ReadInputAt(&run->input, block + have, blockSize - have, base + have);
      if (got <= 0) break;
      have += static_cast<size_t>(got);
    }
    const bool atEnd = base + have >= run->input.size;
    if (!atEnd && have < blockSize) {  // a failed read, or the file shrank
      result = -1;
      break;
    }
    // A cut after a delimiter leaves no record open, as the whole scan has none there.
    size_t cut = atEnd ? have : AfterLastDelimiter(block, have, DelimiterMode);
    if (cut == 0 && !atEnd) cut = CutWithoutDelimiter(block, have);
    if (cut == 0) {
      if (GrowBuffer(&block, &blockSize, have) != 0) {
        result = -1;
        break;
      }
      continue;
    }
    ScanTally tally = {0, 0};
    if (scan != nullptr) {  // in ranges on the pool, as a mapped input is scanned
      scan->input.bytes = block;
      scan->input.size = cut;
      result = ScanInput(scan);
      tally = scan->tally;
    } else {
      result = ScanRecordRange(0, block, 0, cut, DelimiterMode, &tally, nullptr, 0, 0);
    }
    records += tally.recordCount;
    if (tally.longestRecord > run->tally.longestRecord) run->tally.longestRecord = tally.longestRecord;
    if (atEnd && cut == have) break;
    memmove(block, block + cut, have - cut);
    base += cut;
    have -= cut;
  }
  free(block);
  free(scan);
  if (result == kScanGood && records > UINT32_MAX) return kScanTooManyRecords;
  run->tally.recordCount = static_cast<uint32_t>(records);
  return result;
}

// ---- Planning.

int PlanExternalSort(SortRunState *run, uint64_t *figure) {
  ExternalSort *ext = static_cast<ExternalSort *>(AllocateZeroed(1, sizeof(ExternalSort)));
  if (ext == nullptr) return 2;
  run->externalSort = ext;
  if (TemporaryFolder[0] != '\0') {
    CopyText(ext->folder, sizeof ext->folder, TemporaryFolder);
  } else {
    SystemTemporaryFolder(ext->folder, sizeof ext->folder);
  }
  const uint64_t n = run->recordCount;
  const uint64_t keyLength = run->plan.keyLength;
  const uint64_t recordLength = run->variable ? 0 : static_cast<uint64_t>(run->job.recordLength);
  ext->entryHead = static_cast<uint32_t>(keyLength) + kIndexBytes;
  const size_t longestEntry = ext->entryHead + (run->variable ? 2 + kLongestRecordSpan : recordLength);
  const uint64_t available = run->budget > kBudgetReserve + kLeastPartBudget ? run->budget - kBudgetReserve : kLeastPartBudget;

  // A part: its records' bytes and, per record, its key, references, order, two prefixes
  // and (text) offset and length.
  const uint64_t perRecord = keyLength + 24 + (run->variable ? 2 + (run->wideOffsets ? 8 : 4) : 0);
  uint64_t records;
  uint64_t bufferBytes;
  if (run->variable) {
    const uint64_t average = n > 0 && run->input.size / n > 2 ? run->input.size / n : 2;
    bufferBytes = available * average / (average + perRecord);
    records = (available - bufferBytes) / perRecord;
  } else {
    records = available / (recordLength + perRecord);
    bufferBytes = 0;
  }
  if (gTestPartRecords != 0) records = gTestPartRecords;
  records = records / kSortGroupSize * kSortGroupSize;
  if (records < kSortGroupSize) records = kSortGroupSize;
  if (records > RoundUp(n, kSortGroupSize)) records = RoundUp(n, kSortGroupSize);
  if (!run->variable && records * recordLength > kLargestPartBuffer) {
    records = kLargestPartBuffer / recordLength / kSortGroupSize * kSortGroupSize;
  }
  if (run->variable) {
    if (gTestPartRecords != 0) bufferBytes = records * (run->input.size / (n > 0 ? n : 1) + 2) * 2;
    if (bufferBytes < 4 * (uint64_t{kLongestRecordSpan} + 2)) bufferBytes = 4 * (uint64_t{kLongestRecordSpan} + 2);
    if (bufferBytes > kLargestPartBuffer) bufferBytes = kLargestPartBuffer;
  } else {
    bufferBytes = records * recordLength;
  }
  ext->partRecords = static_cast<uint32_t>(records);
  ext->bufferSize = static_cast<size_t>(bufferBytes);
  ext->readSize = kMergeReadSize > 2 * longestEntry ? kMergeReadSize : 2 * longestEntry;
  uint64_t fanIn = available / ext->readSize;
  if (gTestFanIn != 0) fanIn = gTestFanIn;
  ext->fanIn = static_cast<uint32_t>(fanIn < 2 ? 2 : fanIn > kMostFanIn ? kMostFanIn : fanIn);
  ext->runCapacity = static_cast<uint32_t>((n + records - 1) / records);

  ext->part = static_cast<SortRunState *>(AllocateZeroed(1, sizeof(SortRunState)));
  ext->buffer = static_cast<unsigned char *>(AllocateZeroed(ext->bufferSize, 1));
  ext->runs = static_cast<OutputFile *>(AllocateZeroed(ext->runCapacity, sizeof(OutputFile)));
  ext->writerBuffers = static_cast<unsigned char *>(AllocateZeroed(2, kWriterBuffer));
  if (ext->part == nullptr || ext->buffer == nullptr || ext->runs == nullptr || ext->writerBuffers == nullptr) return 2;
  for (uint32_t r = 0; r < ext->runCapacity; r++) ext->runs[r].handle = -1;
  SortRunState *part = ext->part;
  part->input.handle = -1;
  if (AllocateWorkspace(&part->ws, ext->partRecords, &run->job, run->wideOffsets) != 0) return 2;
  part->ws.uncountedMerge = true;
  const uint64_t partPhase = part->ws.allocatedMemoryUsage + ext->bufferSize + 2 * kWriterBuffer;
  const uint64_t groups = (n + kSortGroupSize - 1) / kSortGroupSize;
  const uint64_t mergePhase = uint64_t{ext->fanIn} * (ext->readSize + sizeof(RunReader) + 12) + 2 * kWriterBuffer +
                              groups * 22;
  *figure = 2 * uint64_t{run->bufferSize} + (partPhase > mergePhase ? partPhase : mergePhase);
  return 0;
}

// ---- Parts and the run files they make.

// The part workspace set up for count records, as AllocateWorkspace leaves one.
static void ResetPartWorkspace(SortWorkspace *ws, uint32_t count) {
  ws->recordCount = count;
  ws->groupCount = (count + kSortGroupSize - 1) / kSortGroupSize;
  for (uint32_t g = 0; g < ws->groupCount; g++) ws->groupSizes[g] = kSortGroupSize;
  if (count % kSortGroupSize != 0) ws->groupSizes[ws->groupCount - 1] = static_cast<uint16_t>(count % kSortGroupSize);
  for (uint32_t i = 0; i < count; i++) ws->keyPointers[i] = i;
}

// Writes the sorted part to a new run file: per record its key, its index in the input
// and the record (text: its length in two bytes, then its bytes).
static int WriteRunFile(SortRunState *run, uint32_t firstRecord) {
  ExternalSort *ext = run->externalSort;
  const SortRunState *part = ext->part;
  const SortWorkspace *ws = &part->ws;
  OutputFile *file = &ext->runs[ext->runCount];
  if (CreateRunFile(ext->folder, file) != 0) {
    FailWithName(run, kCannotCreateTemporary, ext->folder);
    return 1;
  }
  ext->runCount++;
  free(file->buffer);  // the writer's own buffers serve instead
  file->buffer = nullptr;
  const uint64_t keyLength = ws->keyLength;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  SequentialWriter writer;
  StartWriter(&writer, file, ext->writerBuffers);
  for (uint32_t k = 0; k < ws->recordCount && writer.failed == 0; k++) {
    if (k + kGatherAhead < ws->recordCount) {  // the part is gathered in key order: ask for what comes soon
      const uint32_t ahead = ws->outputOrder[k + kGatherAhead];
      __builtin_prefetch(ws->keyArray + ahead * keyLength);
      const unsigned char *record =
          part->input.bytes + (run->variable ? RecordOffset(ws, ahead) : ahead * recordLength);
      __builtin_prefetch(record);
      __builtin_prefetch(record + (run->variable ? ws->recordLengths[ahead] : recordLength) - 1);
    }
    const uint32_t i = ws->outputOrder[k];
    const uint32_t index = firstRecord + i;
    Put(&writer, ws->keyArray + i * keyLength, keyLength);
    Put(&writer, &index, kIndexBytes);
    if (run->variable) {
      const uint16_t length = ws->recordLengths[i];
      Put(&writer, &length, sizeof length);
      Put(&writer, part->input.bytes + RecordOffset(ws, i), length);
    } else {
      Put(&writer, part->input.bytes + i * recordLength, recordLength);
    }
  }
  file->written = FinishWriter(&writer);
  if (file->written == UINT64_MAX) {
    FailWithName(run, kCannotWriteTemporary, file->name);
    return 1;
  }
  return 0;
}

// Keys, sorts and writes the part in the part buffer: count records, the first of them
// record firstRecord of the input. The part's own phases report no progress.
static int SortPart(SortRunState *run, uint32_t count, uint32_t firstRecord) {
  SortRunState *part = run->externalSort->part;
  ResetPartWorkspace(&part->ws, count);
  const SortProgressFunction progress = SortProgress;
  SortProgress = nullptr;
  int keyed = run->variable && part->tally.recordCount != count;  // text: scanned by the caller
  if (keyed == 0) keyed = BuildKeys(part);
  uint32_t mergeStart = 0;
  const int sorted = keyed != 0 ? 0 : SortGroups(&part->ws, run->statistics, &mergeStart, part->pool);
  SortProgress = progress;
  if (keyed != 0) {
    FailWithName(run, kInputChanged, run->job.inputName);
    return 1;
  }
  if (sorted != 0) {
    Fail(run, kSequenceError);
    return 1;
  }
  return WriteRunFile(run, firstRecord);
}

// Pass 0 of the part's text (part->input), its progress reports muted. Returns the scan result.
static int ScanPart(SortRunState *part) {
  const SortProgressFunction progress = SortProgress;
  SortProgress = nullptr;
  const int result = ScanInput(part);
  SortProgress = progress;
  return result;
}

// Ends the scanned part after its first take records (fewer than it holds): cuts its input
// just after the delimiter that ends record take, and its ranges of pass 0 with it.
// Returns the part's new length.
static size_t EndPartAfter(SortRunState *part, uint32_t take) {
  uint64_t stop;
  if (part->scanRanges == 0) {
    stop = EndOfRecords(part->input.bytes, 0, part->input.size, DelimiterMode, take);
  } else {
    uint32_t r = 0;
    uint32_t before = 0;  // records in the ranges before range r
    while (before + part->scanRecords[r] < take) before += part->scanRecords[r++];
    stop = EndOfRecords(part->input.bytes, part->scanStarts[r], part->scanStarts[r + 1], DelimiterMode, take - before);
    part->scanRecords[r] = take - before;
    part->scanStarts[r + 1] = stop;
    part->scanRanges = r + 1;
  }
  part->input.size = stop;
  part->tally.recordCount = take;
  return static_cast<size_t>(stop);
}

static int WriteFixedRuns(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  SortRunState *part = ext->part;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  const uint32_t n = run->recordCount;
  for (uint32_t first = 0; first < n; first += ext->partRecords) {
    const uint32_t count = n - first < ext->partRecords ? n - first : ext->partRecords;
    const uint64_t offset = first * recordLength;
    if (ReadInputWhole(run, ext->buffer, count * recordLength, offset) != 0) return 1;
    part->input.bytes = ext->buffer;
    part->input.size = count * recordLength;
    part->inputBase = offset;
    if (SortPart(run, count, first) != 0) return 1;
    ReportProgress(kPhaseWritingRuns, offset + part->input.size, run->input.size);
  }
  return 0;
}

// Text: the buffer is filled from the input, cut after its last delimiter, and the part
// takes the whole sort groups of records that begin before the cut (all of them at the
// end of the file). What follows the part moves to the buffer's front for the next.
static int WriteTextRuns(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  SortRunState *part = ext->part;
  const uint64_t size = run->input.size;
  uint64_t base = 0;  // the file offset of buffer[0]
  size_t have = 0;
  uint64_t done = 0;  // records written to run files
  for (;;) {
    const size_t want = base + ext->bufferSize < size ? ext->bufferSize : static_cast<size_t>(size - base);
    if (want > have && ReadInputWhole(run, ext->buffer + have, want - have, base + have) != 0) return 1;
    have = want;
    const bool atEnd = base + have == size;
    if (have == 0) break;
    size_t cut = atEnd ? have : AfterLastDelimiter(ext->buffer, have, DelimiterMode);
    if (cut == 0 && !atEnd) cut = CutWithoutDelimiter(ext->buffer, have);
    // Pass 0 over the buffer up to the cut, in ranges on the pool when there is one; its
    // ranges then serve the keys of the part.
    part->input.bytes = ext->buffer;
    part->input.size = cut;
    part->inputBase = base;
    part->scanRanges = 0;
    if (cut > 0 && ScanPart(part) != kScanGood) break;  // pass 0 found no error here: the input changed
    const uint32_t found = cut > 0 ? part->tally.recordCount : 0;
    uint32_t take = atEnd ? found : found / kSortGroupSize * kSortGroupSize;
    if (take > ext->partRecords) take = ext->partRecords;
    if (take == 0 && atEnd) break;
    if (take == 0 && found == 0 && cut > 0) {  // line breaks alone: nothing to keep
      base += cut;
      have -= cut;
      memmove(ext->buffer, ext->buffer + cut, have);
      continue;
    }
    if (take == 0) {
      // Fewer than 997 records fill the buffer (lines with long runs of stray line breaks):
      // a larger buffer, past the budget for this input's sake.
      if (GrowBuffer(&ext->buffer, &ext->bufferSize, have) != 0) {
        Fail(run, kMemoryError);
        return 1;
      }
      continue;
    }
    if (done + take > run->recordCount) break;
    const size_t stop = take < found ? EndPartAfter(part, take) : cut;
    if (SortPart(run, take, static_cast<uint32_t>(done)) != 0) return 1;
    done += take;
    memmove(ext->buffer, ext->buffer + stop, have - stop);
    base += stop;
    have -= stop;
    ReportProgress(kPhaseWritingRuns, base, size);
  }
  if (done != run->recordCount) {
    FailWithName(run, kInputChanged, run->job.inputName);
    return 1;
  }
  return 0;
}

// ---- Merging run files.

// Makes the head entry of the reader whole in its window, or marks it done. Returns 0, or 1
// when the file could not be read or ends inside an entry.
static int LoadHead(const ExternalSort *ext, RunReader *reader, uint64_t keyLength, bool variable,
                    uint64_t recordLength) {
  if (reader->start == reader->end && reader->offset == reader->size) {
    reader->done = true;
    reader->prefix = kExhausted;
    return 0;
  }
  size_t need = ext->entryHead + (variable ? 2 : recordLength);
  for (int round = 0; round < 2; round++) {
    if (reader->end - reader->start < need) {
      memmove(reader->buffer, reader->buffer + reader->start, reader->end - reader->start);
      reader->end -= reader->start;
      reader->start = 0;
      while (reader->end < need && reader->offset < reader->size) {
        const int64_t got = ReadRunFile(reader->file, reader->buffer + reader->end, reader->capacity - reader->end,
                                        reader->offset);
        if (got <= 0) return 1;
        reader->end += static_cast<size_t>(got);
        reader->offset += static_cast<uint64_t>(got);
      }
      if (reader->end < need) return 1;
    }
    if (!variable) break;
    uint16_t length;
    memcpy(&length, reader->buffer + reader->start + ext->entryHead, sizeof length);
    need = ext->entryHead + 2 + length;
  }
  reader->headLength = need;
  reader->prefix = KeyPrefix(reader->buffer + reader->start, static_cast<uint32_t>(keyLength));
  return 0;
}

static inline bool HeadBefore(const ExternalSort *ext, uint64_t keyLength, uint32_t a, uint32_t b) {
  const RunReader *ra = &ext->readers[a];
  const RunReader *rb = &ext->readers[b];
  if (ra->done || rb->done) return !ra->done || (rb->done && a < b);
  if (ra->prefix != rb->prefix) return ra->prefix < rb->prefix;
  if (keyLength > 8) {
    const int order = memcmp(ra->buffer + ra->start + 8, rb->buffer + rb->start + 8, keyLength - 8);
    if (order != 0) return order < 0;
  }
  return a < b;  // equal keys: the earlier run file
}

// The count's step for a reference of group g emitted next (mergecount.cpp's rule).
static void CountEmitted(MergeCount *c, uint32_t g) {
  const uint64_t p = ++c->position;
  while (c->depth > 0 && c->stackGroup[c->depth - 1] >= g) c->depth--;
  const uint64_t prevLower = c->depth > 0 ? c->stackPosition[c->depth - 1] : 0;
  c->stackPosition[c->depth] = p;
  c->stackGroup[c->depth] = g;
  c->depth++;
  const uint64_t from = c->prevSame[g] > prevLower ? c->prevSame[g] : prevLower;
  if (c->firstUnfinished < g) c->total += p - from;  // else no lower group comes later: nothing counted
  c->prevSame[g] = p;
  c->remaining[g]--;
  while (c->firstUnfinished < c->groupCount && c->remaining[c->firstUnfinished] == 0) c->firstUnfinished++;
}

// Merges run files runs[0, count) into target, or into the output when target is null.
// Returns 0, or 1 after writing the message.
static int MergeRunFiles(SortRunState *run, OutputFile *runs, uint32_t count, OutputFile *target,
                         uint64_t progressBase, uint64_t progressTotal) {
  ExternalSort *ext = run->externalSort;
  const uint64_t keyLength = run->plan.keyLength;
  const uint64_t recordLength = run->variable ? 0 : static_cast<uint64_t>(run->job.recordLength);
  for (uint32_t r = 0; r < count; r++) {
    RunReader *reader = &ext->readers[r];
    reader->file = &runs[r];
    reader->size = runs[r].written;
    reader->offset = 0;
    reader->start = reader->end = 0;
    reader->done = false;
    if (LoadHead(ext, reader, keyLength, run->variable, recordLength) != 0) {
      FailWithName(run, kCannotReadTemporary, runs[r].name);
      return 1;
    }
  }
  // The loser tree: leaves count + r, inner nodes 1 to count - 1, each keeping its match's loser.
  auto entrant = [&](uint32_t node) { return node >= count ? node - count : ext->winners[node]; };
  for (uint32_t node = count - 1; node >= 1; node--) {
    const uint32_t left = entrant(2 * node), right = entrant(2 * node + 1);
    const bool rightWins = HeadBefore(ext, keyLength, right, left);
    ext->winners[node] = rightWins ? right : left;
    ext->losers[node] = rightWins ? left : right;
  }
  uint32_t winner = entrant(1);
  static const unsigned char kCrLf[2] = {kCr, kLf};
  SequentialWriter writer;
  StartWriter(&writer, target != nullptr ? target : &run->output, ext->writerBuffers);
  uint64_t emitted = 0;
  int readFailed = 0;
  while (!ext->readers[winner].done && writer.failed == 0) {
    RunReader *reader = &ext->readers[winner];
    const unsigned char *head = reader->buffer + reader->start;
    if (target != nullptr) {
      Put(&writer, head, reader->headLength);
    } else {
      uint32_t index;
      memcpy(&index, head + keyLength, kIndexBytes);
      CountEmitted(&ext->count, index / kSortGroupSize);
      const unsigned char *record = head + ext->entryHead;
      if (run->variable) {
        Put(&writer, record + 2, reader->headLength - ext->entryHead - 2);
        Put(&writer, kCrLf, sizeof kCrLf);
      } else {
        Put(&writer, record, recordLength);
      }
    }
    reader->start += reader->headLength;
    if (LoadHead(ext, reader, keyLength, run->variable, recordLength) != 0) {
      readFailed = 1;
      break;
    }
    for (uint32_t node = (winner + count) >> 1; node >= 1; node >>= 1) {
      if (HeadBefore(ext, keyLength, ext->losers[node], winner)) {
        const uint32_t swap = ext->losers[node];
        ext->losers[node] = winner;
        winner = swap;
      }
    }
    if (++emitted % kProgressInterval == 0) ReportProgress(kPhaseMergingRuns, progressBase + emitted, progressTotal);
  }
  const uint64_t written = FinishWriter(&writer);
  if (readFailed) {
    FailWithName(run, kCannotReadTemporary, ext->readers[winner].file->name);
    return 1;
  }
  if (target != nullptr) {
    target->written = written;
    if (written == UINT64_MAX) {
      FailWithName(run, kCannotWriteTemporary, target->name);
      return 1;
    }
  } else if (written == UINT64_MAX) {
    run->output.failed = 1;
    FailWithName(run, kWriteError, run->job.outputName);
    return 1;
  }
  return 0;
}

// Merge passes while there are more run files than one merge takes: each fanIn consecutive
// run files into one, so that the earlier run files still hold the earlier groups.
static int MergeDown(SortRunState *run, uint64_t *progressBase, uint64_t progressTotal) {
  ExternalSort *ext = run->externalSort;
  while (ext->runCount > ext->fanIn) {
    const uint32_t count = (ext->runCount + ext->fanIn - 1) / ext->fanIn;
    ext->merged = static_cast<OutputFile *>(AllocateZeroed(count, sizeof(OutputFile)));
    if (ext->merged == nullptr) {
      Fail(run, kMemoryError);
      return 1;
    }
    for (uint32_t j = 0; j < count; j++) ext->merged[j].handle = -1;
    for (uint32_t j = 0; j < count; j++) {
      if (CreateRunFile(ext->folder, &ext->merged[j]) != 0) {
        FailWithName(run, kCannotCreateTemporary, ext->folder);
        return 1;
      }
      ext->mergedCount = j + 1;
      free(ext->merged[j].buffer);  // the writer's own buffers serve instead
      ext->merged[j].buffer = nullptr;
      const uint32_t first = j * ext->fanIn;
      const uint32_t last = first + ext->fanIn < ext->runCount ? first + ext->fanIn : ext->runCount;
      if (MergeRunFiles(run, ext->runs + first, last - first, &ext->merged[j], *progressBase, progressTotal) != 0) {
        return 1;
      }
      for (uint32_t r = first; r < last; r++) RemoveRunFile(&ext->runs[r]);  // their room goes back at once
    }
    *progressBase += run->recordCount;
    free(ext->runs);
    ext->runs = ext->merged;
    ext->runCount = count;
    ext->merged = nullptr;
    ext->mergedCount = 0;
  }
  return 0;
}

int SortExternally(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  SortRunState *part = ext->part;
  part->job = run->job;
  part->variable = run->variable;
  part->bufferSize = run->bufferSize;
  part->recordBuffer = run->recordBuffer;
  part->plan = run->plan;
  part->pool = RunPool(run);
  part->threads = run->threads;
  const uint32_t groupCount = (run->recordCount + kSortGroupSize - 1) / kSortGroupSize;
  if (run->statistics != nullptr) WriteStatisticsGroupLines(run->statistics, groupCount);
  run->t[1] = ElapsedMilliseconds();
  ReportProgress(kPhaseWritingRuns, 0, run->input.size);
  if ((run->variable ? WriteTextRuns(run) : WriteFixedRuns(run)) != 0) return 1;
  if (InputFileChanged(&run->input)) {
    FailWithName(run, kInputChanged, run->job.inputName);
    return 1;
  }
  // The part's memory goes before the merges take theirs.
  ReleaseWorkspace(&part->ws);
  free(ext->buffer);
  ext->buffer = nullptr;
  run->t[2] = ElapsedMilliseconds();

  ext->readers = static_cast<RunReader *>(AllocateZeroed(ext->fanIn, sizeof(RunReader)));
  ext->losers = static_cast<uint32_t *>(AllocateZeroed(ext->fanIn, sizeof(uint32_t)));
  ext->winners = static_cast<uint32_t *>(AllocateZeroed(ext->fanIn, sizeof(uint32_t)));
  MergeCount *c = &ext->count;
  c->groupCount = groupCount;
  c->prevSame = static_cast<uint64_t *>(AllocateZeroed(groupCount, sizeof(uint64_t)));
  c->stackPosition = static_cast<uint64_t *>(AllocateZeroed(groupCount, sizeof(uint64_t)));
  c->stackGroup = static_cast<uint32_t *>(AllocateZeroed(groupCount, sizeof(uint32_t)));
  c->remaining = static_cast<uint16_t *>(AllocateZeroed(groupCount, sizeof(uint16_t)));
  bool allocated = ext->readers != nullptr && ext->losers != nullptr && ext->winners != nullptr &&
                   c->prevSame != nullptr && c->stackPosition != nullptr && c->stackGroup != nullptr &&
                   c->remaining != nullptr;
  for (uint32_t r = 0; allocated && r < ext->fanIn; r++) {
    ext->readers[r].capacity = ext->readSize;
    ext->readers[r].buffer = static_cast<unsigned char *>(AllocateZeroed(ext->readSize, 1));
    allocated = ext->readers[r].buffer != nullptr;
  }
  if (!allocated) {
    Fail(run, kMemoryError);
    return 1;
  }
  for (uint32_t g = 0; g < groupCount; g++) c->remaining[g] = kSortGroupSize;
  if (run->recordCount % kSortGroupSize != 0) c->remaining[groupCount - 1] = run->recordCount % kSortGroupSize;

  uint32_t passes = 1;
  for (uint64_t files = ext->runCount; files > ext->fanIn; files = (files + ext->fanIn - 1) / ext->fanIn) passes++;
  const uint64_t progressTotal = uint64_t{passes} * run->recordCount;
  uint64_t progressBase = 0;
  ReportProgress(kPhaseMergingRuns, 0, progressTotal);
  if (MergeDown(run, &progressBase, progressTotal) != 0) return 1;
  run->t[3] = ElapsedMilliseconds();
  if (MergeRunFiles(run, ext->runs, ext->runCount, nullptr, progressBase, progressTotal) != 0) return 1;
  MergeCompares = c->total;
  return 0;
}

void ReleaseExternalSort(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  if (ext == nullptr) return;
  if (ext->part != nullptr) ReleaseWorkspace(&ext->part->ws);
  free(ext->part);
  free(ext->buffer);
  free(ext->writerBuffers);
  for (uint32_t r = 0; ext->runs != nullptr && r < ext->runCount; r++) RemoveRunFile(&ext->runs[r]);
  for (uint32_t r = 0; ext->merged != nullptr && r < ext->mergedCount; r++) RemoveRunFile(&ext->merged[r]);
  free(ext->runs);
  free(ext->merged);
  for (uint32_t r = 0; ext->readers != nullptr && r < ext->fanIn; r++) free(ext->readers[r].buffer);
  free(ext->readers);
  free(ext->losers);
  free(ext->winners);
  free(ext->count.prevSame);
  free(ext->count.stackPosition);
  free(ext->count.stackGroup);
  free(ext->count.remaining);
  free(ext);
  run->externalSort = nullptr;
}
