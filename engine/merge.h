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
// head of a later group that replaces the best so far. CountMergeCompares recovers exactly
// that count from the emitted order in O(n).
#ifndef PELMAR_ENGINE_MERGE_H
#define PELMAR_ENGINE_MERGE_H

#include <cstdint>

#include "engine/workpool.h"
#include "engine/workspace.h"

// With more groups than this, the merge takes two rounds: batches of this many groups
// first, then the batches, so that each round's tree stays small enough to be fast.
constexpr uint32_t kMergeBatch = 64;

extern uint64_t MergeCompares;  // replacements of the best head, as the selection merge counts them

// Merges ws's G >= 2 sorted groups of keyPointers into outputOrder and sets MergeCompares.
// Uses the workspace's tree and scratch arrays (and mergePrefixes when G > kMergeBatch);
// with two rounds, keyPointers and outputOrder trade places. Without a pool it allocates
// nothing; with one, the output is cut into key ranges merged on the workers (each worker
// takes a tree and cursors for G runs, and the cuts take 2 bytes a group a range), giving
// exactly the order of the merge on one thread.
void MergeGroups(SortWorkspace *ws, WorkPool *pool);

// The selection merge's compare count for an emitted order of n references over G groups
// (a reference's group is its record index / 997). scratch holds 3 * G entries. With a pool
// the order is counted in slices on the workers (4 bytes a group for every slice, and
// 8 bytes a group for each worker), with the same count.
uint64_t CountMergeCompares(const uint32_t *outputOrder, uint32_t n, uint32_t groupCount, uint64_t *scratch,
                            WorkPool *pool);

#endif
