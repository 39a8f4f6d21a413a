#include "engine/sortrun.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/errortext.h"
#include "engine/groupsort.h"
#include "engine/keys.h"
#include "engine/merge.h"
#include "os/platform.h"
#include "engine/scanner.h"
#include "engine/statreport.h"
#include "engine/workpool.h"

char StatisticsDirectory[kNameSize] = {'C', ':', kPathSeparator, 0};
SortProgressFunction SortProgress = nullptr;
int StatisticsWritten = 0;
int SortThreads = 0;

static const char kMemoryError[] = "\n Memory Allocation Error! Not Enough Memory\n";
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
static const char kSequenceError[] = "\n Sort FAILED - Sequence Error! Program Aborted! \n";
static const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";
static const char kInvalidJob[] = "\n Invalid Sort Parameters!\n";
static const char kInputTooLarge[] = "\n Input File Too Large - 4 GB Limit: %s!\n";
static const char kInputChanged[] = "\n Input File Changed During Sort: %s!\n";
static const char kReadError[] = "\n Error Reading Input File: %s!\n";
static const char kWriteError[] = "\n Error Writing Output File: %s!\n";
static const char kOutputIsInputFile[] = "\n Output File Is the Input File: %s!\n";
static const char kPartialRecord[] = "\n File Size NOT Equally Divisible by Record Length: %s!\n";

static const uint64_t kLargestInput = uint64_t{1} << 32;  // offsets are 32-bit: inputs stay below 4 GiB
static const int kPrefetchDistance = 64;                    // records ahead that the output copy asks for
// The record and key buffers: 1 KiB up to records of this length (text lines too), and
// above it the record length rounded down to 16 bytes with room to spare.
static const int32_t kSmallRecordLimit = 1000;
static const uint32_t kSmallRecordBuffer = 1024;
static const uint32_t kRecordBufferAlignment = 16;
static const uint32_t kRecordBufferSlack = 32;
static const int kDefaultMostThreads = 8;                   // the default thread count: the cores, at most this
static const uint32_t kKeyTaskRecords = 65536;              // fixed-length records a keying task takes
static const uint32_t kScanRangesPerThread = 4;             // ranges of a text input per worker
static const uint32_t kMaxScanRanges = kMaxSortThreads * kScanRangesPerThread;
static const uint32_t kWriteTaskRecords = 16384;            // records an output task gathers and writes
static const size_t kWriteBufferSize = size_t{1} << 20;     // each output worker's buffer, bytes

// Everything one run owns, from its start to its return.
struct SortRunState {
  ParameterRecord job;           // the job, copied
  bool variable;                 // record length -1
  uint32_t bufferSize;           // bytes of the record buffer; 0 until the job passed its check
  unsigned char *recordBuffer;   // B bytes: the scanner's zero-filled record scratch
  InputFile input;               // mapped whole
  OutputFile output;
  bool outputOpen;
  FILE *statistics;              // open while the report is being written
  SortWorkspace ws;
  KeyPlan plan;
  ScanTally tally;               // pass 0's record count and longest record
  uint32_t t[5];                 // clock readings t0 to t4, milliseconds
  int failed;                    // 1 once a failing message was written
  int threads;                   // threads the run uses; 0 until its first parallel phase asks
  WorkPool *pool;                // started by that phase, stopped at the run's end; null with one thread
  uint32_t scanRanges;           // text input: the ranges pass 0 scanned on the pool; 0 when scanned whole
  uint64_t scanStarts[kMaxScanRanges + 1];  // each range's first byte, then the file size
  uint32_t scanRecords[kMaxScanRanges];     // records pass 0 found in each range
};

// The threads a run uses: SortThreads, or by default the cores, at most kDefaultMostThreads.
static int RunThreadCount() {
  if (SortThreads >= 1) return SortThreads < kMaxSortThreads ? SortThreads : kMaxSortThreads;
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) return 1;
  return cores < static_cast<unsigned>(kDefaultMostThreads) ? static_cast<int>(cores) : kDefaultMostThreads;
}

// The run's pool, started on first use; null when the run has one thread (or no pool could
// be started: the run then goes on with one).
static WorkPool *RunPool(SortRunState *run) {
  if (run->threads == 0) run->threads = RunThreadCount();
  if (run->pool == nullptr && run->threads > 1) {
    run->pool = StartWorkPool(run->threads);
    if (run->pool == nullptr) run->threads = 1;
  }
  return run->pool;
}

