// Group merge: combines the sorted sort groups into the final order.
//
// The order is that of a merge by selection: each step emits the smallest head among the
// groups that have references left; among equal heads the lowest-numbered group's goes
// first. Groups are consecutive runs of input records, so a record of an earlier group
// comes before an equal-keyed record of a later group.
// Example: group 0 holds keys 2 5, group 1 holds 1 5: the output is 1 (group 1), 2, 5
// (group 0), 5 (group 1).
//
// A tournament (loser) tree over the group heads gives that order in O(n log G).
// MergeCompares is the count the selection merge would make: in each step it starts with
// the head of the lowest group that has references left and counts every strictly smaller
// head of a later group that replaces the best so far. CountMergeCompares (mergecount.h)
// recovers exactly that count from the emitted order in O(n).
#ifndef PELMAR_ENGINE_MERGE_H
#define PELMAR_ENGINE_MERGE_H

#include <cstdint>

#include "engine/runprogress.h"
#include "engine/workpool.h"
#include "engine/workspace.h"

extern uint64_t MergeCompares;  // replacements of the best head, as the selection merge counts them

// Merges ws's G >= 2 sorted groups of keyPointers into outputOrder and sets MergeCompares.
// Uses the workspace's tree and scratch arrays (and mergePrefixes when G > kMergeBatch);
// with two rounds, keyPointers and outputOrder trade places. Without a pool it allocates
// nothing; with one, the output is cut into key ranges merged on the workers (each worker
// takes a tree and cursors for G runs, and the cuts take 2 bytes a group a range), giving
// exactly the order of the merge on one thread. Progress goes to progress (kPhaseMerging,
// in references merged: n, or 2n with two rounds), the same on any pool.
void MergeGroups(SortWorkspace *ws, WorkPool *pool, SortProgressFunction progress);

#endif
