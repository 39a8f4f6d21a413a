#include "tests/support/reference.h"

#include <cstring>

#include <gtest/gtest.h>

#include "engine/keys.h"
#include "engine/merge.h"
#include "engine/sortrun.h"

namespace {

struct QuicksortState {
  const ReferenceKeys *keys;
  std::vector<const unsigned char *> slots;  // key addresses, as the described work array holds them
  GroupCounters counters;
  uint64_t compares;
  uint32_t size;
};

int Compare(const QuicksortState &q, const unsigned char *a, const unsigned char *b) {
  return memcmp(a, b, q.keys->keyLength);
}

void Quicksort(QuicksortState &q, int first, int last) {
  q.counters.invocations++;
  if (q.counters.invocations > q.size) return;
  const unsigned char *pivot = q.slots[first];
  int lo = first;
  int hi = last;
  if (hi > lo) {
    for (;;) {
      while (Compare(q, q.slots[hi], pivot) >= 0 && hi > lo) {
        hi = hi - 1;
        q.compares++;
      }
      if (hi != lo) {
        q.slots[lo] = q.slots[hi];
        lo = lo + 1;
      }
      while (Compare(q, q.slots[lo], pivot) <= 0 && hi > lo) {
        lo = lo + 1;
        q.compares++;
      }
      if (hi != lo) {
        q.slots[hi] = q.slots[lo];
        hi = hi - 1;
      }
      if (!(hi > lo)) break;
    }
  }
  int p = lo;
  q.slots[p] = pivot;
  if (first == last) q.counters.returns++;
  if (p > first) {
    q.counters.loBranches++;
    Quicksort(q, first, p - 1);
  }
  if (p < last) {
    q.counters.hiBranches++;
    Quicksort(q, p + 1, last);
  }
}

}  // namespace

uint64_t ReferenceGroupSort(const ReferenceKeys &keys, std::vector<uint32_t> *references, GroupCounters *counters) {
  QuicksortState q;
  q.keys = &keys;
  q.counters = GroupCounters{0, 0, 0, 0};
  q.compares = 0;
  q.size = static_cast<uint32_t>(references->size());
  for (uint32_t r : *references) q.slots.push_back(keys.bytes.data() + uint64_t{r} * keys.keyLength);
  if (q.size > 1) Quicksort(q, 0, static_cast<int>(q.size) - 1);
  for (size_t i = 0; i < q.slots.size(); i++) {
    (*references)[i] = static_cast<uint32_t>((q.slots[i] - keys.bytes.data()) / keys.keyLength);
  }
  *counters = q.counters;
  return q.compares;
}

std::vector<uint32_t> ReferenceMerge(const ReferenceKeys &keys, const std::vector<std::vector<uint32_t>> &groups,
                                     uint64_t *compares) {
  const size_t groupCount = groups.size();
  size_t n = 0;
  for (const auto &g : groups) n += g.size();
  std::vector<size_t> cursors(groupCount, 0);
  auto key = [&](uint32_t r) { return keys.bytes.data() + uint64_t{r} * keys.keyLength; };
  auto exhausted = [&](size_t g) { return cursors[g] == groups[g].size(); };
  std::vector<uint32_t> output;
  *compares = 0;
  uint32_t best = groups[0][0];
  size_t bestGroup = 0;
  for (;;) {  // MergeStep
    for (size_t g = 0; g < groupCount; g++) {
      if (exhausted(g) || g == bestGroup) continue;
      uint32_t head = groups[g][cursors[g]];
      if (memcmp(key(head), key(best), keys.keyLength) < 0) {
        best = head;
        bestGroup = g;
        (*compares)++;
      }
    }
    output.push_back(best);
    cursors[bestGroup]++;
    if (output.size() == n) return output;
    size_t lowest = 0;
    while (lowest < groupCount && exhausted(lowest)) lowest++;
    if (lowest == groupCount) return output;
    best = groups[lowest][cursors[lowest]];
    bestGroup = lowest;
  }
}

ReferenceSortResult ReferenceSort(const ReferenceKeys &keys) {
  ReferenceSortResult result;
  result.sortCompares = 0;
  result.mergeCompares = 0;
  const uint32_t n = static_cast<uint32_t>(keys.bytes.size() / keys.keyLength);
  std::vector<std::vector<uint32_t>> groups;
  for (uint32_t start = 0; start < n; start += kSortGroupSize) {
    std::vector<uint32_t> group;
    for (uint32_t i = start; i < n && i < start + kSortGroupSize; i++) group.push_back(i);
    GroupCounters counters;
    result.sortCompares += ReferenceGroupSort(keys, &group, &counters);
    result.counters.push_back(counters);
    groups.push_back(group);
  }
  if (groups.size() == 1) {
    result.order = groups[0];
  } else {
    result.order = ReferenceMerge(keys, groups, &result.mergeCompares);
  }
  return result;
}

EngineSortResult RunEngineSortGroups(const ReferenceKeys &keys, int threads) {
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  job.recordLength = static_cast<int32_t>(keys.keyLength);
  job.keyCount = 1;
  job.keys[0] = KeyField{1, static_cast<int32_t>(keys.keyLength), 'a', 'a'};
  const uint32_t n = static_cast<uint32_t>(keys.bytes.size() / keys.keyLength);
  SortWorkspace ws;
  EXPECT_EQ(AllocateWorkspace(&ws, n, &job), 0);
  memcpy(ws.keyArray, keys.bytes.data(), keys.bytes.size());
  FILE *statistics = tmpfile();
  SortCompares = 0;
  uint32_t mergeStart = 0;
  WorkPool *pool = threads > 1 ? StartWorkPool(threads) : nullptr;
  EXPECT_EQ(SortGroups(&ws, statistics, &mergeStart, pool), 0);
  StopWorkPool(pool);
  EngineSortResult result;
  result.order.assign(ws.outputOrder, ws.outputOrder + n);
  result.sortCompares = SortCompares;
  result.mergeCompares = MergeCompares;
  rewind(statistics);
  char line[256];
  while (fgets(line, sizeof line, statistics) != nullptr) result.statistics += line;
  fclose(statistics);
  ReleaseWorkspace(&ws);
  return result;
}

std::string ExpectedFixedOutput(const std::string &bytes, const ParameterRecord &job) {
  KeyPlan plan;
  PrepareKeyPlan(job.keys, job.keyCount, false, &plan);
  const size_t length = static_cast<size_t>(job.recordLength);
  const size_t n = bytes.size() / length;
  ReferenceKeys keys;
  keys.keyLength = plan.keyLength;
  keys.bytes.resize(n * plan.keyLength);
  for (size_t i = 0; i < n; i++) {
    BuildFixedKey(&plan, reinterpret_cast<const unsigned char *>(bytes.data()) + i * length,
                  keys.bytes.data() + i * plan.keyLength);
  }
  std::string output;
  for (uint32_t i : ReferenceSort(keys).order) output += bytes.substr(i * length, length);
  return output;
}
