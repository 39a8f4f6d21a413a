#include "engine/sortrun.h"

#include <cstdlib>
#include <cstring>

#include "engine/errortext.h"
#include "engine/external.h"
#include "engine/groupsort.h"
#include "engine/keys.h"
#include "engine/merge.h"
#include "engine/runstate.h"
#include "os/platform.h"
#include "engine/scanner.h"
#include "engine/statreport.h"
#include "engine/workpool.h"

char StatisticsDirectory[kNameSize] = {'C', ':', kPathSeparator, 0};
SortProgressFunction SortProgress = nullptr;
int StatisticsWritten = 0;
int SortThreads = 0;

static const uint64_t kWideInput = uint64_t{1} << 32;          // inputs from this size on take 8-byte offsets
static const uint64_t kLargestMappedScan = uint64_t{1} << 33;  // text scanned in blocks from here: its count may pass 32 bits
static const uint64_t kBudgetWithoutMemorySize = uint64_t{1} << 30;  // the default when the memory size is unknown

uint64_t SortMemoryBudget = 0;
char TemporaryFolder[kNameSize] = {0};
int SortRanExternally = 0;
static uint64_t gWideFrom = kWideInput;  // test seam: input size from which offsets are wide

void SetWideOffsetsForTesting(uint64_t fromSize) { gWideFrom = fromSize != 0 ? fromSize : kWideInput; }

uint64_t DefaultMemoryBudget() {
  const uint64_t physical = PhysicalMemoryBytes();
  if (physical == 0) return kBudgetWithoutMemorySize;
  return physical / 2 > kMinimumMemoryBudget ? physical / 2 : kMinimumMemoryBudget;
}

const char kMemoryError[] = "\n Memory Allocation Error! Not Enough Memory\n";
static const char kCannotOpenInput[] = "\n Could NOT Open Input File: %s!\n";
static const char kDelimiterError[] = "\n Record Delimeter Error in: %s!\n";
static const char kRecordTooLong[] = "\n Found Record Length > 256 Bytes in: %s!\n";
static const char kLongestRecord[] = "\n Longest Variable Record Length  = %d\n";
static const char kPositionPastRecord[] = "\n Postion in %s Key > Variable Record Length!\n";
static const char kFieldPastRecord[] = "\n Postion + Length in %s Key > Variable Record Length!\n";
static const char kCannotOpenOutput[] = "\n Could NOT Open Output File: %s!\n";
static const char kTooFewRecords[] = "\n Only ONE Record in File - No Need to Sort!\n";
static const char kCannotOpenStatistics[] = "\n Could NOT Open Statistics File: %s!\n";
static const char kKeysTooLong[] = "\n Total Length of Keys Specified > Record Length!\n";
const char kSequenceError[] = "\n Sort FAILED - Sequence Error! Program Aborted! \n";
static const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";
static const char kInvalidJob[] = "\n Invalid Sort Parameters!\n";
static const char kTooManyRecords[] = "\n Too Many Records - 4,294,967,295 Limit: %s!\n";
const char kInputChanged[] = "\n Input File Changed During Sort: %s!\n";
const char kReadError[] = "\n Error Reading Input File: %s!\n";
const char kWriteError[] = "\n Error Writing Output File: %s!\n";
static const char kOutputIsInputFile[] = "\n Output File Is the Input File: %s!\n";
static const char kPartialRecord[] = "\n File Size NOT Equally Divisible by Record Length: %s!\n";

// The record and key buffers: 1 KiB up to records of this length (text lines too), and
// above it the record length rounded down to 16 bytes with room to spare.
static const int32_t kSmallRecordLimit = 1000;
static const uint32_t kSmallRecordBuffer = 1024;
static const uint32_t kRecordBufferAlignment = 16;
static const uint32_t kRecordBufferSlack = 32;

void Fail(SortRunState *run, const char *message) {
  AppendErrorText(message);
  run->failed = 1;
}

void FailWithName(SortRunState *run, const char *format, const char *name) {
  AppendErrorFormat(format, name);
  run->failed = 1;
}

