#include "engine/runphases.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

static const int kPrefetchDistance = 64;                    // records ahead that the output copy asks for
static const uint32_t kKeyTaskRecords = 65536;              // fixed-length records a keying task takes
static const uint32_t kWriteTaskRecords = 16384;            // records an output task gathers and writes
static const size_t kWriteBufferSize = size_t{1} << 20;     // each output worker's buffer, bytes

// ---- The scan and the keys of text, in ranges on the pool.

// The ranges of a text input, scanned by the workers each under its own guard.
struct ScanJob {
  PhaseInput *phase;
  int pass;
  unsigned char *scratch;              // pass 1: a zero-filled record scratch per worker
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
  const PhaseInput *phase = job->phase;
  const ScanRanges *ranges = &phase->ranges;
  const uint32_t r = arguments->range;
  uint32_t firstRecord = 0;
  for (uint32_t q = 0; q < r; q++) firstRecord += ranges->records[q];
  if (job->pass == 0) {  // counting only: there is no scratch yet
    return ScanRecordRange(0, phase->bytes, ranges->starts[r], ranges->starts[r + 1], DelimiterMode, &job->tally[r],
                           nullptr, firstRecord, ranges->records[r]);
  }
  ScanKeying keying = {phase->ws, phase->plan, job->scratch + static_cast<size_t>(arguments->worker) * phase->scratchSize,
                       phase->base};
  return ScanRecordRange(1, phase->bytes, ranges->starts[r], ranges->starts[r + 1], DelimiterMode, &job->tally[r],
                         &keying, firstRecord, ranges->records[r]);
}

static uint64_t ScanTask(void *context, uint32_t index, int worker) {
  ScanJob *job = static_cast<ScanJob *>(context);
  ScanTaskArguments arguments = {job, index, worker};
  job->result[index] = RunGuardedInThread(ScanOneRange, &arguments);
  return job->pass == 1 ? job->phase->ranges.records[index] : 0;
}

// Pass 0 over the whole text on this thread.
static int ScanWhole(PhaseInput *phase) {
  phase->ranges.count = 0;
  return ScanRecords(0, phase->bytes, phase->size, DelimiterMode, &phase->tally, nullptr);
}

// On a pool the input is scanned in ranges; the range that decides is the first one, in
// file order, that did not end well, as the whole scan stops at its first error.
int ScanInput(void *context) {
  PhaseInput *phase = static_cast<PhaseInput *>(context);
  phase->tally.longestRecord = 0;
  if (phase->pool == nullptr) return ScanWhole(phase);
  ScanJob *job = static_cast<ScanJob *>(calloc(1, sizeof(ScanJob)));
  if (job == nullptr) return ScanWhole(phase);
  job->phase = phase;
  job->pass = 0;
  ScanRanges *ranges = &phase->ranges;
  ranges->count = SplitAtDelimiters(phase->bytes, phase->size, DelimiterMode,
                                    static_cast<uint32_t>(phase->threads) * kScanRangesPerThread, ranges->starts);
  RunPoolTasks(phase->pool, ScanTask, job, ranges->count, nullptr);
  int result = kScanGood;
  phase->tally.recordCount = 0;
  for (uint32_t r = 0; r < ranges->count && result == kScanGood; r++) {
    result = job->result[r];
    ranges->records[r] = job->tally[r].recordCount;
    phase->tally.recordCount += job->tally[r].recordCount;
    phase->tally.longestRecord = std::max(phase->tally.longestRecord, job->tally[r].longestRecord);
  }
  free(job);
  return result;
}

