#include "engine/merge.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/mergecount.h"

uint64_t MergeCompares = 0;

static const uint64_t kExhausted = ~uint64_t{0};  // the prefix of a run with no references left

// Sorted runs of references being merged: run r's next reference is at cursor[r], its
// end at end[r]. Among equal keys the lower-numbered run goes first, so merging
// consecutive groups, or consecutive merged batches of groups, keeps the group order.
struct RunSet {
  const unsigned char *keys;  // keyArray
  uint64_t keyLength;         // T
  const uint32_t *refs;       // the runs' references
  const uint64_t *prefixes;   // beside them, each reference's key prefix
  uint64_t *cursor;           // per run
  uint64_t *end;              // per run
  uint32_t runCount;
};

static inline uint64_t HeadPrefix(const RunSet *runs, uint32_t r) {
  return runs->cursor[r] == runs->end[r] ? kExhausted : runs->prefixes[runs->cursor[r]];
}

// Decides a match whose two heads have equal prefixes: the rest of the keys, then the run
// numbers. Exhausted runs lose to every run that has references left.
static bool TieBefore(const RunSet *runs, uint32_t a, uint32_t b) {
  const bool doneA = runs->cursor[a] == runs->end[a];
  const bool doneB = runs->cursor[b] == runs->end[b];
  if (doneA || doneB) return !doneA || (doneB && a < b);
  if (runs->keyLength > 8) {
    const unsigned char *keyA = runs->keys + runs->refs[runs->cursor[a]] * runs->keyLength;
    const unsigned char *keyB = runs->keys + runs->refs[runs->cursor[b]] * runs->keyLength;
    int order = memcmp(keyA + 8, keyB + 8, runs->keyLength - 8);
    if (order != 0) return order < 0;
  }
  return a < b;
}

// Merges count references of the runs into outRefs (and outPrefixes, unless null) with a
// loser tree: leaves are nodes R to 2R-1 (run r at R + r), node i's children are 2i and
// 2i+1, each inner node keeps the loser of its match and the winner is kept apart.
// tree holds R nodes, winners R entries. progress (null: none) is reported as a pool job
// reports it, this merge being one task of it that follows before references merged:
// base + before + k at every k that is a multiple of the interval.
static void MergeRuns(RunSet *runs, MergeNode *tree, uint64_t *winners, uint32_t *outRefs, uint64_t *outPrefixes,
                      uint64_t count, const PoolProgress *progress, uint64_t before) {
  const uint32_t runCount = runs->runCount;
  auto entrant = [&](uint32_t node) { return node >= runCount ? node - runCount : static_cast<uint32_t>(winners[node]); };
  for (uint32_t node = runCount - 1; node >= 1; node--) {
    const uint32_t left = entrant(2 * node);
    const uint32_t right = entrant(2 * node + 1);
    const uint64_t leftPrefix = HeadPrefix(runs, left);
    const uint64_t rightPrefix = HeadPrefix(runs, right);
    const bool rightWins = rightPrefix < leftPrefix || (rightPrefix == leftPrefix && TieBefore(runs, right, left));
    winners[node] = rightWins ? right : left;
    tree[node].group = rightWins ? left : right;
    tree[node].prefix = rightWins ? leftPrefix : rightPrefix;
  }
  uint32_t winner = entrant(1);
  uint64_t winnerPrefix = HeadPrefix(runs, winner);
  for (uint64_t k = 0; k < count; k++) {
    const uint64_t at = runs->cursor[winner]++;
    outRefs[k] = runs->refs[at];
    if (outPrefixes != nullptr) outPrefixes[k] = winnerPrefix;
    winnerPrefix = at + 1 == runs->end[winner] ? kExhausted : runs->prefixes[at + 1];
    // The run's next lines, which it needs long after the other runs have been through the cache.
    __builtin_prefetch(runs->prefixes + at + 8);
    __builtin_prefetch(runs->refs + at + 16);
    for (uint32_t node = (winner + runCount) >> 1; node >= 1; node >>= 1) {
      const uint64_t challengerPrefix = tree[node].prefix;
      const uint32_t challenger = tree[node].group;
      bool challengerWins = challengerPrefix < winnerPrefix;
      if (challengerPrefix == winnerPrefix) challengerWins = TieBefore(runs, challenger, winner);
      // Masks rather than a branch: the outcome of a match is unpredictable.
      const uint64_t mask = uint64_t{0} - static_cast<uint64_t>(challengerWins);
      const uint32_t runMask = static_cast<uint32_t>(mask);
      tree[node].prefix = (winnerPrefix & mask) | (challengerPrefix & ~mask);
      tree[node].group = (winner & runMask) | (challenger & ~runMask);
      winnerPrefix = (challengerPrefix & mask) | (winnerPrefix & ~mask);
      winner = (challenger & runMask) | (winner & ~runMask);
    }
    if (progress != nullptr && (before + k + 1) % progress->interval == 0) {
      ReportProgress(progress->reporter, progress->phase, progress->base + before + k + 1, progress->total);
    }
  }
}

