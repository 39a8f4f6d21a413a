#include "engine/merge.h"

#include <cstring>

#include "engine/progress.h"

uint64_t MergeCompares = 0;

// The heads of the groups during one merge.
struct MergeState {
  const unsigned char *keys;   // keyArray
  uint64_t keyLength;          // T
  const uint32_t *pointers;    // keyPointers
  const uint16_t *sizes;       // groupSizes
  uint16_t *cursors;           // references of each group already emitted
  uint64_t *prefixes;          // each group's head key bytes 0 to 7, big-endian; all ones when exhausted
  uint32_t groupCount;         // G
};

static uint64_t LoadPrefix(const unsigned char *key, uint64_t keyLength) {
  if (keyLength >= 8) {
    uint64_t bits;
    memcpy(&bits, key, 8);
    return __builtin_bswap64(bits);
  }
  uint64_t prefix = 0;
  for (uint64_t j = 0; j < keyLength; j++) prefix |= static_cast<uint64_t>(key[j]) << (56 - 8 * j);
  return prefix;
}

static inline uint32_t HeadRecord(const MergeState *m, uint32_t g) {
  return m->pointers[static_cast<uint64_t>(g) * kSortGroupSize + m->cursors[g]];
}

// Loads group g's head prefix after its cursor moved, and prefetches the key after it.
static inline void LoadHead(MergeState *m, uint32_t g) {
  if (m->cursors[g] == m->sizes[g]) {
    m->prefixes[g] = ~uint64_t{0};
    return;
  }
  const uint32_t record = HeadRecord(m, g);
  m->prefixes[g] = LoadPrefix(m->keys + record * m->keyLength, m->keyLength);
  if (m->cursors[g] + 1u < m->sizes[g]) {
    const uint32_t next = m->pointers[static_cast<uint64_t>(g) * kSortGroupSize + m->cursors[g] + 1];
    __builtin_prefetch(m->keys + next * m->keyLength);
  }
}

// The tournament order: a's head before b's head. Exhausted groups come last.
static inline bool HeadBefore(const MergeState *m, uint32_t a, uint32_t b) {
  const uint64_t pa = m->prefixes[a];
  const uint64_t pb = m->prefixes[b];
  if (pa != pb) return pa < pb;
  const bool doneA = m->cursors[a] == m->sizes[a];
  const bool doneB = m->cursors[b] == m->sizes[b];
  if (doneA || doneB) return !doneA || (doneB && a < b);
  if (m->keyLength > 8) {
    int order = memcmp(m->keys + HeadRecord(m, a) * m->keyLength + 8, m->keys + HeadRecord(m, b) * m->keyLength + 8,
                       m->keyLength - 8);
    if (order != 0) return order < 0;
  }
  return a < b;
}

void MergeGroups(SortWorkspace *ws) {
  const uint32_t groupCount = ws->groupCount;
  MergeState m;
  m.keys = ws->keyArray;
  m.keyLength = ws->keyLength;
  m.pointers = ws->keyPointers;
  m.sizes = ws->groupSizes;
  m.cursors = ws->groupCursors;
  m.prefixes = ws->mergeScratch;
  m.groupCount = groupCount;
  uint32_t *losers = ws->mergeTree;                   // node 1 to G-1: the loser of that match
  uint64_t *winners = ws->mergeScratch + groupCount;  // scratch while the tree is built
  memset(m.cursors, 0, sizeof(uint16_t) * groupCount);
  for (uint32_t g = 0; g < groupCount; g++) LoadHead(&m, g);

  // Leaves are nodes G to 2G-1 (group g at G + g); node i's children are 2i and 2i+1.
  for (uint32_t node = groupCount - 1; node >= 1; node--) {
    const uint32_t left = 2 * node < groupCount ? static_cast<uint32_t>(winners[2 * node]) : 2 * node - groupCount;
    const uint32_t right =
        2 * node + 1 < groupCount ? static_cast<uint32_t>(winners[2 * node + 1]) : 2 * node + 1 - groupCount;
    if (HeadBefore(&m, right, left)) {
      winners[node] = right;
      losers[node] = left;
    } else {
      winners[node] = left;
      losers[node] = right;
    }
  }
  uint32_t winner = static_cast<uint32_t>(winners[1]);

  const uint32_t n = ws->recordCount;
  ReportProgress(kPhaseMerging, 0, n);
  for (uint32_t k = 0; k < n; k++) {
    ws->outputOrder[k] = HeadRecord(&m, winner);
    m.cursors[winner]++;
    LoadHead(&m, winner);
    for (uint32_t node = (winner + groupCount) >> 1; node >= 1; node >>= 1) {
      const uint32_t challenger = losers[node];
      if (HeadBefore(&m, challenger, winner)) {
        losers[node] = winner;
        winner = challenger;
      }
    }
    if (k % kProgressInterval == kProgressInterval - 1) ReportProgress(kPhaseMerging, k + 1, n);
  }
  MergeCompares = CountMergeCompares(ws->outputOrder, n, groupCount, ws->mergeScratch);
}

// For the reference emitted at position r from group g, the selection merge counts one
// replacement in every step s with max(prevSame, prevLower) < s <= r, provided a lower group
// still has references then (s <= lastLower):
//   prevSame  = the last position before r emitted from g,
//   prevLower = the last position before r emitted from any group below g,
//   lastLower = the last position emitted from any group below g, over the whole merge.
// In those steps the reference is g's head and no lower group's head is smaller or equal,
// since all of them come out after it. A stack of positions with increasing groups gives
// prevLower for every r in one pass. Positions are stored plus one, so 0 means "none".
uint64_t CountMergeCompares(const uint32_t *outputOrder, uint32_t n, uint32_t groupCount, uint64_t *scratch) {
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
    const uint64_t from = prevSame[g] > prevLower ? prevSame[g] : prevLower;
    const uint64_t to = uint64_t{r} + 1 < lastLower[g] ? uint64_t{r} + 1 : lastLower[g];
    if (to > from) total += to - from;
    prevSame[g] = uint64_t{r} + 1;
  }
  return total;
}
