#include "engine/mergeinputs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/errortext.h"
#include "engine/runinput.h"
#include "engine/runmerge.h"
#include "engine/seqwriter.h"

static const char kOutOfOrder[] = "\n Record %llu at Byte %llu of %s Is Out of Key Order!\n";

static const uint64_t kReserve = uint64_t{6} << 20;        // the writer's buffers and the run's own
static const size_t kMostBlock = size_t{8} << 20;           // bytes of an input read at a time, at most
static const size_t kLeastTextBlock = 4 * (size_t{kLongestRecordSpan} + 2);  // a few of the longest lines

// One input read in sequence, its records cut and keyed a block at a time.
struct InputCursor {
  SortRunState *run;
  int number;              // which of the run's inputs
  InputFile file;
  bool opened;
  TextBlock block;         // its bytes not yet taken; fixed-length records: whole records
  size_t used;             // bytes of the block that the records keyed take
  PhaseInput phase;        // the block's records: scanned and keyed on the calling thread
  SortWorkspace ws;        // their keys, offsets and lengths
  uint32_t capacity;       // records ws holds
  uint32_t count;          // records keyed in the block
  uint32_t next;           // the next of them to take
  uint64_t records;        // the input's records before the block
  unsigned char *lastKey;  // the key of the record taken last (a check: of any input)
  bool hasLast;
};

// Keys compared and written without the offset or index that end a sort's keys.
static void PrepareMergePlan(SortRunState *run) {
  PrepareKeyPlan(run->job.keys, run->job.keyCount, run->job.recordLength, &run->options.keySettings, false,
                 run->invalidFields, &run->plan);
  run->plan.keyLength -= run->plan.offsetLength + run->plan.indexLength;
  run->plan.offsetLength = run->plan.indexLength = 0;
}

// Reads whole fixed-length records into the block until it is full or the input ends.
// Returns 0, or 1 once the run has failed.
static int ReadRecords(InputCursor *cursor) {
  TextBlock *block = &cursor->block;
  const uint64_t recordLength = static_cast<uint64_t>(cursor->run->job.recordLength);
  while (block->have < block->capacity && !block->ended) {
    const int64_t got = cursor->file.standardInput
                            ? ReadInputNext(&cursor->file, block->bytes + block->have, block->capacity - block->have)
                            : ReadInputAt(&cursor->file, block->bytes + block->have, block->capacity - block->have,
                                          block->base + block->have);
    if (got < 0) {
      FailWithName(cursor->run, kReadError, SourceName(cursor->run, cursor->number));
      return 1;
    }
    block->ended = got == 0;
    block->have += static_cast<size_t>(got);
  }
  if (block->ended && block->have % recordLength != 0) {
    FailWithName(cursor->run, kPartialRecord, SourceName(cursor->run, cursor->number));
    return 1;
  }
  cursor->used = block->have / recordLength * recordLength;
  cursor->count = static_cast<uint32_t>(block->have / recordLength);
  return 0;
}

// Cuts the next block of text into lines. Returns 0, or 1 once the run has failed.
static int ReadLines(InputCursor *cursor) {
  SortRunState *run = cursor->run;
  const char *name = SourceName(run, cursor->number);
  const int refill = RefillTextBlock(&cursor->block, &cursor->file, DelimiterMode);
  cursor->count = 0;
  if (refill == kBlockEnded) return 0;
  if (refill == kBlockNoMemory) Fail(run, kMemoryError);
  if (refill == kBlockReadFailed) FailWithName(run, kReadError, name);
  if (run->failed) return 1;
  cursor->phase.bytes = cursor->block.bytes;
  cursor->phase.size = cursor->block.cut;
  const int scan = ScanInput(&cursor->phase);
  if (scan == kScanDelimiterError) FailWithName(run, kDelimiterError, name);
  if (scan == kScanTooLong) FailWithName(run, kRecordTooLong, name);
  cursor->used = cursor->block.cut;
  cursor->count = cursor->phase.tally.recordCount;
  return run->failed;
}

// Takes the next block of the input and keys its records. Returns 0 (count 0 at the end of
// the input), or 1 once the run has failed.
static int KeyNextBlock(InputCursor *cursor) {
  SortRunState *run = cursor->run;
  cursor->records += cursor->count;
  TakeFromTextBlock(&cursor->block, cursor->used);
  cursor->used = 0;
  cursor->next = 0;
  if ((run->variable ? ReadLines(cursor) : ReadRecords(cursor)) != 0 || cursor->count == 0) return run->failed;
  if (cursor->count > cursor->capacity) {
    ReleaseWorkspace(&cursor->ws);
    cursor->capacity = std::max(cursor->count, 2 * cursor->capacity);
    if (AllocateWorkspace(&cursor->ws, cursor->capacity, &run->plan) != 0) {
      Fail(run, kMemoryError);
      return 1;
    }
  }
  ResetGroups(&cursor->ws, cursor->count);
  cursor->phase.bytes = cursor->block.bytes;
  cursor->phase.size = cursor->used;
  cursor->phase.base = cursor->block.base;
  if (BuildKeys(&cursor->phase) != 0) FailWithName(run, kReadError, SourceName(run, cursor->number));
  return run->failed;
}

