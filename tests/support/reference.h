// Plain reference implementations of the group quicksort and the selection merge,
// written step by step as the sort is described, for differential tests of the fast code.
#ifndef PELMAR_TESTS_SUPPORT_REFERENCE_H
#define PELMAR_TESTS_SUPPORT_REFERENCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "engine/groupsort.h"
#include "engine/sorttypes.h"

// Keys of T bytes, key i at i * T.
struct ReferenceKeys {
  std::vector<unsigned char> bytes;
  uint32_t keyLength;
};

// The described quicksort of one group: sorts references in place, fills counters and
// returns the counted cursor advances.
uint64_t ReferenceGroupSort(const ReferenceKeys &keys, std::vector<uint32_t> *references, GroupCounters *counters);

// The described selection merge of sorted groups (group g holds references g*997 ...).
// Returns the output order; *compares receives MergeCompares.
std::vector<uint32_t> ReferenceMerge(const ReferenceKeys &keys, const std::vector<std::vector<uint32_t>> &groups,
                                     uint64_t *compares);

// The whole described sort of n keys: groups of 997 sorted by ReferenceGroupSort, then
// merged by ReferenceMerge (or taken as they stand when there is one group).
struct ReferenceSortResult {
  std::vector<uint32_t> order;
  std::vector<GroupCounters> counters;
  uint64_t sortCompares;
  uint64_t mergeCompares;
};
ReferenceSortResult ReferenceSort(const ReferenceKeys &keys);

// The engine's SortGroups over the same keys, laid out as a run lays them out (one key of
// T bytes per record), with the statistics lines it wrote; on a pool of that many threads
// when threads > 1.
struct EngineSortResult {
  std::vector<uint32_t> order;
  std::string statistics;
  uint64_t sortCompares;
  uint64_t mergeCompares;
};
EngineSortResult RunEngineSortGroups(const ReferenceKeys &keys, int threads = 1);

// The records of a fixed-length file (whole records only) in the order the described sort
// leaves them: keys built by the engine's key encoding, sorted by ReferenceSort.
std::string ExpectedFixedOutput(const std::string &bytes, const ParameterRecord &job);

#endif