// Sets up runs over refs[first, last) cut into runs of runLength references.
static void CutRuns(RunSet *runs, uint64_t first, uint64_t last, uint64_t runLength) {
  runs->runCount = 0;
  for (uint64_t start = first; start < last; start += runLength) {
    runs->cursor[runs->runCount] = start;
    runs->end[runs->runCount] = std::min(start + runLength, last);
    runs->runCount++;
  }
}

// Order of two keys given by reference and prefix: a before b, exactly.
static bool KeyBefore(const SortWorkspace *ws, uint32_t refA, uint64_t prefixA, uint32_t refB, uint64_t prefixB) {
  if (prefixA != prefixB) return prefixA < prefixB;
  const uint64_t keyLength = ws->keyLength;
  return keyLength > 8 &&
         memcmp(ws->keyArray + refA * keyLength + 8, ws->keyArray + refB * keyLength + 8, keyLength - 8) < 0;
}

// Groups whose key ranges do not interleave (sorted input, all keys equal, reverse sorted
// input) merge into the groups laid end to end, by their first keys. Returns 1 when that
// is so and outputOrder is filled; 0 when some groups interleave (nothing written).
static int ConcatenateGroups(SortWorkspace *ws) {
  const uint32_t groupCount = ws->groupCount;
  const uint32_t *refs = ws->keyPointers;
  const uint64_t *prefixes = ws->keyPrefixes;
  auto first = [&](uint32_t g) { return uint64_t{g} * kSortGroupSize; };
  auto last = [&](uint32_t g) { return first(g) + ws->groupSizes[g] - 1; };
  uint64_t *order = ws->mergeScratch;
  for (uint32_t g = 0; g < groupCount; g++) order[g] = g;
  std::sort(order, order + groupCount, [&](uint64_t a, uint64_t b) {
    const uint64_t fa = first(static_cast<uint32_t>(a)), fb = first(static_cast<uint32_t>(b));
    if (KeyBefore(ws, refs[fa], prefixes[fa], refs[fb], prefixes[fb])) return true;
    if (KeyBefore(ws, refs[fb], prefixes[fb], refs[fa], prefixes[fa])) return false;
    return a < b;
  });
  // Each group must end before the next one starts; an equal key may end it only when
  // the next group is the higher-numbered one, whose equal keys come later anyway.
  for (uint32_t i = 0; i + 1 < groupCount; i++) {
    const uint32_t x = static_cast<uint32_t>(order[i]), y = static_cast<uint32_t>(order[i + 1]);
    const uint64_t lx = last(x), fy = first(y);
    if (KeyBefore(ws, refs[fy], prefixes[fy], refs[lx], prefixes[lx])) return 0;
    if (x > y && !KeyBefore(ws, refs[lx], prefixes[lx], refs[fy], prefixes[fy])) return 0;
  }
  uint32_t *out = ws->outputOrder;
  for (uint32_t i = 0; i < groupCount; i++) {
    const uint32_t g = static_cast<uint32_t>(order[i]);
    memcpy(out, refs + first(g), sizeof(uint32_t) * ws->groupSizes[g]);
    out += ws->groupSizes[g];
  }
  return 1;
}

