#include "engine/runparts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/groupsort.h"
#include "engine/runpath.h"
#include "engine/seqwriter.h"


static const uint32_t kGatherAhead = 16;   // records ahead that a run file's gathering asks for

int ScanInputInBlocks(SortRunState *run) {
  TextBlock block = {static_cast<unsigned char *>(AllocateZeroed(FirstScanBlock(), 1)), FirstScanBlock(), 0, 0, 0, false, false};
  if (block.bytes == nullptr) return kScanNoMemory;
  // Each block is scanned as a mapped input is, in ranges on the run's pool.
  PhaseInput scan;
  memset(&scan, 0, sizeof scan);
  scan.pool = RunPool(run);
  scan.threads = run->options.threads;
  uint64_t records = 0;
  int longest = 0;
  int result = kScanGood;
  int refill;
  while (result == kScanGood && (refill = RefillTextBlock(&block, &run->input, DelimiterMode)) != kBlockEnded) {
    if (refill != kBlockCut) {
      result = refill == kBlockNoMemory ? kScanNoMemory : kScanReadFailed;
      break;
    }
    scan.bytes = block.bytes;
    scan.size = block.cut;
    result = ScanInput(&scan);
    records += scan.tally.recordCount;
    longest = std::max(longest, scan.tally.longestRecord);
    TakeFromTextBlock(&block, block.cut);
  }
  free(block.bytes);
  if (result == kScanGood && records > UINT32_MAX) return kScanTooManyRecords;
  run->phase.tally.recordCount = static_cast<uint32_t>(records);
  run->phase.tally.longestRecord = longest;
  return result;
}