// Bytes of the record buffer for a record length the job check accepted.
static uint32_t RecordBufferSize(int32_t recordLength) {
  if (recordLength == kVariableRecords || recordLength < kSmallRecordLimit) return kSmallRecordBuffer;
  const uint32_t length = static_cast<uint32_t>(recordLength);
  return length / kRecordBufferAlignment * kRecordBufferAlignment + kRecordBufferSlack;
}

// A job that any caller could hand over, a damaged parameter file included, is checked
// before anything is sized or opened: nothing below may read or write outside its buffers.
// Keys that add up to more than a fixed record are left to AllocateWorkspace.
static bool JobIsSafe(const ParameterRecord *job) {
  const bool variable = job->recordLength == kVariableRecords;
  if (!variable && (job->recordLength < 1 || job->recordLength > kMaxRecordLength)) return false;
  if (job->keyCount < 1 || job->keyCount > kMaxKeys) return false;
  int64_t total = variable ? kOffsetSuffixLength : 0;
  for (int k = 0; k < job->keyCount; k++) {
    const KeyField *key = &job->keys[k];
    if (key->position < 1 || key->length < 1) return false;
    if (strchr(variable ? "ca" : "caiuf", key->type) == nullptr || key->type == '\0') return false;
    if (key->sequence != 'a' && key->sequence != 'd') return false;
    if (key->type == 'f' && key->length != 4 && key->length != 8) return false;
    if (!variable && int64_t{key->position} + key->length - 1 > job->recordLength) return false;
    total += key->length;
  }
  return !variable || total <= static_cast<int64_t>(kSmallRecordBuffer);
}

int AllocateWorkspace(SortWorkspace *ws, uint32_t recordCount, const ParameterRecord *job, bool wideOffsets) {
  memset(ws, 0, sizeof *ws);
  const bool variable = job->recordLength == kVariableRecords;
  const uint64_t n = recordCount;
  uint32_t groupCount = recordCount / kSortGroupSize;
  uint32_t lastGroupSize = kSortGroupSize;
  if (recordCount % kSortGroupSize != 0) {
    groupCount++;
    lastGroupSize = recordCount % kSortGroupSize;
  }
  int64_t keyLength = 0;
  for (int k = 0; k < job->keyCount; k++) keyLength += job->keys[k].length;
  if (!variable && keyLength > job->recordLength) return 1;
  ws->recordCount = recordCount;
  ws->groupCount = groupCount;
  ws->groupSizes = static_cast<uint16_t *>(AllocateZeroed(groupCount, sizeof(uint16_t)));
  ws->keyPointers = static_cast<uint32_t *>(AllocateZeroed(n, sizeof(uint32_t)));
  ws->outputOrder = static_cast<uint32_t *>(AllocateZeroed(n, sizeof(uint32_t)));
  // Fixed-length offsets are i * record length: the run computes them instead of storing them.
  if (variable && wideOffsets) {
    ws->wideOffsets = static_cast<uint64_t *>(AllocateZeroed(n, sizeof(uint64_t)));
  } else if (variable) {
    ws->recordOffsets = static_cast<uint32_t *>(AllocateZeroed(n, sizeof(uint32_t)));
  }
  ws->mergeScratch = static_cast<uint64_t *>(AllocateZeroed(3 * uint64_t{groupCount}, sizeof(uint64_t)));
  ws->mergeTree = static_cast<MergeNode *>(AllocateZeroed(groupCount, sizeof(MergeNode)));
  ws->keyPrefixes = static_cast<uint64_t *>(AllocateZeroed(n, sizeof(uint64_t)));
  if (groupCount > kMergeBatch) ws->mergePrefixes = static_cast<uint64_t *>(AllocateZeroed(n, sizeof(uint64_t)));
  if (ws->groupSizes == nullptr || ws->keyPointers == nullptr ||
      ws->outputOrder == nullptr || (variable && ws->recordOffsets == nullptr && ws->wideOffsets == nullptr) ||
      ws->mergeScratch == nullptr ||
      ws->mergeTree == nullptr || ws->keyPrefixes == nullptr || (groupCount > kMergeBatch && ws->mergePrefixes == nullptr)) {
    return 2;
  }
  ws->allocatedMemoryUsage = 12 * n + 4 * uint64_t{groupCount};
  if (ws->wideOffsets != nullptr) ws->allocatedMemoryUsage += 4 * n;  // offsets of 8 bytes, not 4
  if (variable) keyLength += wideOffsets ? kWideOffsetSuffixLength : kOffsetSuffixLength;
  ws->keyLength = static_cast<uint32_t>(keyLength);
  ws->keyArray = static_cast<unsigned char *>(AllocateZeroed(n, static_cast<size_t>(keyLength)));
  if (ws->keyArray == nullptr) return 2;
  ws->allocatedMemoryUsage += n * static_cast<uint64_t>(keyLength);
  if (variable) {
    ws->recordLengths = static_cast<uint16_t *>(AllocateZeroed(n, sizeof(uint16_t)));
    if (ws->recordLengths == nullptr) return 2;
    ws->allocatedMemoryUsage += 2 * n;
  }
  for (uint32_t g = 0; g < groupCount; g++) ws->groupSizes[g] = kSortGroupSize;
  if (groupCount > 0) ws->groupSizes[groupCount - 1] = static_cast<uint16_t>(lastGroupSize);
  for (uint32_t i = 0; i < recordCount; i++) ws->keyPointers[i] = i;
  return 0;
}