static void MergeGroupsHere(SortWorkspace *ws, SortProgressFunction reporter) {
  const uint64_t n = ws->recordCount;
  const uint32_t groupCount = ws->groupCount;
  RunSet runs;
  runs.keys = ws->keyArray;
  runs.keyLength = ws->keyLength;
  runs.cursor = ws->mergeScratch;
  runs.end = ws->mergeScratch + groupCount;
  uint64_t *winners = ws->mergeScratch + 2 * uint64_t{groupCount};
  if (groupCount <= kMergeBatch) {
    runs.refs = ws->keyPointers;
    runs.prefixes = ws->keyPrefixes;
    CutRuns(&runs, 0, n, kSortGroupSize);
    const PoolProgress progress = {reporter, kPhaseMerging, 0, n, kProgressInterval};
    MergeRuns(&runs, ws->mergeTree, winners, ws->outputOrder, nullptr, n, &progress, 0);
  } else {
    // First round: each batch of 64 groups into one run, in outputOrder and mergePrefixes.
    const uint64_t batchLength = uint64_t{kMergeBatch} * kSortGroupSize;
    runs.refs = ws->keyPointers;
    runs.prefixes = ws->keyPrefixes;
    const PoolProgress first = {reporter, kPhaseMerging, 0, 2 * n, kProgressInterval};
    for (uint64_t start = 0; start < n; start += batchLength) {
      const uint64_t last = std::min(start + batchLength, n);
      CutRuns(&runs, start, last, kSortGroupSize);
      MergeRuns(&runs, ws->mergeTree, winners, ws->outputOrder + start, ws->mergePrefixes + start, last - start,
                &first, start);
    }
    // Second round: the batches into keyPointers, which then becomes the output order.
    runs.refs = ws->outputOrder;
    runs.prefixes = ws->mergePrefixes;
    CutRuns(&runs, 0, n, batchLength);
    const PoolProgress second = {reporter, kPhaseMerging, n, 2 * n, kProgressInterval};
    MergeRuns(&runs, ws->mergeTree, winners, ws->keyPointers, nullptr, n, &second, 0);
    std::swap(ws->keyPointers, ws->outputOrder);
  }
}

// The merge on a pool. The output order is cut into key ranges at splitters: references
// sampled evenly from the groups and sorted in the merge's own order, which is the order of
// (key, group, position in the group). That order has no ties, so for each splitter every
// group has one exact cut: its references before the splitter come out before it. Ranges
// between consecutive splitters are merged at once, each into its own part of the order;
// a run of one repeated key can be cut anywhere, since the group decides among equal keys.

static const uint32_t kRangesPerThread = 4;    // ranges per worker, so that a slow worker holds up little
static const uint32_t kSamplesPerRange = 16;   // samples taken for each range's splitter

// One reference of a group, by where it stands: array index g * 997 + position.
static bool SlotBefore(const SortWorkspace *ws, uint64_t a, uint64_t b) {
  const uint32_t refA = ws->keyPointers[a], refB = ws->keyPointers[b];
  if (KeyBefore(ws, refA, ws->keyPrefixes[a], refB, ws->keyPrefixes[b])) return true;
  if (KeyBefore(ws, refB, ws->keyPrefixes[b], refA, ws->keyPrefixes[a])) return false;
  return a < b;  // equal keys: the lower group, then the lower position, comes first
}

struct ParallelMerge {
  SortWorkspace *ws;
  uint32_t rangeCount;
  uint64_t *splitters;     // rangeCount - 1 array indices, in merge order
  uint16_t *cuts;          // (rangeCount + 1) rows of G: group g's references before range j
  uint64_t *rangeStart;    // rangeCount + 1 positions in the output order
  uint64_t *scratch;       // per worker: 3 * runLimit
  MergeNode *trees;        // per worker: runLimit
  uint64_t runLimit;       // the most runs one merge has: G, or with two rounds a batch or the batches
  bool twoRounds;
};

