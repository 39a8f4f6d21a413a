// The selection merge's compare count from the emitted order (mergecount.h): over a whole
// order in one pass with a stack of positions, in slices of it on the pool, or streamed.
#include "engine/mergecount.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/workspace.h"
#include "os/platform.h"

// Over a whole order, "a lower group still has references" is s <= lastLower: the last
// position emitted from any group below g, over the whole merge. A stack of positions with
// increasing groups gives prevLower for every r in one pass. Positions are stored plus one,
// so 0 means "none".
static uint64_t CountMergeComparesHere(const uint32_t *outputOrder, uint32_t n, uint32_t groupCount,
                                       uint64_t *scratch) {
  uint64_t *lastLower = scratch;                 // per group, then reused as prevSame
  uint64_t *prevSame = scratch + groupCount;
  uint64_t *stack = scratch + 2 * groupCount;
  memset(prevSame, 0, sizeof(uint64_t) * groupCount);
  for (uint32_t r = 0; r < n; r++) prevSame[outputOrder[r] / kSortGroupSize] = uint64_t{r} + 1;
  uint64_t running = 0;
  for (uint32_t g = 0; g < groupCount; g++) {
    lastLower[g] = running;
    if (prevSame[g] > running) running = prevSame[g];
  }
  memset(prevSame, 0, sizeof(uint64_t) * groupCount);
  uint64_t depth = 0;
  uint64_t total = 0;
  for (uint32_t r = 0; r < n; r++) {
    const uint32_t g = outputOrder[r] / kSortGroupSize;
    while (depth > 0 && outputOrder[stack[depth - 1] - 1] / kSortGroupSize >= g) depth--;
    const uint64_t prevLower = depth > 0 ? stack[depth - 1] : 0;
    stack[depth++] = uint64_t{r} + 1;
    const uint64_t from = std::max(prevSame[g], prevLower);
    const uint64_t to = std::min(uint64_t{r} + 1, lastLower[g]);
    if (to > from) total += to - from;
    prevSame[g] = uint64_t{r} + 1;
  }
  return total;
}

// The count on a pool, over consecutive slices of the order. A slice needs, of what came
// before it, only prevSame of every group (its last position there) and, for prevLower, the
// last position of any group below g: the largest of those prevSame values of groups below
// g. Within the slice the stack finds nearer positions of lower groups, which then win.
struct ParallelCount {
  const uint32_t *order;
  uint32_t n;
  uint32_t groupCount;
  uint32_t sliceCount;
  uint32_t *last;        // sliceCount rows of G: first each slice's last positions, then what precedes it
  uint32_t *lastLower;   // G: the last position of any group below g, over the whole order
  uint32_t *scratch;     // per worker: 2 * G, the lower groups' carry and the stack
  uint64_t *totals;      // per slice
};

static uint32_t SliceStart(const ParallelCount *job, uint32_t slice) {
  return static_cast<uint32_t>(uint64_t{job->n} * slice / job->sliceCount);
}

// Row slice of last: each group's last position in the slice, plus one; 0 for none.
static uint64_t LastPositionsTask(void *context, uint32_t slice, int) {
  ParallelCount *job = static_cast<ParallelCount *>(context);
  uint32_t *row = job->last + uint64_t{slice} * job->groupCount;
  memset(row, 0, sizeof(uint32_t) * job->groupCount);
  for (uint32_t r = SliceStart(job, slice), end = SliceStart(job, slice + 1); r < end; r++) {
    row[job->order[r] / kSortGroupSize] = r + 1;
  }
  return 0;
}

static uint64_t CountSliceTask(void *context, uint32_t slice, int worker) {
  ParallelCount *job = static_cast<ParallelCount *>(context);
  const uint32_t groupCount = job->groupCount;
  uint32_t *prevSame = job->last + uint64_t{slice} * groupCount;  // this slice's own row from here on
  uint32_t *lowerCarry = job->scratch + static_cast<uint64_t>(worker) * 2 * groupCount;
  uint32_t *stack = lowerCarry + groupCount;
  uint32_t running = 0;
  for (uint32_t g = 0; g < groupCount; g++) {
    lowerCarry[g] = running;
    if (prevSame[g] > running) running = prevSame[g];
  }
  const uint32_t *order = job->order;
  uint64_t depth = 0;
  uint64_t total = 0;
  for (uint32_t r = SliceStart(job, slice), end = SliceStart(job, slice + 1); r < end; r++) {
    const uint32_t g = order[r] / kSortGroupSize;
    while (depth > 0 && order[stack[depth - 1] - 1] / kSortGroupSize >= g) depth--;
    const uint32_t prevLower = depth > 0 ? stack[depth - 1] : lowerCarry[g];
    stack[depth++] = r + 1;
    const uint32_t from = std::max(prevSame[g], prevLower);
    const uint32_t to = std::min(r + 1, job->lastLower[g]);
    if (to > from) total += to - from;
    prevSame[g] = r + 1;
  }
  job->totals[slice] = total;
  return 0;
}

