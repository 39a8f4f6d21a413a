#include "engine/workpool.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>


struct WorkPool {
  std::mutex lock;                   // guards every field below but threads
  std::condition_variable wake;      // workers wait here for tasks or the stop
  std::condition_variable finished;  // the caller waits here for finished tasks
  std::thread threads[kMaxSortThreads];
  int threadCount;
  PoolTask task;                     // the current job
  void *context;
  uint32_t count;                    // its tasks
  uint32_t next;                     // the next task not yet taken
  uint32_t done;                     // tasks finished
  uint64_t units;                    // progress units of the finished tasks
  bool stopping;
};

static void WorkerLoop(WorkPool *pool, int worker) {
  std::unique_lock<std::mutex> hold(pool->lock);
  for (;;) {
    pool->wake.wait(hold, [pool] { return pool->stopping || pool->next < pool->count; });
    if (pool->next >= pool->count) return;  // stopping, and nothing left to take
    const uint32_t index = pool->next++;
    const PoolTask task = pool->task;
    void *context = pool->context;
    hold.unlock();
    const uint64_t units = task(context, index, worker);
    hold.lock();
    pool->done++;
    pool->units += units;
    pool->finished.notify_one();
  }
}

WorkPool *StartWorkPool(int threads) {
  if (threads < 2 || threads > kMaxSortThreads) return nullptr;
  WorkPool *pool = new (std::nothrow) WorkPool();
  if (pool == nullptr) return nullptr;
  pool->threadCount = threads;
  for (int w = 0; w < threads; w++) pool->threads[w] = std::thread(WorkerLoop, pool, w);
  return pool;
}

int WorkPoolThreads(const WorkPool *pool) { return pool->threadCount; }

void RunPoolTasks(WorkPool *pool, PoolTask task, void *context, uint32_t count, const PoolProgress *progress) {
  std::unique_lock<std::mutex> hold(pool->lock);
  pool->task = task;
  pool->context = context;
  pool->count = count;
  pool->next = 0;
  pool->done = 0;
  pool->units = 0;
  pool->wake.notify_all();
  uint64_t reported = 0;
  for (;;) {
    const uint64_t units = pool->units;
    if (progress != nullptr && progress->reporter != nullptr && progress->interval != 0 &&
        reported + progress->interval <= units) {
      hold.unlock();  // a report may take its time; the workers go on meanwhile
      while (reported + progress->interval <= units) {
        reported += progress->interval;
        ReportProgress(progress->reporter, progress->phase, progress->base + reported, progress->total);
      }
      hold.lock();
      continue;  // more may have finished during the reports
    }
    if (pool->done == count) break;
    pool->finished.wait(hold);
  }
  pool->count = 0;
  pool->next = 0;
}

void StopWorkPool(WorkPool *pool) {
  if (pool == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(pool->lock);
    pool->stopping = true;
    pool->wake.notify_all();
  }
  for (int w = 0; w < pool->threadCount; w++) pool->threads[w].join();
  delete pool;
}