// Writes the sorted part to a new run file: per record its key, its index in the input
// when a report counts the merge, and the record (text: its length in two bytes, then its
// bytes).
static int WriteRunFile(SortRunState *run, uint32_t firstRecord) {
  ExternalSort *ext = run->externalSort;
  const PhaseInput *part = &ext->part;
  const SortWorkspace *ws = part->ws;
  RunFile *file = &ext->runs[ext->runCount];
  if (CreateRunFile(run->options.temporaryFolder, file) != 0) {
    FailWithName(run, kCannotCreateTemporary, run->options.temporaryFolder);
    return 1;
  }
  ext->runCount++;
  const uint64_t keyLength = ws->keyLength;
  const uint32_t indexBytes = ext->entryHead - ws->keyLength;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  SequentialWriter writer;
  StartRunFileWriter(&writer, file, ext->writerBuffers);
  for (uint32_t k = 0; k < ws->recordCount && writer.failed == 0; k++) {
    if (k + kGatherAhead < ws->recordCount) {  // the part is gathered in key order: ask for what comes soon
      const uint32_t ahead = ws->outputOrder[k + kGatherAhead];
      __builtin_prefetch(ws->keyArray + ahead * keyLength);
      const unsigned char *record = part->bytes + (run->variable ? RecordOffset(ws, ahead) : ahead * recordLength);
      __builtin_prefetch(record);
      __builtin_prefetch(record + (run->variable ? ws->recordLengths[ahead] : recordLength) - 1);
    }
    const uint32_t i = ws->outputOrder[k];
    const uint32_t index = firstRecord + i;
    Put(&writer, ws->keyArray + i * keyLength, keyLength);
    Put(&writer, &index, indexBytes);
    if (run->variable) {
      const uint16_t length = ws->recordLengths[i];
      Put(&writer, &length, sizeof length);
      Put(&writer, part->bytes + RecordOffset(ws, i), length);
    } else {
      Put(&writer, part->bytes + i * recordLength, recordLength);
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
// record firstRecord of the input. The part reports no progress of its own: the run
// reports the parts as a whole.
static int SortPart(SortRunState *run, uint32_t count, uint32_t firstRecord) {
  ExternalSort *ext = run->externalSort;
  PhaseInput *part = &ext->part;
  ResetGroups(part->ws, count);
  int keyed = run->variable && part->tally.recordCount != count;  // text: scanned by the caller
  if (keyed == 0) keyed = BuildKeys(part);
  uint32_t mergeStart = 0;
  const int sorted = keyed != 0 ? 0 : SortGroups(part->ws, run->statistics, &mergeStart, part->pool, nullptr);
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

// Reads count bytes at offset whole into the part buffer. Returns 0, or 1 after failing the run.
static int ReadFixedPart(SortRunState *run, size_t count, uint64_t offset) {
  unsigned char *bytes = run->externalSort->block.bytes;
  while (count > 0) {
    const int64_t got = ReadInputAt(&run->input, bytes, count, offset);
    if (got == 0) FailWithName(run, kInputChanged, run->job.inputName);  // the input ended before its size
    if (got < 0) FailInputRead(run);
    if (got <= 0) return 1;
    bytes += got;
    count -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return 0;
}

static int WriteFixedRuns(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  PhaseInput *part = &ext->part;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  const uint32_t n = run->recordCount;
  for (uint32_t first = 0; first < n; first += run->externalPlan.partRecords) {
    const uint32_t count = std::min(n - first, run->externalPlan.partRecords);
    const uint64_t offset = first * recordLength;
    if (ReadFixedPart(run, count * recordLength, offset) != 0) return 1;
    part->bytes = ext->block.bytes;
    part->size = count * recordLength;
    part->base = offset;
    if (SortPart(run, count, first) != 0) return 1;
    ReportProgress(run->options.progress, kPhaseWritingRuns, offset + part->size, run->input.size);
  }
  return 0;
}

// Ends the scanned part after its first take records (fewer than it holds): cuts its input
// just after the delimiter that ends record take, and its ranges of pass 0 with it.
// Returns the part's new length.
static size_t EndPartAfter(PhaseInput *part, uint32_t take) {
  ScanRanges *ranges = &part->ranges;
  uint64_t stop;
  if (ranges->count == 0) {
    stop = EndOfRecords(part->bytes, 0, part->size, DelimiterMode, take);
  } else {
    uint32_t r = 0;
    uint32_t before = 0;  // records in the ranges before range r
    while (before + ranges->records[r] < take) before += ranges->records[r++];
    stop = EndOfRecords(part->bytes, ranges->starts[r], ranges->starts[r + 1], DelimiterMode, take - before);
    ranges->records[r] = take - before;
    ranges->starts[r + 1] = stop;
    ranges->count = r + 1;
  }
  part->size = stop;
  part->tally.recordCount = take;
  return static_cast<size_t>(stop);
}

// A refill of the part buffer that did not cut it: the run fails with what went wrong.
static int FailRefill(SortRunState *run, int refill) {
  if (refill == kBlockNoMemory) {
    Fail(run, kMemoryError);
  } else {
    FailInputRead(run);
  }
  return 1;
}

// Text: the part buffer is filled from the input and cut after its last delimiter, and the
// part takes the whole sort groups of records that begin before the cut (all of them at the
// end of the file). What follows the part stays in the buffer for the next.
static int WriteTextRuns(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  PhaseInput *part = &ext->part;
  TextBlock *block = &ext->block;
  uint64_t done = 0;  // records written to run files
  for (int refill; (refill = RefillTextBlock(block, &run->input, DelimiterMode)) != kBlockEnded;) {
    if (refill != kBlockCut) return FailRefill(run, refill);
    // Pass 0 over the buffer up to the cut, in ranges on the pool when there is one; its
    // ranges then serve the keys of the part.
    part->bytes = block->bytes;
    part->size = block->cut;
    part->base = block->base;
    if (ScanInput(part) != kScanGood) break;  // pass 0 found no error here: the input changed
    const uint32_t found = part->tally.recordCount;
    const uint32_t take = std::min(block->atEnd ? found : found / kSortGroupSize * kSortGroupSize,
                                   run->externalPlan.partRecords);
    if (found == 0) {  // line breaks alone: nothing to keep
      TakeFromTextBlock(block, block->cut);
      continue;
    }
    if (take == 0) {  // fewer than 997 lines fill the buffer: a larger one, past the budget for this input's sake
      if (GrowTextBlock(block) != 0) return FailRefill(run, kBlockNoMemory);
      continue;
    }
    if (done + take > run->recordCount) break;
    const size_t stop = take < found ? EndPartAfter(part, take) : block->cut;
    if (SortPart(run, take, static_cast<uint32_t>(done)) != 0) return 1;
    done += take;
    TakeFromTextBlock(block, stop);
    ReportProgress(run->options.progress, kPhaseWritingRuns, block->base, run->input.size);
  }
  if (done != run->recordCount) {
    FailWithName(run, kInputChanged, run->job.inputName);
    return 1;
  }
  return 0;
}

int WriteRunFiles(SortRunState *run) {
  ReportProgress(run->options.progress, kPhaseWritingRuns, 0, run->input.size);
  return run->variable ? WriteTextRuns(run) : WriteFixedRuns(run);
}