// Returns 0 with *total set, or 1 when the scratch could not be had.
static int CountMergeComparesOnPool(const uint32_t *outputOrder, uint32_t n, uint32_t groupCount, WorkPool *pool,
                                    uint64_t *total) {
  const int threads = WorkPoolThreads(pool);
  ParallelCount job;
  job.order = outputOrder;
  job.n = n;
  job.groupCount = groupCount;
  job.sliceCount = std::min(static_cast<uint32_t>(threads) * 2, n);
  job.last = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * groupCount * job.sliceCount));
  job.lastLower = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * groupCount));
  job.scratch = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * 2 * groupCount * threads));
  job.totals = static_cast<uint64_t *>(calloc(job.sliceCount, sizeof(uint64_t)));
  int result = 1;
  if (job.last != nullptr && job.lastLower != nullptr && job.scratch != nullptr && job.totals != nullptr) {
    RunPoolTasks(pool, LastPositionsTask, &job, job.sliceCount, nullptr);
    // Each row becomes what precedes its slice: the last positions of the slices before it.
    for (uint32_t g = 0; g < groupCount; g++) {
      uint32_t before = 0;
      for (uint32_t slice = 0; slice < job.sliceCount; slice++) {
        uint32_t *cell = job.last + uint64_t{slice} * groupCount + g;
        const uint32_t own = *cell;
        *cell = before;
        if (own > before) before = own;
      }
      job.lastLower[g] = before;  // for now: group g's last position over the whole order
    }
    uint32_t running = 0;
    for (uint32_t g = 0; g < groupCount; g++) {
      const uint32_t own = job.lastLower[g];
      job.lastLower[g] = running;
      if (own > running) running = own;
    }
    RunPoolTasks(pool, CountSliceTask, &job, job.sliceCount, nullptr);
    *total = 0;
    for (uint32_t slice = 0; slice < job.sliceCount; slice++) *total += job.totals[slice];
    result = 0;
  }
  free(job.last);
  free(job.lastLower);
  free(job.scratch);
  free(job.totals);
  return result;
}

uint64_t CountMergeCompares(const uint32_t *outputOrder, uint32_t n, uint32_t groupCount, uint64_t *scratch,
                            WorkPool *pool) {
  uint64_t total = 0;
  if (pool != nullptr && CountMergeComparesOnPool(outputOrder, n, groupCount, pool, &total) == 0) return total;
  return CountMergeComparesHere(outputOrder, n, groupCount, scratch);
}

int StartStreamedCount(StreamedMergeCount *count, uint32_t n) {
  memset(count, 0, sizeof *count);
  const uint32_t groupCount = (n + kSortGroupSize - 1) / kSortGroupSize;
  count->groupCount = groupCount;
  count->prevSame = static_cast<uint64_t *>(AllocateZeroed(groupCount, sizeof(uint64_t)));
  count->stackPosition = static_cast<uint64_t *>(AllocateZeroed(groupCount, sizeof(uint64_t)));
  count->stackGroup = static_cast<uint32_t *>(AllocateZeroed(groupCount, sizeof(uint32_t)));
  count->remaining = static_cast<uint16_t *>(AllocateZeroed(groupCount, sizeof(uint16_t)));
  if (count->prevSame == nullptr || count->stackPosition == nullptr || count->stackGroup == nullptr ||
      count->remaining == nullptr) {
    return 2;
  }
  for (uint32_t g = 0; g < groupCount; g++) count->remaining[g] = kSortGroupSize;
  if (n % kSortGroupSize != 0) count->remaining[groupCount - 1] = n % kSortGroupSize;
  return 0;
}

// Streamed, "a lower group still has references" is firstUnfinished < g: nothing of the
// future is needed beyond it.
void CountEmitted(StreamedMergeCount *c, uint32_t g) {
  const uint64_t p = ++c->position;
  while (c->depth > 0 && c->stackGroup[c->depth - 1] >= g) c->depth--;
  const uint64_t prevLower = c->depth > 0 ? c->stackPosition[c->depth - 1] : 0;
  c->stackPosition[c->depth] = p;
  c->stackGroup[c->depth] = g;
  c->depth++;
  if (c->firstUnfinished < g) c->total += p - std::max(c->prevSame[g], prevLower);
  c->prevSame[g] = p;
  c->remaining[g]--;
  while (c->firstUnfinished < c->groupCount && c->remaining[c->firstUnfinished] == 0) c->firstUnfinished++;
}

void ReleaseStreamedCount(StreamedMergeCount *count) {
  free(count->prevSame);
  free(count->stackPosition);
  free(count->stackGroup);
  free(count->remaining);
  memset(count, 0, sizeof *count);
}
