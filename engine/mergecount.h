// The selection merge's compare count (merge.h), recovered from the order the merge emitted
// rather than counted by a merge by selection, in two forms: CountMergeCompares over a
// whole order in memory, and a streamed count kept as an external run's last merge emits
// its references one at a time (StartStreamedCount, CountEmitted for each,
// ReleaseStreamedCount). All give the same count for the same order.
//
// The rule, for the reference emitted at position r (1-based) from group g: the selection
// merge counts one replacement in every step s with max(prevSame, prevLower) < s <= r,
// provided a lower group still has references then:
//   prevSame  = the last position before r emitted from g,
//   prevLower = the last position before r emitted from any group below g.
// In those steps the reference is g's head and no lower group's head is smaller or equal,
// since all of them come out after it. Example: groups 0 and 1 sorted to keys 2 5 and 1 5
// emit 1 (group 1), 2, 5, 5: the first reference of group 1 is counted once (step 1, with
// group 0's head 2 still to come), the rest nothing: MergeCompares is 1.
#ifndef PELMAR_ENGINE_MERGECOUNT_H
#define PELMAR_ENGINE_MERGECOUNT_H

#include <cstdint>

#include "engine/workpool.h"

// The count for an emitted order of n references over G groups (a reference's group is its
// record index / 997). scratch holds 3 * G entries. With a pool the order is counted in
// slices on the workers (4 bytes a group for every slice, and 8 bytes a group for each
// worker), with the same count.
uint64_t CountMergeCompares(const uint32_t *outputOrder, uint32_t n, uint32_t groupCount, uint64_t *scratch,
                            WorkPool *pool);

// The streamed count. Of the future it needs only whether a lower group still has references
// left, and the lowest group with any left only grows.
struct StreamedMergeCount {
  uint64_t *prevSame;       // G: each group's last position so far; 0 for none
  uint64_t *stackPosition;  // positions of increasing groups, the nearest lower group on top
  uint32_t *stackGroup;
  uint16_t *remaining;      // G: references not yet emitted
  uint64_t depth;           // entries on the stack
  uint32_t firstUnfinished; // the lowest group with references left
  uint32_t groupCount;      // G
  uint64_t position;        // references emitted
  uint64_t total;           // the count so far
};

// Sets the count up for n records in groups of 997. Returns 0, or 2 when its arrays (22
// bytes a group) cannot be had.
int StartStreamedCount(StreamedMergeCount *count, uint32_t n);

// One more reference emitted, from group g.
void CountEmitted(StreamedMergeCount *count, uint32_t g);

// Frees the arrays; nothing for a count never started.
void ReleaseStreamedCount(StreamedMergeCount *count);

#endif
