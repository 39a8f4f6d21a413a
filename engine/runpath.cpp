#include "engine/runpath.h"

#include <algorithm>

#include "engine/scanner.h"
#include "engine/workspace.h"

static const uint64_t kWideInput = uint64_t{1} << 32;          // inputs from this size on take 8-byte offsets
static const uint64_t kLargestMappedScan = uint64_t{1} << 33;  // text scanned in blocks from here: its count may pass 32 bits
static const uint64_t kPoolScratch = uint64_t{8} << 20;        // the pool's buffers of the output copy, at most
static const uint64_t kBudgetReserve = uint64_t{6} << 20;      // an external run's writer buffers and the pool's scratch
static const uint64_t kLeastPartBudget = uint64_t{1} << 20;    // what a part takes, at least
static const uint64_t kLargestPartBuffer = uint64_t{1} << 30;  // part buffers stay below this, offsets in 32 bits
static const size_t kScanBlock = size_t{8} << 20;              // bytes of the first block of a scan in blocks
static const size_t kMergeReadSize = size_t{256} << 10;        // each merged run file's window, at least
static const uint32_t kMostFanIn = 1024;                       // run files one merge takes, at most
static const uint32_t kEntryIndexBytes = 4;                    // a run entry's record index
static const uint64_t kSizingSample = uint64_t{2} * kMergeBatch * kSortGroupSize;  // a part large enough for every array

static_assert(kMinimumMemoryBudget >= kBudgetReserve + kLeastPartBudget, "the least budget leaves a part its room");

// Test seams: records per part and run files per merge, 0 for the budget's; the block
// scan's first block, 0 for kScanBlock; the size from which offsets are wide.
static uint32_t gTestPartRecords = 0;
static uint32_t gTestFanIn = 0;
static size_t gTestScanBlock = 0;
static uint64_t gWideFrom = kWideInput;

void SetExternalLimitsForTesting(uint32_t partRecords, uint32_t fanIn, size_t scanBlock) {
  gTestPartRecords = partRecords;
  gTestFanIn = fanIn;
  gTestScanBlock = scanBlock;
}

void SetWideOffsetsForTesting(uint64_t fromSize) { gWideFrom = fromSize != 0 ? fromSize : kWideInput; }

bool OffsetsAreWide(uint64_t inputSize) { return inputSize >= gWideFrom; }

size_t FirstScanBlock() { return gTestScanBlock != 0 ? gTestScanBlock : kScanBlock; }

uint64_t InMemoryBytes(const SortRunState *run, uint64_t n) {
  return WorkspaceBytes(n, &run->plan) + 2 * uint64_t{run->bufferSize} + kOutputBufferSize +
         kPoolScratch + run->input.size;
}

bool MapsForScan(const SortRunState *run) {
  const uint64_t size = run->input.size;
  return gTestPartRecords == 0 && size <= run->options.memoryBudget && size < kLargestMappedScan;
}

static uint64_t RoundUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

// Records per part, whole groups, such that the part's arrays (WorkspaceBytes) and its
// buffer fit what the budget leaves; *buffer receives the buffer's bytes.
static uint64_t PartRecords(const SortRunState *run, uint64_t available, uint64_t *buffer) {
  const uint64_t n = run->recordCount;
  const uint64_t recordLength = run->variable ? 0 : static_cast<uint64_t>(run->job.recordLength);
  const uint64_t perRecord = (WorkspaceBytes(kSizingSample, &run->plan) + kSizingSample - 1) / kSizingSample;
  const uint64_t average = std::max<uint64_t>(run->input.size / n, 2);  // a text line's bytes
  uint64_t records = available / (recordLength + perRecord);
  if (run->variable) records = available / (average + perRecord);
  if (gTestPartRecords != 0) records = gTestPartRecords;
  records = std::clamp<uint64_t>(records / kSortGroupSize * kSortGroupSize, kSortGroupSize, RoundUp(n, kSortGroupSize));
  if (!run->variable) {  // the part buffer's offsets stay in 32 bits
    records = std::min(records, kLargestPartBuffer / recordLength / kSortGroupSize * kSortGroupSize);
    *buffer = records * recordLength;
    return records;
  }
  // Text: what the arrays leave, or with a test's part size room for its lines twice over;
  // no more than the input, and never less than a few of the longest lines (the buffer
  // grows for more).
  const uint64_t leastText = 4 * (uint64_t{kLongestRecordSpan} + 2);
  *buffer = gTestPartRecords != 0 ? records * (average + 2) * 2 : available - std::min(available, records * perRecord);
  *buffer = std::clamp(std::min(*buffer, run->input.size), leastText, kLargestPartBuffer);
  return records;
}

void ChooseRunPath(SortRunState *run) {
  const uint64_t n = run->recordCount;
  const uint64_t budget = run->options.memoryBudget;
  run->external = run->external || gTestPartRecords != 0 || InMemoryBytes(run, n) > budget;
  if (!run->external) return;
  ExternalPlan *plan = &run->externalPlan;
  const uint64_t available = budget - kBudgetReserve;
  uint64_t buffer = 0;
  const uint64_t records = PartRecords(run, available, &buffer);
  plan->partRecords = static_cast<uint32_t>(records);
  plan->partBuffer = static_cast<size_t>(buffer);
  const uint64_t entryHead = uint64_t{run->plan.keyLength} + kEntryIndexBytes;
  const uint64_t longestEntry = entryHead + (run->variable ? 2 + kLongestRecordSpan : run->job.recordLength);
  plan->readSize = static_cast<size_t>(std::max<uint64_t>(kMergeReadSize, 2 * longestEntry));
  const uint64_t fanIn = gTestFanIn != 0 ? gTestFanIn : available / plan->readSize;
  plan->fanIn = static_cast<uint32_t>(std::clamp<uint64_t>(fanIn, 2, kMostFanIn));
  plan->runCapacity = static_cast<uint32_t>((n + records - 1) / records);
}
