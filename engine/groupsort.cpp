#include "engine/groupsort.h"

#include <cstring>

#include "engine/keys.h"
#include "engine/merge.h"
#include "engine/platform.h"
#include "engine/progress.h"
#include "engine/statreport.h"

uint64_t SortCompares = 0;
int SequenceErrorFlag = 0;

// A work slot: the reference and its key's first eight bytes as a big-endian number,
// so that most comparisons are one integer comparison.
struct WorkSlot {
  uint64_t prefix;  // key bytes 0 to 7, most significant first, zero-padded
  uint32_t record;  // record index
};

// Ranges shorter than this are not examined for a finished order: the partition is cheap there.
static const int kShortcutMinimum = 16;

// The work array of the group being sorted: 997 slots and what the comparisons need.
static struct {
  WorkSlot slots[kSortGroupSize];
  const unsigned char *keys;  // keyArray
  uint32_t keyLength;         // T
  uint32_t size;              // references in the group
  GroupCounters counters;
  uint64_t compares;          // cursor advances in this group
} gWork;

// Exact unsigned byte order of two keys over T bytes: a before b. The prefixes decide unless
// they are equal; then the bytes after the first eight do.
static inline bool KeyBefore(const WorkSlot &a, const WorkSlot &b, const unsigned char *keys, uint64_t keyLength) {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  return keyLength > 8 && memcmp(keys + a.record * keyLength + 8, keys + b.record * keyLength + 8, keyLength - 8) < 0;
}

// A non-decreasing range of m references: each invocation's pivot is the smallest key, the
// right scan passes over every other key and the recursion goes right. Order unchanged.
static void FinishNonDecreasing(uint32_t m) {
  gWork.counters.invocations += m - 1;
  gWork.counters.returns += 1;
  gWork.counters.hiBranches += m - 1;
  gWork.compares += static_cast<uint64_t>(m) * (m - 1) / 2;
}

// A strictly decreasing range of m >= 2 references. The pivot (largest) goes to the end
// after m - 2 left-cursor advances and the recursion goes left; there the new first key is
// the smallest, the right scan passes over the m - 2 others and the recursion goes right
// into a strictly decreasing range of m - 2. The range comes out reversed.
static void FinishStrictlyDecreasing(int first, int last) {
  uint32_t m = static_cast<uint32_t>(last - first + 1);
  GroupCounters *c = &gWork.counters;
  for (;;) {
    if (m == 1) {
      c->returns++;
      break;
    }
    gWork.compares += m - 2;
    c->loBranches++;
    c->invocations++;
    const uint32_t k = m - 1;  // the range of the left recursion
    if (k == 1) {
      c->returns++;
      break;
    }
    gWork.compares += k - 1;
    c->hiBranches++;
    c->invocations++;
    m = k - 1;
  }
  for (int lo = first, hi = last; lo < hi; lo++, hi--) {
    WorkSlot swap = gWork.slots[lo];
    gWork.slots[lo] = gWork.slots[hi];
    gWork.slots[hi] = swap;
  }
}

// Tries the two shortcuts; returns 1 when the range is finished.
static int FinishOrderedRange(int first, int last) {
  const WorkSlot *s = gWork.slots;
  const unsigned char *keys = gWork.keys;
  const uint64_t keyLength = gWork.keyLength;
  int i = first;
  while (i < last && !KeyBefore(s[i + 1], s[i], keys, keyLength)) i++;
  if (i == last) {
    FinishNonDecreasing(static_cast<uint32_t>(last - first + 1));
    return 1;
  }
  if (i != first) return 0;
  while (i < last && KeyBefore(s[i + 1], s[i], keys, keyLength)) i++;
  if (i != last) return 0;
  FinishStrictlyDecreasing(first, last);
  return 1;
}

static void GroupQuicksort(int first, int last) {
  GroupCounters *c = &gWork.counters;
  c->invocations++;
  if (c->invocations > gWork.size) return;
  if (last - first + 1 >= kShortcutMinimum && FinishOrderedRange(first, last)) return;
  WorkSlot *s = gWork.slots;
  const unsigned char *keys = gWork.keys;
  const uint64_t keyLength = gWork.keyLength;
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
  gWork.compares += compares;
  const int p = lo;
  s[p] = pivot;
  if (first == last) c->returns++;
  if (p > first) {
    c->loBranches++;
    GroupQuicksort(first, p - 1);
  }
  if (p < last) {
    c->hiBranches++;
    GroupQuicksort(p + 1, last);
  }
}

void SortGroup(const unsigned char *keyArray, uint32_t keyLength, uint32_t *references, uint64_t *prefixes,
               uint32_t size, GroupCounters *counters) {
  gWork.keys = keyArray;
  gWork.keyLength = keyLength;
  gWork.size = size;
  memset(&gWork.counters, 0, sizeof gWork.counters);
  gWork.compares = 0;
  for (uint32_t i = 0; i < size; i++) {
    gWork.slots[i].record = references[i];
    gWork.slots[i].prefix = KeyPrefix(keyArray + static_cast<uint64_t>(references[i]) * keyLength, keyLength);
  }
  GroupQuicksort(0, static_cast<int>(size) - 1);
  for (uint32_t i = 0; i < size; i++) {
    references[i] = gWork.slots[i].record;
    prefixes[i] = gWork.slots[i].prefix;
  }
  *counters = gWork.counters;
  SortCompares += gWork.compares;
}

int SortGroups(SortWorkspace *ws, FILE *statistics, uint32_t *mergeStart) {
  GroupCounters counters;
  memset(&counters, 0, sizeof counters);
  uint32_t size = 0;
  ReportProgress(kPhaseSorting, 0, ws->groupCount);
  for (uint32_t g = 0; g < ws->groupCount; g++) {
    size = ws->groupSizes[g];
    memset(&counters, 0, sizeof counters);
    const uint64_t start = static_cast<uint64_t>(g) * kSortGroupSize;
    if (size > 1) {
      SortGroup(ws->keyArray, ws->keyLength, ws->keyPointers + start, ws->keyPrefixes + start, size, &counters);
    } else {
      ws->keyPrefixes[start] = KeyPrefix(ws->keyArray + uint64_t{ws->keyPointers[start]} * ws->keyLength, ws->keyLength);
    }
    if (statistics != nullptr) WriteGroupStatistics(statistics, &counters);
    if (g % 64 == 63) ReportProgress(kPhaseSorting, g + 1, ws->groupCount);
  }
  // A correct partition makes exactly one invocation per reference; more means the sort went wrong.
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
    MergeGroups(ws);
  }
  return 0;
}