// Row j of the cuts: for every group, how many of its references come before splitter j - 1.
static uint64_t CutTask(void *context, uint32_t index, int) {
  ParallelMerge *job = static_cast<ParallelMerge *>(context);
  const SortWorkspace *ws = job->ws;
  const uint32_t j = index + 1;
  const uint64_t splitter = job->splitters[index];
  uint16_t *row = job->cuts + uint64_t{j} * ws->groupCount;
  uint64_t total = 0;
  for (uint32_t g = 0; g < ws->groupCount; g++) {
    uint32_t low = 0, high = ws->groupSizes[g];  // the first reference not before the splitter
    const uint64_t first = uint64_t{g} * kSortGroupSize;
    while (low < high) {
      const uint32_t middle = (low + high) / 2;
      if (SlotBefore(ws, first + middle, splitter)) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    row[g] = static_cast<uint16_t>(low);
    total += low;
  }
  job->rangeStart[j] = total;
  return 0;
}

// Merges range index of every group in the given runs of refs/prefixes into out.
static void MergeRange(const ParallelMerge *job, int worker, RunSet *runs, uint32_t *outRefs, uint64_t *outPrefixes,
                       uint64_t count) {
  const uint64_t limit = job->runLimit;
  MergeRuns(runs, job->trees + worker * limit, job->scratch + worker * 3 * limit + 2 * limit, outRefs, outPrefixes,
            count, nullptr, 0);
}

// Sets up run r of a range over the groups' cuts: group g's references between row j and j + 1.
static void SetRangeRuns(const ParallelMerge *job, RunSet *runs, uint32_t j, uint32_t firstGroup, uint32_t lastGroup) {
  const uint64_t groupCount = job->ws->groupCount;
  const uint16_t *low = job->cuts + uint64_t{j} * groupCount;
  const uint16_t *high = low + groupCount;
  runs->runCount = 0;
  for (uint32_t g = firstGroup; g < lastGroup; g++) {
    runs->cursor[runs->runCount] = uint64_t{g} * kSortGroupSize + low[g];
    runs->end[runs->runCount] = uint64_t{g} * kSortGroupSize + high[g];
    runs->runCount++;
  }
}

static void StartRuns(const ParallelMerge *job, int worker, RunSet *runs) {
  runs->keys = job->ws->keyArray;
  runs->keyLength = job->ws->keyLength;
  runs->cursor = job->scratch + worker * 3 * job->runLimit;
  runs->end = runs->cursor + job->runLimit;
}

// One round, or the first of two: range index of all groups, or of each batch of groups.
static uint64_t MergeRangeTask(void *context, uint32_t index, int worker) {
  ParallelMerge *job = static_cast<ParallelMerge *>(context);
  SortWorkspace *ws = job->ws;
  RunSet runs;
  StartRuns(job, worker, &runs);
  runs.refs = ws->keyPointers;
  runs.prefixes = ws->keyPrefixes;
  const uint64_t start = job->rangeStart[index];
  const uint64_t count = job->rangeStart[index + 1] - start;
  if (!job->twoRounds) {
    SetRangeRuns(job, &runs, index, 0, ws->groupCount);
    MergeRange(job, worker, &runs, ws->outputOrder + start, nullptr, count);
    return count;
  }
  uint64_t at = start;
  for (uint32_t batch = 0; batch < ws->groupCount; batch += kMergeBatch) {
    const uint32_t end = batch + kMergeBatch < ws->groupCount ? batch + kMergeBatch : ws->groupCount;
    SetRangeRuns(job, &runs, index, batch, end);
    uint64_t length = 0;
    for (uint32_t r = 0; r < runs.runCount; r++) length += runs.end[r] - runs.cursor[r];
    MergeRange(job, worker, &runs, ws->outputOrder + at, ws->mergePrefixes + at, length);
    at += length;
  }
  return count;
}

// The second round: the range's merged batches, from outputOrder into keyPointers.
static uint64_t MergeBatchesTask(void *context, uint32_t index, int worker) {
  ParallelMerge *job = static_cast<ParallelMerge *>(context);
  SortWorkspace *ws = job->ws;
  const uint64_t groupCount = ws->groupCount;
  RunSet runs;
  StartRuns(job, worker, &runs);
  runs.refs = ws->outputOrder;
  runs.prefixes = ws->mergePrefixes;
  const uint16_t *low = job->cuts + uint64_t{index} * groupCount;
  const uint16_t *high = low + groupCount;
  const uint64_t start = job->rangeStart[index];
  uint64_t at = start;
  runs.runCount = 0;
  for (uint32_t batch = 0; batch < groupCount; batch += kMergeBatch) {
    const uint32_t end = batch + kMergeBatch < groupCount ? batch + kMergeBatch : static_cast<uint32_t>(groupCount);
    uint64_t length = 0;
    for (uint32_t g = batch; g < end; g++) length += high[g] - low[g];
    runs.cursor[runs.runCount] = at;
    runs.end[runs.runCount] = at + length;
    runs.runCount++;
    at += length;
  }
  MergeRange(job, worker, &runs, ws->keyPointers + start, nullptr, at - start);
  return at - start;
}

// Splitters from samples evenly spread over the groups' slices, then each group's cuts at
// them and where each range starts in the output order.
static void CutIntoRanges(ParallelMerge *job, WorkPool *pool, uint64_t sampleCount) {
  SortWorkspace *ws = job->ws;
  const uint64_t n = ws->recordCount;
  for (uint64_t s = 0; s < sampleCount; s++) job->splitters[s] = s * n / sampleCount;
  std::sort(job->splitters, job->splitters + sampleCount, [ws](uint64_t a, uint64_t b) { return SlotBefore(ws, a, b); });
  for (uint32_t j = 1; j < job->rangeCount; j++) job->splitters[j - 1] = job->splitters[j * sampleCount / job->rangeCount];
  uint16_t *lastRow = job->cuts + uint64_t{job->rangeCount} * ws->groupCount;
  for (uint64_t g = 0; g < ws->groupCount; g++) lastRow[g] = ws->groupSizes[g];
  job->rangeStart[job->rangeCount] = n;
  RunPoolTasks(pool, CutTask, job, job->rangeCount - 1, nullptr);
}

// Returns 0, or 1 when the scratch could not be had (nothing done then).
static int MergeGroupsOnPool(SortWorkspace *ws, WorkPool *pool, SortProgressFunction reporter) {
  const uint64_t n = ws->recordCount;
  const uint64_t groupCount = ws->groupCount;
  const int threads = WorkPoolThreads(pool);
  ParallelMerge job;
  job.ws = ws;
  job.rangeCount = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{kRangesPerThread} * threads, n));
  job.twoRounds = groupCount > kMergeBatch;
  job.runLimit = groupCount;
  if (job.twoRounds) job.runLimit = std::max<uint64_t>(kMergeBatch, (groupCount + kMergeBatch - 1) / kMergeBatch);
  const uint64_t sampleCount = std::min(uint64_t{job.rangeCount} * kSamplesPerRange, n);
  job.splitters = static_cast<uint64_t *>(malloc(sizeof(uint64_t) * sampleCount));
  job.cuts = static_cast<uint16_t *>(calloc((job.rangeCount + 1) * groupCount, sizeof(uint16_t)));
  job.rangeStart = static_cast<uint64_t *>(calloc(job.rangeCount + 1, sizeof(uint64_t)));
  job.scratch = static_cast<uint64_t *>(malloc(sizeof(uint64_t) * 3 * job.runLimit * threads));
  job.trees = static_cast<MergeNode *>(malloc(sizeof(MergeNode) * job.runLimit * threads));
  int result = 1;
  if (job.splitters != nullptr && job.cuts != nullptr && job.rangeStart != nullptr && job.scratch != nullptr &&
      job.trees != nullptr) {
    CutIntoRanges(&job, pool, sampleCount);
    const uint64_t total = job.twoRounds ? 2 * n : n;
    const PoolProgress first = {reporter, kPhaseMerging, 0, total, kProgressInterval};
    RunPoolTasks(pool, MergeRangeTask, &job, job.rangeCount, &first);
    if (job.twoRounds) {
      const PoolProgress second = {reporter, kPhaseMerging, n, total, kProgressInterval};
      RunPoolTasks(pool, MergeBatchesTask, &job, job.rangeCount, &second);
      std::swap(ws->keyPointers, ws->outputOrder);
    }
    result = 0;
  }
  free(job.splitters);
  free(job.cuts);
  free(job.rangeStart);
  free(job.scratch);
  free(job.trees);
  return result;
}

void MergeGroups(SortWorkspace *ws, WorkPool *pool, SortProgressFunction progress) {
  const uint64_t n = ws->recordCount;
  ReportProgress(progress, kPhaseMerging, 0, ws->groupCount > kMergeBatch ? 2 * n : n);
  if (ConcatenateGroups(ws)) {
    // Already in order: nothing to merge.
  } else if (pool == nullptr || MergeGroupsOnPool(ws, pool, progress) != 0) {
    MergeGroupsHere(ws, progress);
  }
  if (!ws->uncountedMerge) {
    MergeCompares = CountMergeCompares(ws->outputOrder, ws->recordCount, ws->groupCount, ws->mergeScratch, pool);
  }
}
