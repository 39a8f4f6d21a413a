// The arrays of one sort run, or of one part of an external run: the keys, the references
// the group sort orders, the output order the merge fills, the offsets and lengths of text
// lines, and the merge's own arrays. A reference is a record index: record i's key is
// keyArray + i * keyLength.
// Call order: AllocateWorkspace; then the scanner, the group sort and the merge work on it
// (an external run's part: ResetGroups before each part); ReleaseWorkspace at the end.
// WorkspaceBytes gives what AllocateWorkspace takes, for the memory budget's plans.
#ifndef PELMAR_ENGINE_WORKSPACE_H
#define PELMAR_ENGINE_WORKSPACE_H

#include <cstdint>

#include "engine/keys.h"

constexpr uint32_t kSortGroupSize = 997;  // references per sort group; the last group takes the rest

// With more groups than this, the merge takes two rounds: batches of this many groups
// first, then the batches, so that each round's tree stays small enough to be fast.
constexpr uint32_t kMergeBatch = 64;

// A node of the merge's loser tree: the group that lost the match there, with its head key's
// first eight bytes, so that most matches need no look-up.
struct MergeNode {
  uint64_t prefix;  // the head's key bytes 0 to 7, big-endian; all ones when the group is exhausted
  uint32_t group;   // group number
};

struct SortWorkspace {
  uint32_t recordCount;          // n
  uint32_t groupCount;           // G = n / 997 rounded up
  uint32_t keyLength;            // T, bytes per key
  unsigned char *keyArray;       // n * T bytes, record i's key at i * T
  uint32_t *keyPointers;         // n references; group g owns entries g * 997 onward
  uint64_t *keyPrefixes;         // beside keyPointers: each reference's key bytes 0 to 7, big-endian
  uint32_t *outputOrder;         // n references in final order, filled by the merge
  uint32_t *recordOffsets;       // variable-length records: byte offset of each record
  uint64_t *wideOffsets;         // the same for an input of 4 GiB or more, instead of recordOffsets
  uint16_t *recordLengths;       // variable-length records: bytes copied for each record
  uint16_t *groupSizes;          // G entries: 997, the last one the remainder
  // The merge's own arrays, allocated with the rest so that the merge allocates nothing.
  uint64_t *mergeScratch;        // 3 * G entries: the runs' cursors, ends and the tree's set-up
  MergeNode *mergeTree;          // G entries: the loser tree's nodes
  uint64_t *mergePrefixes;       // n entries when G > kMergeBatch: the key prefixes of the merge's first round
  uint64_t allocatedMemoryUsage; // the figure the statistics report gives, bytes
  bool uncountedMerge;           // a part of an external run: the merge of all its groups is counted instead
};

// Variable-length records: record i's byte offset in the bytes that were scanned.
inline uint64_t RecordOffset(const SortWorkspace *ws, uint32_t i) {
  return ws->wideOffsets != nullptr ? ws->wideOffsets[i] : ws->recordOffsets[i];
}

// The bytes AllocateWorkspace allocates for n records keyed by plan: every array, as allocated.
uint64_t WorkspaceBytes(uint64_t n, const KeyPlan *plan);

// Sizes the workspace for n records and the plan's keys (T = plan->keyLength), and
// allocates every array zero-filled, the groups set up as ResetGroups sets them. Returns 0;
// 1 when the keys of fixed-length records take more bytes of the record than it has
// (nothing allocated); 2 when an allocation failed. Fills ws->allocatedMemoryUsage with the
// report's figure, 12n + 4G + nT (+ 2n for variable-length records; with wide offsets,
// whose 8 bytes it counts, 4n more); the caller adds the record buffers.
int AllocateWorkspace(SortWorkspace *ws, uint32_t recordCount, const KeyPlan *plan);

// Sets the workspace up for its first n records (at most the count it was allocated for):
// groups of 997 and the remainder, each reference its own index.
void ResetGroups(SortWorkspace *ws, uint32_t n);

// Frees every array of the workspace (those allocated) and clears it.
void ReleaseWorkspace(SortWorkspace *ws);

#endif