void ReleaseWorkspace(SortWorkspace *ws) {
  free(ws->recordLengths);
  free(ws->keyArray);
  free(ws->outputOrder);
  free(ws->keyPointers);
  free(ws->groupSizes);
  free(ws->recordOffsets);
  free(ws->wideOffsets);
  free(ws->mergeScratch);
  free(ws->mergeTree);
  free(ws->keyPrefixes);
  free(ws->mergePrefixes);
  memset(ws, 0, sizeof *ws);
}

// A guarded read that faulted: the file was cut short under us, or the device failed.
static void FailMappedRead(SortRunState *run) {
  FailWithName(run, InputFileChanged(&run->input) ? kInputChanged : kReadError, run->job.inputName);
}

// Opens, scans (variable-length records) and checks the input, and chooses the path: in
// memory, the input mapped, when the run's arrays and the input fit the budget; external
// otherwise, the input read in sequence. Returns 0 to go on.
static int PrepareInput(SortRunState *run) {
  const char *inputName = run->job.inputName;
  if (OpenInputFile(inputName, &run->input) != 0) {
    FailWithName(run, kCannotOpenInput, inputName);
    return 1;
  }
  run->budget = SortMemoryBudget != 0 ? SortMemoryBudget : DefaultMemoryBudget();
  if (run->budget < kMinimumMemoryBudget) run->budget = kMinimumMemoryBudget;
  run->wideOffsets = run->input.size >= gWideFrom;
  const uint64_t size = run->input.size;
  if (ExternalForcedForTesting()) {
    run->external = true;
  } else if (run->variable) {
    run->external = size > run->budget || size >= kLargestMappedScan;
  } else {
    run->external = InMemoryBytes(run, size / static_cast<uint64_t>(run->job.recordLength)) > run->budget;
  }
  if (InputHasUnsizedContent(&run->input) || (!run->external && MapInputFile(&run->input) != 0)) {
    FailWithName(run, kReadError, inputName);
    return 1;
  }
  if (!run->variable) return 0;
  int scan = run->external ? ScanInputInBlocks(run) : RunGuarded(ScanInput, run);
  if (scan < 0) {
    FailMappedRead(run);
  } else if (scan == kScanDelimiterError) {
    FailWithName(run, kDelimiterError, inputName);
  } else if (scan == kScanTooLong) {
    FailWithName(run, kRecordTooLong, inputName);
  } else if (scan == kScanTooManyRecords) {
    FailWithName(run, kTooManyRecords, inputName);
  }
  if (!run->failed && !run->external && InMemoryBytes(run, run->tally.recordCount) > run->budget) {
    run->external = true;  // counted, it does not fit after all: read it in sequence instead
    UnmapInputFile(&run->input);
  }
  if (run->failed) return 1;
  const int longest = run->tally.longestRecord;
  AppendErrorFormat(kLongestRecord, longest);
  for (int k = 0; k < run->job.keyCount; k++) {
    const KeyField *key = &run->job.keys[k];
    if (key->position > longest) FailWithName(run, kPositionPastRecord, run->job.keyTitles[k]);
    if (int64_t{key->position} + key->length > int64_t{longest} + 8) {
      FailWithName(run, kFieldPastRecord, run->job.keyTitles[k]);
    }
  }
  return run->failed;
}

