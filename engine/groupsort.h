// Group quicksort: the keys of a run are sorted in sort groups of at most 997 references,
// each by a recursive quicksort that counts what it does, and the sorted groups are then
// merged (merge.h). Call order: SortGroups once per run after every key is built, or, in an
// external run, once per part.
//
// The quicksort takes the first slot of a range as pivot and partitions with a hole: the
// pivot's slot is filled from the right, the slot this empties from the left, and so on
// until the cursors meet, where the pivot goes. Only cursor advances are counted
// (SortCompares). Keys equal to the pivot are passed over by both scans, so equal keys
// may change places: keys B, A, A of records 1, 2, 3 come out as records 3, 2, 1.
// A range already in non-decreasing order, or in strictly decreasing order, is finished
// in one step with exactly the counts and the order the step-by-step partition gives.
#ifndef PELMAR_ENGINE_GROUPSORT_H
#define PELMAR_ENGINE_GROUPSORT_H

#include <cstdint>
#include <cstdio>

#include "engine/runprogress.h"
#include "engine/statreport.h"
#include "engine/workpool.h"
#include "engine/workspace.h"

// A work slot: the reference and its key's first eight bytes as a big-endian number,
// so that most comparisons are one integer comparison.
struct WorkSlot {
  uint64_t prefix;  // key bytes 0 to 7, most significant first, zero-padded
  uint32_t record;  // record index
};

// The work array of the group being sorted, and what the comparisons need. Each thread
// that sorts groups has its own.
struct GroupWork {
  WorkSlot slots[kSortGroupSize];
  const unsigned char *keys;  // keyArray
  uint32_t keyLength;         // T
  uint32_t size;              // references in the group
  GroupCounters counters;
  uint64_t compares;          // cursor advances in this group
};

extern uint64_t SortCompares;  // partition cursor advances of the run, over all groups
extern int SequenceErrorFlag;  // set when a group's invocations exceeded its size

// Sorts size references (record indices into keyArray, keys of keyLength bytes) in place
// in the work array w and fills counters; returns the cursor advances. prefixes receives
// each sorted reference's KeyPrefix, for the merge. size is 1 to 997.
uint64_t SortGroupWith(GroupWork *w, const unsigned char *keyArray, uint32_t keyLength, uint32_t *references,
                       uint64_t *prefixes, uint32_t size, GroupCounters *counters);

// The same with a work array of its own, adding the cursor advances to SortCompares.
void SortGroup(const unsigned char *keyArray, uint32_t keyLength, uint32_t *references, uint64_t *prefixes,
               uint32_t size, GroupCounters *counters);

// Sorts every group of ws->keyPointers, writing one line per group to statistics unless it
// is null, then fills ws->outputOrder: the one group as it stands, or the merge of all.
// *mergeStart receives the clock reading taken just before the merge.
// With a pool, the groups are sorted and merged on its workers, each group with the same
// result as alone; the counters are added up and the lines written in group order here.
// Progress (kPhaseSorting in groups, then the merge's) goes to progress, unless it is null.
// Returns 0, or 1 on a sequence error (SequenceErrorFlag set, nothing merged).
int SortGroups(SortWorkspace *ws, FILE *statistics, uint32_t *mergeStart, WorkPool *pool,
               SortProgressFunction progress);

#endif