// Holds record i of the block against the record taken before it: out of key order ends the
// run with its message. Returns 0, or 1 once the run has failed.
static int TakeRecord(InputCursor *cursor, uint32_t i) {
  SortRunState *run = cursor->run;
  const uint32_t t = run->plan.keyLength;
  const unsigned char *key = cursor->ws.keyArray + uint64_t{i} * t;
  const int order = cursor->hasLast ? memcmp(cursor->lastKey, key, t) : -1;
  if (order > 0 || (order == 0 && run->options.streams.action == kRunCheck && run->options.streams.unique)) {
    const uint64_t byte = cursor->block.base + (run->variable ? RecordOffset(&cursor->ws, i)
                                                               : uint64_t{i} * static_cast<uint64_t>(run->job.recordLength));
    AppendErrorFormat(kOutOfOrder, static_cast<unsigned long long>(cursor->records + i + 1),
                      static_cast<unsigned long long>(byte), SourceName(run, cursor->number));
    run->failed = 1;
    run->outOfOrder = 1;
    return 1;
  }
  memcpy(cursor->lastKey, key, t);
  cursor->hasLast = true;
  return 0;
}

// Opens input number of the run for a cursor with a block of blockSize bytes. Returns 0, or
// 1 once the run has failed.
static int OpenCursor(SortRunState *run, int number, size_t blockSize, unsigned char *lastKey, InputCursor *cursor) {
  memset(cursor, 0, sizeof *cursor);
  cursor->run = run;
  cursor->number = number;
  cursor->lastKey = lastKey;
  cursor->block.capacity = blockSize;
  cursor->block.bytes = static_cast<unsigned char *>(AllocateZeroed(blockSize, 1));
  cursor->phase.recordLength = run->job.recordLength;
  cursor->phase.ws = &cursor->ws;
  cursor->phase.plan = &run->plan;
  cursor->phase.threads = 1;
  cursor->phase.scratch = run->recordBuffer;
  cursor->phase.scratchSize = run->bufferSize;
  if (cursor->block.bytes == nullptr) {
    Fail(run, kMemoryError);
    return 1;
  }
  cursor->opened = OpenSource(run, number, &cursor->file) == 0;
  return run->failed;
}

static void CloseCursor(InputCursor *cursor) {
  if (cursor->opened) CloseInputFile(&cursor->file);
  free(cursor->block.bytes);
  ReleaseWorkspace(&cursor->ws);
  cursor->opened = false;
  cursor->block.bytes = nullptr;
}

// The block of each input: its share of the budget (a third of it), within bounds.
static size_t BlockSize(const SortRunState *run, int inputs) {
  const uint64_t available = run->options.memoryBudget - std::min(run->options.memoryBudget, kReserve);
  uint64_t size = std::clamp<uint64_t>(available / static_cast<uint64_t>(inputs) / 3, kLeastTextBlock, kMostBlock);
  if (!run->variable) size = std::max<uint64_t>(size / run->job.recordLength, 64) * run->job.recordLength;
  return static_cast<size_t>(size);
}

// Adds entries of the cursor's records to a merge reader's window (FillEntries).
static int64_t FillFromInput(RunReader *reader, unsigned char *bytes, size_t room) {
  InputCursor *cursor = static_cast<InputCursor *>(reader->source);
  const SortRunState *run = cursor->run;
  const uint32_t t = run->plan.keyLength;
  size_t filled = 0;
  for (;;) {
    if (cursor->next == cursor->count && (KeyNextBlock(cursor) != 0 || cursor->count == 0)) {
      return run->failed ? -1 : static_cast<int64_t>(filled);
    }
    const uint32_t i = cursor->next;
    const uint16_t length = run->variable ? cursor->ws.recordLengths[i] : 0;
    const size_t size = t + (run->variable ? 2 + size_t{length} : static_cast<size_t>(run->job.recordLength));
    if (filled + size > room) return static_cast<int64_t>(filled);
    if (TakeRecord(cursor, i) != 0) return -1;
    unsigned char *entry = bytes + filled;
    memcpy(entry, cursor->ws.keyArray + uint64_t{i} * t, t);
    if (run->variable) {
      memcpy(entry + t, &length, 2);
      memcpy(entry + t + 2, cursor->block.bytes + RecordOffset(&cursor->ws, i), length);
    } else {
      memcpy(entry + t, cursor->block.bytes + uint64_t{i} * static_cast<uint64_t>(run->job.recordLength),
             static_cast<size_t>(run->job.recordLength));
    }
    filled += size;
    cursor->next++;
  }
}