// Builds the keys, sorts, merges and writes the output; the workspace is allocated.
static void SortAndWrite(SortRunState *run) {
  if (run->external) {
    SortExternally(run);
    return;
  }
  SortWorkspace *ws = &run->ws;
  const char *inputName = run->job.inputName;
  int keyed = RunGuarded(BuildKeys, run);
  if (keyed < 0) {
    FailMappedRead(run);
    return;
  }
  if (keyed != 0 || InputFileChanged(&run->input)) {
    FailWithName(run, kInputChanged, inputName);
    return;
  }
  if (run->statistics != nullptr) WriteStatisticsGroupLines(run->statistics, ws->groupCount);
  run->t[1] = ElapsedMilliseconds();
  if (SortGroups(ws, run->statistics, &run->t[2], run->pool) != 0) {
    Fail(run, kSequenceError);
    return;
  }
  run->t[3] = ElapsedMilliseconds();
  if (InputFileChanged(&run->input)) {
    FailWithName(run, kInputChanged, inputName);
    return;
  }
  int written = RunGuarded(WriteOutput, run);
  if (written < 0) {
    FailMappedRead(run);
  } else if (written != 0) {
    FailWithName(run, kWriteError, run->job.outputName);
  } else if (InputFileChanged(&run->input)) {  // cut short after its last record was read
    FailWithName(run, kInputChanged, inputName);
  }
}

// The steps of a run. Each returns 0 to go on, or 1 once the run has failed (its message
// written); SortRun chains them, and Finish runs whatever came before it.

// Copies the job and starts the clock and the counts.
static void StartRun(SortRunState *run, const ParameterRecord *jobRecord) {
  memset(run, 0, sizeof *run);
  run->t[0] = ElapsedMilliseconds();
  run->input.handle = -1;
  run->job = *jobRecord;
  run->job.inputName[kNameSize - 1] = '\0';
  run->job.outputName[kNameSize - 1] = '\0';
  for (int k = 0; k < kMaxKeys; k++) run->job.keyTitles[k][kKeyTitleSize - 1] = '\0';
  SortCompares = 0;
  MergeCompares = 0;
  SequenceErrorFlag = 0;
  StatisticsWritten = 0;
  SortRanExternally = 0;
  run->variable = run->job.recordLength == kVariableRecords;
  run->statisticsFlag = run->job.statisticsFlag;
}

// Refuses a job that is not safe to run and allocates the record buffer.
static int CheckJob(SortRunState *run) {
  if (JobIsSafe(&run->job)) run->bufferSize = RecordBufferSize(run->job.recordLength);
  if (run->bufferSize == 0) {
    Fail(run, kInvalidJob);
  } else if ((run->recordBuffer = static_cast<unsigned char *>(AllocateZeroed(run->bufferSize, 1))) == nullptr) {
    Fail(run, kMemoryError);
  }
  return run->failed;
}

static int OpenOutput(SortRunState *run) {
  const int opened = OpenOutputFile(run->job.outputName, &run->input, &run->output);
  if (opened == kOutputIsInput) {
    FailWithName(run, kOutputIsInputFile, run->job.outputName);
  } else if (opened != kOutputOpened) {
    FailWithName(run, kCannotOpenOutput, run->job.outputName);
  } else {
    run->outputOpen = true;
    WatchInterrupts(&run->output);
  }
  return run->failed;
}

