#include "engine/groupsort.h"

#include <cstdlib>
#include <cstring>

#include "engine/keys.h"
#include "engine/merge.h"
#include "os/platform.h"
#include "engine/statreport.h"

uint64_t SortCompares = 0;
int SequenceErrorFlag = 0;

// Ranges shorter than this are not examined for a finished order: the partition is cheap there.
static const int kShortcutMinimum = 16;

// Exact unsigned byte order of two keys over T bytes: a before b. The prefixes decide unless
// they are equal; then the bytes after the first eight do.
static inline bool KeyBefore(const WorkSlot &a, const WorkSlot &b, const unsigned char *keys, uint64_t keyLength) {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  return keyLength > 8 && memcmp(keys + a.record * keyLength + 8, keys + b.record * keyLength + 8, keyLength - 8) < 0;
}

// A non-decreasing range of m references: each invocation's pivot is the smallest key, the
// right scan passes over every other key and the recursion goes right. Order unchanged.
static void FinishNonDecreasing(GroupWork *w, uint32_t m) {
  w->counters.invocations += m - 1;
  w->counters.returns += 1;
  w->counters.hiBranches += m - 1;
  w->compares += static_cast<uint64_t>(m) * (m - 1) / 2;
}

// A strictly decreasing range of m >= 2 references. The pivot (largest) goes to the end
// after m - 2 left-cursor advances and the recursion goes left; there the new first key is
// the smallest, the right scan passes over the m - 2 others and the recursion goes right
// into a strictly decreasing range of m - 2. The range comes out reversed.
static void FinishStrictlyDecreasing(GroupWork *w, int first, int last) {
  uint32_t m = static_cast<uint32_t>(last - first + 1);
  GroupCounters *c = &w->counters;
  for (;;) {
    if (m == 1) {
      c->returns++;
      break;
    }
    w->compares += m - 2;
    c->loBranches++;
    c->invocations++;
    const uint32_t k = m - 1;  // the range of the left recursion
    if (k == 1) {
      c->returns++;
      break;
    }
    w->compares += k - 1;
    c->hiBranches++;
    c->invocations++;
    m = k - 1;
  }
  for (int lo = first, hi = last; lo < hi; lo++, hi--) {
    WorkSlot swap = w->slots[lo];
    w->slots[lo] = w->slots[hi];
    w->slots[hi] = swap;
  }
}

// Tries the two shortcuts; returns 1 when the range is finished.
static int FinishOrderedRange(GroupWork *w, int first, int last) {
  const WorkSlot *s = w->slots;
  const unsigned char *keys = w->keys;
  const uint64_t keyLength = w->keyLength;
  int i = first;
  while (i < last && !KeyBefore(s[i + 1], s[i], keys, keyLength)) i++;
  if (i == last) {
    FinishNonDecreasing(w, static_cast<uint32_t>(last - first + 1));
    return 1;
  }
  if (i != first) return 0;
  while (i < last && KeyBefore(s[i + 1], s[i], keys, keyLength)) i++;
  if (i != last) return 0;
  FinishStrictlyDecreasing(w, first, last);
  return 1;
}

static void GroupQuicksort(GroupWork *w, int first, int last) {
  GroupCounters *c = &w->counters;
  c->invocations++;
  if (c->invocations > w->size) return;
  if (last - first + 1 >= kShortcutMinimum && FinishOrderedRange(w, first, last)) return;
  WorkSlot *s = w->slots;
  const unsigned char *keys = w->keys;
  const uint64_t keyLength = w->keyLength;
  const WorkSlot pivot = s[first];
  int lo = first;
  int hi = last;
  uint64_t compares = 0;
  while (hi > lo) {
    while (hi > lo && !KeyBefore(s[hi], pivot, keys, keyLength)) {  // key >= pivot
      hi--;
      compares++;
    }
    if (hi != lo) s[lo++] = s[hi];
    while (hi > lo && !KeyBefore(pivot, s[lo], keys, keyLength)) {  // key <= pivot
      lo++;
      compares++;
    }
    if (hi != lo) s[hi--] = s[lo];
  }
  w->compares += compares;
  const int p = lo;
  s[p] = pivot;
  if (first == last) c->returns++;
  if (p > first) {
    c->loBranches++;
    GroupQuicksort(w, first, p - 1);
  }
  if (p < last) {
    c->hiBranches++;
    GroupQuicksort(w, p + 1, last);
  }
}

uint64_t SortGroupWith(GroupWork *w, const unsigned char *keyArray, uint32_t keyLength, uint32_t *references,
                       uint64_t *prefixes, uint32_t size, GroupCounters *counters) {
  w->keys = keyArray;
  w->keyLength = keyLength;
  w->size = size;
  memset(&w->counters, 0, sizeof w->counters);
  w->compares = 0;
  for (uint32_t i = 0; i < size; i++) {
    w->slots[i].record = references[i];
    w->slots[i].prefix = KeyPrefix(keyArray + static_cast<uint64_t>(references[i]) * keyLength, keyLength);
  }
  GroupQuicksort(w, 0, static_cast<int>(size) - 1);
  for (uint32_t i = 0; i < size; i++) {
    references[i] = w->slots[i].record;
    prefixes[i] = w->slots[i].prefix;
  }
  *counters = w->counters;
  return w->compares;
}