// Pass 1 over the ranges of pass 0, on the pool. Returns 0, kScanChanged, or -1 when a read
// faulted; 1 when the scratch could not be had (nothing done then).
static int KeyRangesOnPool(PhaseInput *phase) {
  ScanJob *job = static_cast<ScanJob *>(calloc(1, sizeof(ScanJob)));
  unsigned char *scratch = static_cast<unsigned char *>(calloc(static_cast<size_t>(phase->threads), phase->scratchSize));
  int result = 1;
  if (job != nullptr && scratch != nullptr) {
    job->phase = phase;
    job->pass = 1;
    job->scratch = scratch;
    const PoolProgress progress = {phase->progress, kPhaseKeying, 0, phase->ws->recordCount, kProgressInterval};
    RunPoolTasks(phase->pool, ScanTask, job, phase->ranges.count, &progress);
    result = 0;
    for (uint32_t r = 0; r < phase->ranges.count; r++) {
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

// ---- Fixed-length keys, on the pool in tasks of kKeyTaskRecords records.

struct FixedKeyArguments {
  const PhaseInput *phase;
  uint32_t first;  // the task's first record
  uint32_t count;  // its records
};

static int BuildFixedKeys(void *context) {
  const FixedKeyArguments *arguments = static_cast<FixedKeyArguments *>(context);
  const PhaseInput *phase = arguments->phase;
  const uint64_t recordLength = static_cast<uint64_t>(phase->recordLength);
  const unsigned char *record = phase->bytes + arguments->first * recordLength;
  unsigned char *key = phase->ws->keyArray + uint64_t{arguments->first} * phase->ws->keyLength;
  const uint32_t firstIndex = static_cast<uint32_t>(phase->base / recordLength) + arguments->first;
  for (uint32_t i = 0; i < arguments->count; i++) {
    BuildFixedKey(phase->plan, record, firstIndex + i, key);
    record += recordLength;
    key += phase->ws->keyLength;
  }
  return 0;
}

struct FixedKeyJob {
  const PhaseInput *phase;
  int *result;  // per task: 0, or -1 when a read faulted
};

static uint64_t FixedKeyTask(void *context, uint32_t index, int) {
  FixedKeyJob *job = static_cast<FixedKeyJob *>(context);
  const uint32_t n = job->phase->ws->recordCount;
  const uint32_t first = index * kKeyTaskRecords;
  FixedKeyArguments arguments = {job->phase, first, std::min(n - first, kKeyTaskRecords)};
  job->result[index] = RunGuardedInThread(BuildFixedKeys, &arguments);
  return arguments.count;
}

// Returns 0, -1 when a read faulted, or 1 when the scratch could not be had (nothing done).
static int KeyFixedOnPool(const PhaseInput *phase) {
  const uint32_t tasks = (phase->ws->recordCount + kKeyTaskRecords - 1) / kKeyTaskRecords;
  FixedKeyJob job = {phase, static_cast<int *>(calloc(tasks, sizeof(int)))};
  if (job.result == nullptr) return 1;
  const PoolProgress progress = {phase->progress, kPhaseKeying, 0, phase->ws->recordCount, kProgressInterval};
  RunPoolTasks(phase->pool, FixedKeyTask, &job, tasks, &progress);
  int result = 0;
  for (uint32_t t = 0; t < tasks; t++) {
    if (job.result[t] < 0) result = -1;
  }
  free(job.result);
  return result;
}

// The keys on this thread.
static int BuildKeysHere(PhaseInput *phase) {
  SortWorkspace *ws = phase->ws;
  if (phase->recordLength == kVariableRecords) {
    ScanTally tally = phase->tally;
    ScanKeying keying = {ws, phase->plan, phase->scratch, phase->base, phase->progress};
    return ScanRecords(1, phase->bytes, phase->size, DelimiterMode, &tally, &keying) == kScanGood ? 0 : kScanChanged;
  }
  const uint64_t recordLength = static_cast<uint64_t>(phase->recordLength);
  const unsigned char *record = phase->bytes;
  unsigned char *key = ws->keyArray;
  const uint32_t firstIndex = static_cast<uint32_t>(phase->base / recordLength);
  for (uint32_t i = 0; i < ws->recordCount; i++) {
    BuildFixedKey(phase->plan, record, firstIndex + i, key);
    record += recordLength;
    key += ws->keyLength;
    if ((i + 1) % kProgressInterval == 0) ReportProgress(phase->progress, kPhaseKeying, i + 1, ws->recordCount);
  }
  return 0;
}

int BuildKeys(void *context) {
  PhaseInput *phase = static_cast<PhaseInput *>(context);
  ReportProgress(phase->progress, kPhaseKeying, 0, phase->ws->recordCount);
  if (phase->pool != nullptr) {
    const bool text = phase->recordLength == kVariableRecords;
    const int keyed = text ? (phase->ranges.count > 0 ? KeyRangesOnPool(phase) : 1) : KeyFixedOnPool(phase);
    if (keyed != 1) return keyed;
  }
  return BuildKeysHere(phase);
}

// ---- The output copy. On a pool each task gathers the records of kWriteTaskRecords
// consecutive output positions into its worker's buffer and writes them at their place in
// the file, which the lengths of the records before them give.

const unsigned char *LineEndBytes(int lineEnd, uint32_t *length) {
  static const unsigned char kEnds[4][2] = {{0x0D, 0x0A}, {0x0A, 0}, {0x0D, 0}, {0, 0}};
  *length = lineEnd == kLineEndCrLf ? 2 : 1;
  return kEnds[lineEnd];
}

// 1 when output position k holds a record that a unique copy leaves out: its key equals the
// one before it (the same key bytes up to the index or offset that ends them).
static inline bool LeftOut(const OutputCopy *copy, uint32_t k) {
  const SortWorkspace *ws = copy->input->ws;
  if (copy->uniqueLength == 0 || k == 0) return false;
  const uint64_t t = ws->keyLength;
  return memcmp(ws->keyArray + ws->outputOrder[k] * t, ws->keyArray + ws->outputOrder[k - 1] * t, copy->uniqueLength) == 0;
}

// Bytes record i takes in the output.
static inline size_t OutputLength(const OutputCopy *copy, uint32_t i) {
  const PhaseInput *phase = copy->input;
  if (phase->recordLength != kVariableRecords) return static_cast<size_t>(phase->recordLength);
  return phase->ws->recordLengths[i] + size_t{copy->lineEndLength};
}

// Copies record i, and a text line's end, to out.
static inline void CopyRecord(const OutputCopy *copy, uint32_t i, unsigned char *out) {
  const PhaseInput *phase = copy->input;
  if (phase->recordLength != kVariableRecords) {
    memcpy(out, phase->bytes + i * static_cast<uint64_t>(phase->recordLength), static_cast<size_t>(phase->recordLength));
    return;
  }
  const uint16_t length = phase->ws->recordLengths[i];
  memcpy(out, phase->bytes + RecordOffset(phase->ws, i), length);
  memcpy(out + length, copy->lineEnd, copy->lineEndLength);
}

struct WriteJob {
  const OutputCopy *copy;
  uint64_t *taskOffset;    // tasks + 1 entries: where each task's bytes start; the last is the total
  uint64_t *leftOut;       // per task: records left out as equal
  unsigned char *buffers;  // kWriteBufferSize bytes per worker
  int *result;             // per task: 0, 1 when a write failed, -1 when a read faulted
};

struct WriteTaskArguments {
  WriteJob *job;
  uint32_t task;
  int worker;
};

static uint32_t WriteTaskEnd(const PhaseInput *phase, uint32_t task) {
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{task + 1} * kWriteTaskRecords, phase->ws->recordCount));
}

// Asks for the first and last lines of record i of the input ahead of its copy, so that
// the copy a few records later does not wait for them.
static inline void PrefetchRecord(const PhaseInput *phase, uint32_t i) {
  const SortWorkspace *ws = phase->ws;
  const bool text = phase->recordLength == kVariableRecords;
  const uint64_t recordLength = static_cast<uint64_t>(phase->recordLength);
  const unsigned char *record = phase->bytes + (text ? RecordOffset(ws, i) : i * recordLength);
  __builtin_prefetch(record);
  __builtin_prefetch(record + (text ? ws->recordLengths[i] : recordLength) - 1);
}

// Bytes of task index's records in the output, into taskOffset[index + 1]; the records it
// leaves out into leftOut[index].
static uint64_t MeasureTask(void *context, uint32_t index, int) {
  WriteJob *job = static_cast<WriteJob *>(context);
  const OutputCopy *copy = job->copy;
  const uint32_t *order = copy->input->ws->outputOrder;
  uint64_t bytes = 0, leftOut = 0;
  for (uint32_t k = index * kWriteTaskRecords, end = WriteTaskEnd(copy->input, index); k < end; k++) {
    if (LeftOut(copy, k)) {
      leftOut++;
    } else {
      bytes += OutputLength(copy, order[k]);
    }
  }
  job->taskOffset[index + 1] = bytes;
  job->leftOut[index] = leftOut;
  return 0;
}

static int WriteTaskRecords(void *context) {
  const WriteTaskArguments *arguments = static_cast<WriteTaskArguments *>(context);
  const OutputCopy *copy = arguments->job->copy;
  const PhaseInput *phase = copy->input;
  const uint32_t *order = phase->ws->outputOrder;
  unsigned char *buffer = arguments->job->buffers + static_cast<size_t>(arguments->worker) * kWriteBufferSize;
  uint64_t offset = arguments->job->taskOffset[arguments->task];
  size_t used = 0;
  const uint32_t end = WriteTaskEnd(phase, arguments->task);
  for (uint32_t k = arguments->task * kWriteTaskRecords; k < end; k++) {
    if (k + kPrefetchDistance < end) PrefetchRecord(phase, order[k + kPrefetchDistance]);
    if (LeftOut(copy, k)) continue;
    const size_t length = OutputLength(copy, order[k]);
    if (used + length > kWriteBufferSize) {
      if (WriteOutputAt(copy->output, buffer, used, offset) != 0) return 1;
      offset += used;
      used = 0;
    }
    CopyRecord(copy, order[k], buffer + used);
    used += length;
  }
  return used > 0 ? WriteOutputAt(copy->output, buffer, used, offset) : 0;
}

static uint64_t WriteTask(void *context, uint32_t index, int worker) {
  WriteJob *job = static_cast<WriteJob *>(context);
  WriteTaskArguments arguments = {job, index, worker};
  job->result[index] = RunGuardedInThread(WriteTaskRecords, &arguments);
  return WriteTaskEnd(job->copy->input, index) - uint64_t{index} * kWriteTaskRecords;
}

// Where each task's bytes start in the output: measured (text lines, and records a unique
// copy leaves out), or each fixed-length record's place.
static void PlaceTasks(WriteJob *job, uint32_t tasks) {
  const OutputCopy *copy = job->copy;
  const PhaseInput *phase = copy->input;
  if (phase->recordLength == kVariableRecords || copy->uniqueLength > 0) {
    RunPoolTasks(phase->pool, MeasureTask, job, tasks, nullptr);
    for (uint32_t t = 0; t < tasks; t++) job->taskOffset[t + 1] += job->taskOffset[t];
    return;
  }
  for (uint32_t t = 0; t <= tasks; t++) {
    const uint64_t first = t < tasks ? uint64_t{t} * kWriteTaskRecords : phase->ws->recordCount;
    job->taskOffset[t] = first * static_cast<uint64_t>(phase->recordLength);
  }
}

// Returns 0, 1 when a write failed, -1 when a read faulted (a fault wins: the write may
// have failed only because the input went), or 2 when the buffers could not be had
// (nothing written then).
static int WriteOutputOnPool(OutputCopy *copy) {
  const PhaseInput *phase = copy->input;
  const uint32_t n = phase->ws->recordCount;
  const uint32_t tasks = (n + kWriteTaskRecords - 1) / kWriteTaskRecords;
  WriteJob job;
  job.copy = copy;
  job.taskOffset = static_cast<uint64_t *>(calloc(tasks + 1, sizeof(uint64_t)));
  job.leftOut = static_cast<uint64_t *>(calloc(tasks, sizeof(uint64_t)));
  job.buffers = static_cast<unsigned char *>(malloc(kWriteBufferSize * static_cast<size_t>(phase->threads)));
  job.result = static_cast<int *>(calloc(tasks, sizeof(int)));
  int result = 2;
  if (job.taskOffset != nullptr && job.leftOut != nullptr && job.buffers != nullptr && job.result != nullptr) {
    PlaceTasks(&job, tasks);
    const PoolProgress progress = {phase->progress, kPhaseWriting, 0, n, kProgressInterval};
    RunPoolTasks(phase->pool, WriteTask, &job, tasks, &progress);
    result = 0;
    for (uint32_t t = 0; t < tasks && result >= 0; t++) {
      if (job.result[t] != 0) result = job.result[t];
      copy->leftOut += job.leftOut[t];
    }
    if (result == 1) copy->output->failed = 1;
  }
  free(job.taskOffset);
  free(job.leftOut);
  free(job.buffers);
  free(job.result);
  return result;
}

int WriteOutput(void *context) {
  OutputCopy *copy = static_cast<OutputCopy *>(context);
  const PhaseInput *phase = copy->input;
  const uint32_t *order = phase->ws->outputOrder;
  const uint32_t n = phase->ws->recordCount;
  ReportProgress(phase->progress, kPhaseWriting, 0, n);
  copy->leftOut = 0;
  if (phase->pool != nullptr && !copy->output->inSequence) {
    const int written = WriteOutputOnPool(copy);
    if (written != 2) return written;
    copy->leftOut = 0;
  }
  const bool text = phase->recordLength == kVariableRecords;
  const uint64_t recordLength = static_cast<uint64_t>(phase->recordLength);
  for (uint32_t k = 0; k < n; k++) {
    if (k + kPrefetchDistance < n) PrefetchRecord(phase, order[k + kPrefetchDistance]);
    const uint32_t i = order[k];
    if (LeftOut(copy, k)) {
      copy->leftOut++;
    } else if (text) {
      WriteOutputFile(copy->output, phase->bytes + RecordOffset(phase->ws, i), phase->ws->recordLengths[i]);
      WriteOutputFile(copy->output, copy->lineEnd, copy->lineEndLength);
    } else {
      WriteOutputFile(copy->output, phase->bytes + i * recordLength, recordLength);
    }
    if (copy->output->failed) return 1;
    if ((k + 1) % kProgressInterval == 0) ReportProgress(phase->progress, kPhaseWriting, k + 1, n);
  }
  return 0;
}