// The merge's readers, tree and buffers, one reader on each cursor. Returns 0, or 1 once the
// run has failed.
static int StartInputMerge(SortRunState *run, InputCursor *cursors, int inputs) {
  ExternalSort *ext = static_cast<ExternalSort *>(AllocateZeroed(1, sizeof(ExternalSort)));
  run->externalSort = ext;
  const uint32_t count = static_cast<uint32_t>(inputs);
  run->externalPlan.fanIn = count;
  const size_t longest = run->plan.keyLength + (run->variable ? 2 + kLongestRecordSpan : run->job.recordLength);
  const size_t window = std::max(2 * longest, BlockSize(run, inputs));
  if (ext != nullptr) {
    ext->entryHead = run->plan.keyLength;  // no report: no record index
    ext->readers = static_cast<RunReader *>(AllocateZeroed(count, sizeof(RunReader)));
    ext->losers = static_cast<uint32_t *>(AllocateZeroed(count, sizeof(uint32_t)));
    ext->winners = static_cast<uint32_t *>(AllocateZeroed(count, sizeof(uint32_t)));
    ext->writerBuffers = static_cast<unsigned char *>(AllocateZeroed(2, kWriterBuffer));
  }
  bool allocated = ext != nullptr && ext->readers != nullptr && ext->losers != nullptr && ext->winners != nullptr &&
                   ext->writerBuffers != nullptr;
  for (uint32_t r = 0; allocated && r < count; r++) {
    RunReader *reader = &ext->readers[r];
    reader->fill = FillFromInput;
    reader->source = &cursors[r];
    reader->name = SourceName(run, static_cast<int>(r));
    reader->capacity = window;
    reader->buffer = static_cast<unsigned char *>(AllocateZeroed(window, 1));
    allocated = reader->buffer != nullptr;
  }
  if (!allocated) Fail(run, kMemoryError);
  return run->failed;
}

// Opens every input on a cursor of its own, each with its own last key. Returns the cursors
// (to be closed and freed whatever happens), null when none could be had.
static InputCursor *OpenCursors(SortRunState *run, int inputs, unsigned char **lastKeys) {
  InputCursor *cursors = static_cast<InputCursor *>(AllocateZeroed(static_cast<size_t>(inputs), sizeof(InputCursor)));
  *lastKeys = static_cast<unsigned char *>(AllocateZeroed(static_cast<size_t>(inputs), run->plan.keyLength));
  if (cursors == nullptr || *lastKeys == nullptr) {
    Fail(run, kMemoryError);
    return cursors;
  }
  for (int s = 0; s < inputs && !run->failed; s++) {
    OpenCursor(run, s, BlockSize(run, inputs), *lastKeys + static_cast<size_t>(s) * run->plan.keyLength, &cursors[s]);
  }
  return cursors;
}

int MergeInputs(SortRunState *run, int (*openOutput)(SortRunState *run)) {
  PrepareMergePlan(run);
  const int inputs = run->options.streams.inputCount;
  unsigned char *lastKeys = nullptr;
  InputCursor *cursors = OpenCursors(run, inputs, &lastKeys);
  if (!run->failed && openOutput(run) == 0 && StartInputMerge(run, cursors, inputs) == 0) {
    MergeReadersIntoOutput(run, static_cast<uint32_t>(inputs));
  }
  for (int s = 0; cursors != nullptr && s < inputs; s++) CloseCursor(&cursors[s]);
  free(cursors);
  free(lastKeys);
  return run->failed;
}

int CheckInputs(SortRunState *run) {
  PrepareMergePlan(run);
  unsigned char *lastKey = static_cast<unsigned char *>(AllocateZeroed(run->plan.keyLength, 1));
  if (lastKey == nullptr) Fail(run, kMemoryError);
  bool hasLast = false;  // the inputs are held against each other as one
  for (int s = 0; s < run->options.streams.inputCount && !run->failed; s++) {
    InputCursor cursor;
    if (OpenCursor(run, s, BlockSize(run, 1), lastKey, &cursor) == 0) {
      cursor.hasLast = hasLast;
      while (KeyNextBlock(&cursor) == 0 && cursor.count > 0) {
        for (uint32_t i = 0; i < cursor.count && !run->failed; i++) TakeRecord(&cursor, i);
        if (run->failed) break;
      }
      hasLast = cursor.hasLast;
    }
    CloseCursor(&cursor);
  }
  free(lastKey);
  return run->failed;
}