static void Fail(SortRunState *run, const char *message) {
  AppendErrorText(message);
  run->failed = 1;
}

static void FailWithName(SortRunState *run, const char *format, const char *name) {
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

int AllocateWorkspace(SortWorkspace *ws, uint32_t recordCount, const ParameterRecord *job) {
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
  if (variable) ws->recordOffsets = static_cast<uint32_t *>(AllocateZeroed(n, sizeof(uint32_t)));
  ws->mergeScratch = static_cast<uint64_t *>(AllocateZeroed(3 * uint64_t{groupCount}, sizeof(uint64_t)));
  ws->mergeTree = static_cast<MergeNode *>(AllocateZeroed(groupCount, sizeof(MergeNode)));
  ws->keyPrefixes = static_cast<uint64_t *>(AllocateZeroed(n, sizeof(uint64_t)));
  if (groupCount > kMergeBatch) ws->mergePrefixes = static_cast<uint64_t *>(AllocateZeroed(n, sizeof(uint64_t)));
  if (ws->groupSizes == nullptr || ws->keyPointers == nullptr ||
      ws->outputOrder == nullptr || (variable && ws->recordOffsets == nullptr) || ws->mergeScratch == nullptr ||
      ws->mergeTree == nullptr || ws->keyPrefixes == nullptr || (groupCount > kMergeBatch && ws->mergePrefixes == nullptr)) {
    return 2;
  }
  ws->allocatedMemoryUsage = 12 * n + 4 * uint64_t{groupCount};
  if (variable) keyLength += kOffsetSuffixLength;
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
  free(ws->mergeScratch);
  free(ws->mergeTree);
  free(ws->keyPrefixes);
  free(ws->mergePrefixes);
  memset(ws, 0, sizeof *ws);
}

// One range of a text input, scanned by a worker under its own guard.
struct ScanJob {
  SortRunState *run;
  int pass;
  unsigned char *scratch;              // pass 1: a zero-filled record scratch of B bytes per worker
  ScanTally tally[kMaxScanRanges];     // per range
  int result[kMaxScanRanges];          // per range: the scan result, or -1 when a read faulted
};

struct ScanTaskArguments {
  ScanJob *job;
  uint32_t range;
  int worker;
};

static int ScanOneRange(void *context) {
  const ScanTaskArguments *arguments = static_cast<ScanTaskArguments *>(context);
  ScanJob *job = arguments->job;
  SortRunState *run = job->run;
  const uint32_t r = arguments->range;
  uint32_t firstRecord = 0;
  for (uint32_t q = 0; q < r; q++) firstRecord += run->scanRecords[q];
  if (job->pass == 0) {  // counting only: there is no scratch yet
    return ScanRecordRange(0, run->input.bytes, run->scanStarts[r], run->scanStarts[r + 1], DelimiterMode,
                           &job->tally[r], nullptr, firstRecord, run->scanRecords[r]);
  }
  ScanKeying keying = {&run->ws, &run->plan, job->scratch + static_cast<size_t>(arguments->worker) * run->bufferSize};
  return ScanRecordRange(1, run->input.bytes, run->scanStarts[r], run->scanStarts[r + 1], DelimiterMode,
                         &job->tally[r], &keying, firstRecord, run->scanRecords[r]);
}

static uint64_t ScanTask(void *context, uint32_t index, int worker) {
  ScanJob *job = static_cast<ScanJob *>(context);
  ScanTaskArguments arguments = {job, index, worker};
  job->result[index] = RunGuardedInThread(ScanOneRange, &arguments);
  return job->pass == 1 ? job->run->scanRecords[index] : 0;
}

// Guarded work: pass 0 of the scanner. Returns the scan result, or -1 when a worker's read
// faulted first. On a pool the input is scanned in ranges; the range that decides is the
// first one, in file order, that did not end well, as the whole scan stops at its first error.
static int ScanWork(void *context) {
  SortRunState *run = static_cast<SortRunState *>(context);
  run->tally.longestRecord = 0;
  WorkPool *pool = RunPool(run);
  if (pool == nullptr) {
    return ScanRecords(0, run->input.bytes, run->input.size, DelimiterMode, &run->tally, nullptr);
  }
  ScanJob *job = static_cast<ScanJob *>(calloc(1, sizeof(ScanJob)));
  if (job == nullptr) return ScanRecords(0, run->input.bytes, run->input.size, DelimiterMode, &run->tally, nullptr);
  job->run = run;
  job->pass = 0;
  run->scanRanges = SplitAtDelimiters(run->input.bytes, run->input.size, DelimiterMode,
                                      static_cast<uint32_t>(run->threads) * kScanRangesPerThread, run->scanStarts);
  RunPoolTasks(pool, ScanTask, job, run->scanRanges, nullptr);
  int result = kScanGood;
  run->tally.recordCount = 0;
  for (uint32_t r = 0; r < run->scanRanges && result == kScanGood; r++) {
    result = job->result[r];
    run->scanRecords[r] = job->tally[r].recordCount;
    run->tally.recordCount += job->tally[r].recordCount;
    if (job->tally[r].longestRecord > run->tally.longestRecord) run->tally.longestRecord = job->tally[r].longestRecord;
  }
  free(job);
  return result;
}

// Pass 1 over the ranges of pass 0, on the pool. Returns 0, kScanChanged, or -1 when a read
// faulted; 1 when the scratch could not be had (nothing done then).
static int KeyRangesOnPool(SortRunState *run) {
  ScanJob *job = static_cast<ScanJob *>(calloc(1, sizeof(ScanJob)));
  unsigned char *scratch = static_cast<unsigned char *>(calloc(static_cast<size_t>(run->threads), run->bufferSize));
  int result = 1;
  if (job != nullptr && scratch != nullptr) {
    job->run = run;
    job->pass = 1;
    job->scratch = scratch;
    const PoolProgress progress = {kPhaseKeying, 0, run->ws.recordCount, kProgressInterval};
    RunPoolTasks(run->pool, ScanTask, job, run->scanRanges, &progress);
    result = 0;
    for (uint32_t r = 0; r < run->scanRanges; r++) {
      if (job->result[r] < 0) {
        result = -1;
        break;
      }
      if (job->result[r] != kScanGood) result = kScanChanged;
    }
  }
  free(job);
  free(scratch);
  return result;
}

// Fixed-length keys on the pool, in tasks of kKeyTaskRecords records.
struct FixedKeyArguments {
  SortRunState *run;
  uint32_t first;  // the task's first record
  uint32_t count;  // its records
};

static int BuildFixedKeys(void *context) {
  const FixedKeyArguments *arguments = static_cast<FixedKeyArguments *>(context);
  const SortRunState *run = arguments->run;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  const unsigned char *record = run->input.bytes + arguments->first * recordLength;
  unsigned char *key = run->ws.keyArray + uint64_t{arguments->first} * run->ws.keyLength;
  for (uint32_t i = 0; i < arguments->count; i++) {
    BuildFixedKey(&run->plan, record, key);
    record += recordLength;
    key += run->ws.keyLength;
  }
  return 0;
}

struct FixedKeyJob {
  SortRunState *run;
  int *result;  // per task: 0, or -1 when a read faulted
};

static uint64_t FixedKeyTask(void *context, uint32_t index, int) {
  FixedKeyJob *job = static_cast<FixedKeyJob *>(context);
  const uint32_t n = job->run->ws.recordCount;
  const uint32_t first = index * kKeyTaskRecords;
  FixedKeyArguments arguments = {job->run, first, n - first < kKeyTaskRecords ? n - first : kKeyTaskRecords};
  job->result[index] = RunGuardedInThread(BuildFixedKeys, &arguments);
  return arguments.count;
}

// Returns 0, -1 when a read faulted, or 1 when the scratch could not be had (nothing done).
static int KeyFixedOnPool(SortRunState *run) {
  const uint32_t tasks = (run->ws.recordCount + kKeyTaskRecords - 1) / kKeyTaskRecords;
  FixedKeyJob job = {run, static_cast<int *>(calloc(tasks, sizeof(int)))};
  if (job.result == nullptr) return 1;
  const PoolProgress progress = {kPhaseKeying, 0, run->ws.recordCount, kProgressInterval};
  RunPoolTasks(run->pool, FixedKeyTask, &job, tasks, &progress);
  int result = 0;
  for (uint32_t t = 0; t < tasks; t++) {
    if (job.result[t] < 0) result = -1;
  }
  free(job.result);
  return result;
}

// Guarded work: builds every key. Returns 0, or kScanChanged when pass 1 disagrees with pass 0.
static int KeyWork(void *context) {
  SortRunState *run = static_cast<SortRunState *>(context);
  SortWorkspace *ws = &run->ws;
  ReportProgress(kPhaseKeying, 0, ws->recordCount);
  if (RunPool(run) != nullptr) {
    const int keyed = run->variable ? (run->scanRanges > 0 ? KeyRangesOnPool(run) : 1) : KeyFixedOnPool(run);
    if (keyed != 1) return keyed;
  }
  if (run->variable) {
    ScanTally tally = run->tally;
    ScanKeying keying = {ws, &run->plan, run->recordBuffer};
    return ScanRecords(1, run->input.bytes, run->input.size, DelimiterMode, &tally, &keying) == kScanGood
               ? 0
               : kScanChanged;
  }
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  const unsigned char *record = run->input.bytes;
  unsigned char *key = ws->keyArray;
  for (uint32_t i = 0; i < ws->recordCount; i++) {
    BuildFixedKey(&run->plan, record, key);
    record += recordLength;
    key += ws->keyLength;
    if (i % kProgressInterval == kProgressInterval - 1) ReportProgress(kPhaseKeying, i + 1, ws->recordCount);
  }
  return 0;
}

// The output copy on a pool: each task gathers the records of kWriteTaskRecords consecutive
// output positions into its worker's buffer and writes them at their place in the file,
// which the lengths of the records before them give.
struct WriteJob {
  SortRunState *run;
  uint64_t *taskOffset;    // tasks + 1 entries: where each task's bytes start; the last is the total
  unsigned char *buffers;  // kWriteBufferSize bytes per worker
  int *result;             // per task: 0, 1 when a write failed, -1 when a read faulted
};

struct WriteTaskArguments {
  WriteJob *job;
  uint32_t task;
  int worker;
};

static uint32_t WriteTaskEnd(const SortRunState *run, uint32_t task) {
  const uint64_t end = uint64_t{task + 1} * kWriteTaskRecords;
  return end < run->ws.recordCount ? static_cast<uint32_t>(end) : run->ws.recordCount;
}


// Asks for the first and last lines of record i of the input ahead of its copy, so that
// the copy a few records later does not wait for them.
static inline void PrefetchRecord(const SortRunState *run, uint32_t i) {
  const SortWorkspace *ws = &run->ws;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  const unsigned char *record = run->input.bytes + (run->variable ? ws->recordOffsets[i] : i * recordLength);
  __builtin_prefetch(record);
  __builtin_prefetch(record + (run->variable ? ws->recordLengths[i] : recordLength) - 1);
}

// Bytes of task index's records in the output (variable-length records), into taskOffset[index + 1].
static uint64_t MeasureTask(void *context, uint32_t index, int) {
  WriteJob *job = static_cast<WriteJob *>(context);
  const SortWorkspace *ws = &job->run->ws;
  uint64_t bytes = 0;
  for (uint32_t k = index * kWriteTaskRecords, end = WriteTaskEnd(job->run, index); k < end; k++) {
    bytes += ws->recordLengths[ws->outputOrder[k]] + 2;
  }
  job->taskOffset[index + 1] = bytes;
  return 0;
}

static int WriteTaskRecords(void *context) {
  const WriteTaskArguments *arguments = static_cast<WriteTaskArguments *>(context);
  const SortRunState *run = arguments->job->run;
  const SortWorkspace *ws = &run->ws;
  const unsigned char *input = run->input.bytes;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  unsigned char *buffer = arguments->job->buffers + static_cast<size_t>(arguments->worker) * kWriteBufferSize;
  uint64_t offset = arguments->job->taskOffset[arguments->task];
  size_t used = 0;
  const uint32_t end = WriteTaskEnd(run, arguments->task);
  for (uint32_t k = arguments->task * kWriteTaskRecords; k < end; k++) {
    if (k + kPrefetchDistance < end) PrefetchRecord(run, ws->outputOrder[k + kPrefetchDistance]);
    const uint32_t i = ws->outputOrder[k];
    const size_t length = run->variable ? ws->recordLengths[i] + size_t{2} : static_cast<size_t>(recordLength);
    if (used + length > kWriteBufferSize) {
      if (WriteOutputAt(&run->output, buffer, used, offset) != 0) return 1;
      offset += used;
      used = 0;
    }
    if (run->variable) {
      memcpy(buffer + used, input + ws->recordOffsets[i], length - 2);
      buffer[used + length - 2] = 0x0D;
      buffer[used + length - 1] = 0x0A;
    } else {
      memcpy(buffer + used, input + i * recordLength, length);
    }
    used += length;
  }
  return used > 0 ? WriteOutputAt(&run->output, buffer, used, offset) : 0;
}

static uint64_t WriteTask(void *context, uint32_t index, int worker) {
  WriteJob *job = static_cast<WriteJob *>(context);
  WriteTaskArguments arguments = {job, index, worker};
  job->result[index] = RunGuardedInThread(WriteTaskRecords, &arguments);
  return WriteTaskEnd(job->run, index) - uint64_t{index} * kWriteTaskRecords;
}

// Returns 0, 1 when a write failed, -1 when a read faulted (a fault wins: the write may
// have failed only because the input went), or 2 when the buffers could not be had
// (nothing written then).
static int WriteOutputOnPool(SortRunState *run) {
  const uint32_t n = run->ws.recordCount;
  const uint32_t tasks = (n + kWriteTaskRecords - 1) / kWriteTaskRecords;
  WriteJob job;
  job.run = run;
  job.taskOffset = static_cast<uint64_t *>(calloc(tasks + 1, sizeof(uint64_t)));
  job.buffers = static_cast<unsigned char *>(malloc(kWriteBufferSize * static_cast<size_t>(run->threads)));
  job.result = static_cast<int *>(calloc(tasks, sizeof(int)));
  int result = 2;
  if (job.taskOffset != nullptr && job.buffers != nullptr && job.result != nullptr) {
    if (run->variable) {
      RunPoolTasks(run->pool, MeasureTask, &job, tasks, nullptr);
      for (uint32_t t = 0; t < tasks; t++) job.taskOffset[t + 1] += job.taskOffset[t];
    } else {
      for (uint32_t t = 0; t <= tasks; t++) {
        job.taskOffset[t] = uint64_t{t < tasks ? t * kWriteTaskRecords : n} * static_cast<uint64_t>(run->job.recordLength);
      }
    }
    const PoolProgress progress = {kPhaseWriting, 0, n, kProgressInterval};
    RunPoolTasks(run->pool, WriteTask, &job, tasks, &progress);
    result = 0;
    for (uint32_t t = 0; t < tasks; t++) {
      if (job.result[t] < 0) {
        result = -1;
        break;
      }
      if (job.result[t] != 0) result = 1;
    }
    if (result == 1) run->output.failed = 1;
  }
  free(job.taskOffset);
  free(job.buffers);
  free(job.result);
  return result;
}

// Guarded work: copies the records in final order. Returns 0, or 1 when a write failed.
static int WriteOutput(void *context) {
  SortRunState *run = static_cast<SortRunState *>(context);
  const SortWorkspace *ws = &run->ws;
  const unsigned char *input = run->input.bytes;
  const uint32_t n = ws->recordCount;
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  static const unsigned char kCrLf[2] = {0x0D, 0x0A};
  ReportProgress(kPhaseWriting, 0, n);
  if (run->pool != nullptr && OutputTakesOffsets(&run->output)) {
    const int written = WriteOutputOnPool(run);
    if (written != 2) return written;
  }
  for (uint32_t k = 0; k < n; k++) {
    if (k + kPrefetchDistance < n) PrefetchRecord(run, ws->outputOrder[k + kPrefetchDistance]);
    const uint32_t i = ws->outputOrder[k];
    if (run->variable) {
      WriteOutputFile(&run->output, input + ws->recordOffsets[i], ws->recordLengths[i]);
      WriteOutputFile(&run->output, kCrLf, sizeof kCrLf);
    } else {
      WriteOutputFile(&run->output, input + i * recordLength, recordLength);
    }
    if (run->output.failed) return 1;
    if (k % kProgressInterval == kProgressInterval - 1) ReportProgress(kPhaseWriting, k + 1, n);
  }
  return 0;
}

// A guarded read that faulted: the file was cut short under us, or the device failed.
static void FailMappedRead(SortRunState *run) {
  FailWithName(run, InputFileChanged(&run->input) ? kInputChanged : kReadError, run->job.inputName);
}

// Opens, scans (variable-length records) and checks the input. Returns 0 to go on.
static int PrepareInput(SortRunState *run) {
  const char *inputName = run->job.inputName;
  if (OpenInputFile(inputName, &run->input) != 0) {
    FailWithName(run, kCannotOpenInput, inputName);
    return 1;
  }
  if (run->input.size >= kLargestInput) {
    FailWithName(run, kInputTooLarge, inputName);
    return 1;
  }
  if (InputHasUnsizedContent(&run->input) || MapInputFile(&run->input) != 0) {
    FailWithName(run, kReadError, inputName);
    return 1;
  }
  if (!run->variable) return 0;
  int scan = RunGuarded(ScanWork, run);
  if (scan < 0) {
    FailMappedRead(run);
  } else if (scan == kScanDelimiterError) {
    FailWithName(run, kDelimiterError, inputName);
  } else if (scan == kScanTooLong) {
    FailWithName(run, kRecordTooLong, inputName);
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
  SortWorkspace *ws = &run->ws;
  const char *inputName = run->job.inputName;
  int keyed = RunGuarded(KeyWork, run);
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

int SortRun(const ParameterRecord *jobRecord) {
  SortRunState run;
  memset(&run, 0, sizeof run);
  run.t[0] = ElapsedMilliseconds();
  run.input.handle = -1;
  run.job = *jobRecord;
  run.job.inputName[kNameSize - 1] = '\0';
  run.job.outputName[kNameSize - 1] = '\0';
  for (int k = 0; k < kMaxKeys; k++) run.job.keyTitles[k][kKeyTitleSize - 1] = '\0';
  SortCompares = 0;
  MergeCompares = 0;
  SequenceErrorFlag = 0;
  StatisticsWritten = 0;
  run.variable = run.job.recordLength == kVariableRecords;
  int statisticsFlag = run.job.statisticsFlag;

  if (JobIsSafe(&run.job)) run.bufferSize = RecordBufferSize(run.job.recordLength);
  if (run.bufferSize == 0) {
    Fail(&run, kInvalidJob);
  } else if ((run.recordBuffer = static_cast<unsigned char *>(AllocateZeroed(run.bufferSize, 1))) == nullptr) {
    Fail(&run, kMemoryError);
  } else if (PrepareInput(&run) == 0) {
    uint64_t memoryUsage = 2 * uint64_t{run.bufferSize};
    int opened = OpenOutputFile(run.job.outputName, &run.input, &run.output);
    if (opened == kOutputIsInput) {
      FailWithName(&run, kOutputIsInputFile, run.job.outputName);
    } else if (opened != kOutputOpened) {
      FailWithName(&run, kCannotOpenOutput, run.job.outputName);
    } else {
      run.outputOpen = true;
      const uint64_t n = run.variable ? run.tally.recordCount : run.input.size / static_cast<uint64_t>(run.job.recordLength);
      if (n < 2) {
        Fail(&run, kTooFewRecords);
      } else if (!run.variable && run.input.size % static_cast<uint64_t>(run.job.recordLength) != 0) {
        // A part record at the end (the file grew since it was checked): sorting the whole
        // records alone would silently drop its bytes.
        FailWithName(&run, kPartialRecord, run.job.inputName);
      } else {
        if (statisticsFlag == 1) {
          run.statistics = OpenStatisticsFile(StatisticsDirectory, &run.input, &run.output);
          if (run.statistics == nullptr) {
            AppendErrorFormat(kCannotOpenStatistics, kStatisticsFileName);
            statisticsFlag = 0;
          }
        }
        int allocated = AllocateWorkspace(&run.ws, static_cast<uint32_t>(n), &run.job);
        if (allocated == 1) {
          Fail(&run, kKeysTooLong);
        } else if (allocated == 2) {
          Fail(&run, kMemoryError);
        } else {
          memoryUsage += run.ws.allocatedMemoryUsage;
          PrepareKeyPlan(run.job.keys, run.job.keyCount, run.variable, &run.plan);
          if (run.statistics != nullptr) {
            ReportHeader header;
            ReadLocalTime(&header.time);
            header.job = &run.job;
            header.recordCount = static_cast<uint32_t>(n);
            header.allocatedMemoryUsage = memoryUsage;
            WriteStatisticsHeader(run.statistics, &header);
          }
          SortAndWrite(&run);
        }
        ReleaseWorkspace(&run.ws);
      }
    }
  }
  StopWorkPool(run.pool);
  CloseInputFile(&run.input);
  if (run.outputOpen && CloseOutputFile(&run.output, !run.failed) != 0 && !run.failed) {
    FailWithName(&run, kWriteError, run.job.outputName);
  }
  free(run.recordBuffer);
  run.t[4] = ElapsedMilliseconds();
  if (run.statistics != nullptr) {
    if (statisticsFlag == 1 && !run.failed) {
      WriteStatisticsFooter(run.statistics, SortCompares, MergeCompares, run.t);
      StatisticsWritten = 1;
    }
    if (fclose(run.statistics) != 0) StatisticsWritten = 0;
  }
  if (run.failed) AppendErrorText(kTerminated);
  return run.failed;
}
