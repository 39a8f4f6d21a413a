// The phases of a sort run that go to the pool when it has one: the scan of a text input,
// the keys, and the copy of the records to the output. Each gives exactly what the same
// phase gives on the run's own thread, which it falls back to when the pool or its scratch
// cannot be had.
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/keys.h"
#include "engine/runstate.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "engine/workpool.h"
#include "os/platform.h"

static const int kPrefetchDistance = 64;                    // records ahead that the output copy asks for
static const int kDefaultMostThreads = 8;                   // the default thread count: the cores, at most this
static const uint32_t kKeyTaskRecords = 65536;              // fixed-length records a keying task takes
static const uint32_t kWriteTaskRecords = 16384;            // records an output task gathers and writes
static const size_t kWriteBufferSize = size_t{1} << 20;     // each output worker's buffer, bytes

// The threads a run uses: SortThreads, or by default the cores, at most kDefaultMostThreads.
static int RunThreadCount() {
  if (SortThreads >= 1) return SortThreads < kMaxSortThreads ? SortThreads : kMaxSortThreads;
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) return 1;
  return cores < static_cast<unsigned>(kDefaultMostThreads) ? static_cast<int>(cores) : kDefaultMostThreads;
}

// The run's pool, started on first use; null when the run has one thread (or no pool could
// be started: the run then goes on with one).
WorkPool *RunPool(SortRunState *run) {
  if (run->threads == 0) run->threads = RunThreadCount();
  if (run->pool == nullptr && run->threads > 1) {
    run->pool = StartWorkPool(run->threads);
    if (run->pool == nullptr) run->threads = 1;
  }
  return run->pool;
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
  ScanKeying keying = {&run->ws, &run->plan, job->scratch + static_cast<size_t>(arguments->worker) * run->bufferSize,
                       run->inputBase};
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
int ScanInput(void *context) {
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
int BuildKeys(void *context) {
  SortRunState *run = static_cast<SortRunState *>(context);
  SortWorkspace *ws = &run->ws;
  ReportProgress(kPhaseKeying, 0, ws->recordCount);
  if (RunPool(run) != nullptr) {
    const int keyed = run->variable ? (run->scanRanges > 0 ? KeyRangesOnPool(run) : 1) : KeyFixedOnPool(run);
    if (keyed != 1) return keyed;
  }
  if (run->variable) {
    ScanTally tally = run->tally;
    ScanKeying keying = {ws, &run->plan, run->recordBuffer, run->inputBase};
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
  const unsigned char *record = run->input.bytes + (run->variable ? RecordOffset(ws, i) : i * recordLength);
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
      memcpy(buffer + used, input + RecordOffset(ws, i), length - 2);
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
int WriteOutput(void *context) {
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
      WriteOutputFile(&run->output, input + RecordOffset(ws, i), ws->recordLengths[i]);
      WriteOutputFile(&run->output, kCrLf, sizeof kCrLf);
    } else {
      WriteOutputFile(&run->output, input + i * recordLength, recordLength);
    }
    if (run->output.failed) return 1;
    if (k % kProgressInterval == kProgressInterval - 1) ReportProgress(kPhaseWriting, k + 1, n);
  }
  return 0;
}