// n: the whole records of a fixed-length input, or pass 0's count of a text input.
static int CountRecords(SortRunState *run) {
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  const uint64_t n = run->variable ? run->tally.recordCount : run->input.size / recordLength;
  if (n < 2) {
    Fail(run, kTooFewRecords);
  } else if (n > UINT32_MAX) {
    FailWithName(run, kTooManyRecords, run->job.inputName);
  } else if (!run->variable && run->input.size % recordLength != 0) {
    // A part record at the end (the file grew since it was checked): sorting the whole
    // records alone would silently drop its bytes.
    FailWithName(run, kPartialRecord, run->job.inputName);
  } else {
    run->recordCount = static_cast<uint32_t>(n);
  }
  return run->failed;
}

// Opens the statistics report when the job asks for one; a report that cannot be opened
// is told, and the run goes on without it.
static void OpenReport(SortRunState *run) {
  if (run->statisticsFlag != 1) return;
  run->statistics = OpenStatisticsFile(StatisticsDirectory, &run->input, &run->output);
  if (run->statistics == nullptr) {
    AppendErrorFormat(kCannotOpenStatistics, kStatisticsFileName);
    run->statisticsFlag = 0;
  }
}

// Allocates the workspace (or the external sort's parts and merges) and writes the
// report's header, which tells what it takes.
static int Allocate(SortRunState *run) {
  PrepareKeyPlan(run->job.keys, run->job.keyCount, run->variable, &run->plan, run->wideOffsets);
  uint64_t figure = 0;
  int allocated = 0;
  if (run->external) {
    // The key lengths' check comes first, as in memory.
    int64_t keyLength = 0;
    for (int k = 0; k < run->job.keyCount; k++) keyLength += run->job.keys[k].length;
    allocated = !run->variable && keyLength > run->job.recordLength ? 1 : PlanExternalSort(run, &figure);
    SortRanExternally = 1;
  } else {
    allocated = AllocateWorkspace(&run->ws, run->recordCount, &run->job, run->wideOffsets);
    figure = 2 * uint64_t{run->bufferSize} + run->ws.allocatedMemoryUsage;
  }
  if (allocated == 1) {
    Fail(run, kKeysTooLong);
  } else if (allocated == 2) {
    Fail(run, kMemoryError);
  } else if (run->statistics != nullptr) {
    ReportHeader header;
    ReadLocalTime(&header.time);
    header.job = &run->job;
    header.recordCount = run->recordCount;
    header.allocatedMemoryUsage = figure;
    WriteStatisticsHeader(run->statistics, &header);
  }
  return run->failed;
}

// Releases everything, closes the files (emptying the output of a failed run), writes the
// report's footer after a run that did not fail, and returns the run's result.
static int Finish(SortRunState *run) {
  ReleaseWorkspace(&run->ws);
  ReleaseExternalSort(run);
  StopWorkPool(run->pool);
  CloseInputFile(&run->input);
  // An interrupt empties the output until its last byte is written, and never after.
  if (run->outputOpen && !run->failed) FlushOutputFile(&run->output);
  StopWatchingInterrupts();
  if (run->outputOpen && CloseOutputFile(&run->output, !run->failed) != 0 && !run->failed) {
    FailWithName(run, kWriteError, run->job.outputName);
  }
  free(run->recordBuffer);
  run->t[4] = ElapsedMilliseconds();
  if (run->statistics != nullptr) {
    if (run->statisticsFlag == 1 && !run->failed) {
      WriteStatisticsFooter(run->statistics, SortCompares, MergeCompares, run->t);
      StatisticsWritten = 1;
    }
    if (fclose(run->statistics) != 0) StatisticsWritten = 0;
  }
  if (run->failed) AppendErrorText(kTerminated);
  return run->failed;
}

int SortRun(const ParameterRecord *jobRecord) {
  SortRunState run;
  StartRun(&run, jobRecord);
  if (CheckJob(&run) == 0 && PrepareInput(&run) == 0 && OpenOutput(&run) == 0 && CountRecords(&run) == 0) {
    OpenReport(&run);
    if (Allocate(&run) == 0) SortAndWrite(&run);
  }
  return Finish(&run);
}