void SortGroup(const unsigned char *keyArray, uint32_t keyLength, uint32_t *references, uint64_t *prefixes,
               uint32_t size, GroupCounters *counters) {
  GroupWork work;
  SortCompares += SortGroupWith(&work, keyArray, keyLength, references, prefixes, size, counters);
}

// Sorts group g of the workspace (a group of one reference only gets its prefix) and
// returns its cursor advances.
static uint64_t SortOneGroup(const SortWorkspace *ws, GroupWork *w, uint32_t g, GroupCounters *counters) {
  const uint32_t size = ws->groupSizes[g];
  const uint64_t start = static_cast<uint64_t>(g) * kSortGroupSize;
  memset(counters, 0, sizeof *counters);
  if (size > 1) {
    return SortGroupWith(w, ws->keyArray, ws->keyLength, ws->keyPointers + start, ws->keyPrefixes + start, size,
                         counters);
  }
  ws->keyPrefixes[start] = KeyPrefix(ws->keyArray + uint64_t{ws->keyPointers[start]} * ws->keyLength, ws->keyLength);
  return 0;
}

static const uint32_t kGroupsPerTask = 16;   // groups a worker takes at a time
static const uint32_t kGroupsPerReport = 64;  // groups between progress reports

// The groups sorted on a pool: each worker with its own work array; every group's counters
// are kept so that its line can be written in group order afterwards.
struct ParallelGroups {
  const SortWorkspace *ws;
  GroupWork *work;           // one per worker
  uint64_t *compares;        // one per worker
  GroupCounters *counters;   // one per group
};

static uint64_t SortGroupTask(void *context, uint32_t index, int worker) {
  ParallelGroups *job = static_cast<ParallelGroups *>(context);
  const uint32_t first = index * kGroupsPerTask;
  const uint32_t last = first + kGroupsPerTask < job->ws->groupCount ? first + kGroupsPerTask : job->ws->groupCount;
  for (uint32_t g = first; g < last; g++) {
    job->compares[worker] += SortOneGroup(job->ws, &job->work[worker], g, &job->counters[g]);
  }
  return last - first;
}

// Sorts every group on the pool and writes the lines. Returns 0, or 1 when the scratch
// could not be had (nothing done then). *last receives the last group's counters.
static int SortGroupsOnPool(SortWorkspace *ws, FILE *statistics, WorkPool *pool, SortProgressFunction reporter,
                            GroupCounters *last) {
  const int threads = WorkPoolThreads(pool);
  ParallelGroups job;
  job.ws = ws;
  job.work = static_cast<GroupWork *>(malloc(sizeof(GroupWork) * threads));
  job.compares = static_cast<uint64_t *>(calloc(threads, sizeof(uint64_t)));
  job.counters = static_cast<GroupCounters *>(calloc(ws->groupCount, sizeof(GroupCounters)));
  int result = 1;
  if (job.work != nullptr && job.compares != nullptr && job.counters != nullptr) {
    const PoolProgress progress = {reporter, kPhaseSorting, 0, ws->groupCount, kGroupsPerReport};
    RunPoolTasks(pool, SortGroupTask, &job, (ws->groupCount + kGroupsPerTask - 1) / kGroupsPerTask, &progress);
    for (int w = 0; w < threads; w++) SortCompares += job.compares[w];
    if (statistics != nullptr) {
      for (uint32_t g = 0; g < ws->groupCount; g++) WriteGroupStatistics(statistics, &job.counters[g]);
    }
    *last = job.counters[ws->groupCount - 1];
    result = 0;
  }
  free(job.work);
  free(job.compares);
  free(job.counters);
  return result;
}

int SortGroups(SortWorkspace *ws, FILE *statistics, uint32_t *mergeStart, WorkPool *pool,
               SortProgressFunction progress) {
  GroupCounters counters;
  memset(&counters, 0, sizeof counters);
  ReportProgress(progress, kPhaseSorting, 0, ws->groupCount);
  if (pool == nullptr || SortGroupsOnPool(ws, statistics, pool, progress, &counters) != 0) {
    GroupWork work;
    for (uint32_t g = 0; g < ws->groupCount; g++) {
      SortCompares += SortOneGroup(ws, &work, g, &counters);
      if (statistics != nullptr) WriteGroupStatistics(statistics, &counters);
      if (g % kGroupsPerReport == kGroupsPerReport - 1) ReportProgress(progress, kPhaseSorting, g + 1, ws->groupCount);
    }
  }
  // A correct partition makes exactly one invocation per reference; more means the sort went wrong.
  const uint32_t size = ws->groupSizes[ws->groupCount - 1];
  if (counters.invocations > size) {
    SequenceErrorFlag = 1;
    printf("\n Recursion Level Error: %d\n", static_cast<int>(counters.invocations));
    return 1;
  }
  MergeCompares = 0;
  *mergeStart = ElapsedMilliseconds();
  if (ws->groupCount == 1) {
    memcpy(ws->outputOrder, ws->keyPointers, sizeof(uint32_t) * ws->recordCount);
  } else {
    MergeGroups(ws, pool, progress);
  }
  return 0;
}
