// Worker threads of one sort run. The run starts the pool when it first has work for it and
// stops it before it returns, so no thread outlives the run. Call order: StartWorkPool,
// RunPoolTasks as often as needed, StopWorkPool.
//
// The calling thread does none of the tasks itself: it waits for them and, while it waits,
// makes the progress reports, so that they arrive in order and from the thread that
// started the run, as they do when the run has one thread.
#ifndef PELMAR_ENGINE_WORKPOOL_H
#define PELMAR_ENGINE_WORKPOOL_H

#include <cstdint>

#include "engine/runprogress.h"

constexpr int kMaxSortThreads = 64;  // most workers a pool has

struct WorkPool;

// Does task number index of a job on worker number worker (0 to the pool's thread count - 1;
// no two tasks run on one worker at once, so a task may use that worker's own scratch).
// Returns the progress units it completed.
typedef uint64_t (*PoolTask)(void *context, uint32_t index, int worker);

// The progress a job reports to reporter: phase, total, and base + the units done at every
// multiple of interval that they pass. A null reporter or interval 0: no reports.
struct PoolProgress {
  SortProgressFunction reporter;  // the run's, or null
  int phase;          // kPhaseKeying ...
  uint64_t base;      // units already done before this job
  uint64_t total;     // units of the whole phase
  uint64_t interval;  // units between reports
};

// Starts threads workers (2 to kMaxSortThreads). Returns null when the pool cannot be
// allocated; the caller then does the work on its own thread. A thread the system refuses
// to start ends the program: std::thread reports that by an exception, which we never catch.
WorkPool *StartWorkPool(int threads);

int WorkPoolThreads(const WorkPool *pool);

// Runs tasks 0 to count - 1 on the workers and returns when all have finished.
void RunPoolTasks(WorkPool *pool, PoolTask task, void *context, uint32_t count, const PoolProgress *progress);

// Ends and joins every worker and frees the pool; null does nothing.
void StopWorkPool(WorkPool *pool);

#endif
