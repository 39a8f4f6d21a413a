#include "engine/merge.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/engine/keyshapes.h"
#include "tests/engine/reference.h"

namespace {

// n one-byte keys: the first `first` records hold a, the rest b.
ReferenceKeys TwoBlocks(uint32_t n, uint32_t first, char a, char b) {
  ReferenceKeys keys;
  keys.keyLength = 1;
  for (uint32_t i = 0; i < n; i++) keys.bytes.push_back(static_cast<unsigned char>(i < first ? a : b));
  return keys;
}

std::vector<uint32_t> Range(uint32_t from, uint32_t to) {
  std::vector<uint32_t> v;
  for (uint32_t i = from; i < to; i++) v.push_back(i);
  return v;
}

}  // namespace

TEST(MergeGroups, AllEqualKeysEmitGroupZeroFirstWithoutCompares) {
  EngineSortResult result = RunEngineSortGroups(TwoBlocks(1994, 1994, 'x', 'x'));
  EXPECT_EQ(result.order, Range(0, 1994));
  EXPECT_EQ(result.mergeCompares, 0u);
}

TEST(MergeGroups, SmallerLaterGroupComesFirstAndCountsOneReplacementPerRecord) {
  EngineSortResult result = RunEngineSortGroups(TwoBlocks(1500, 997, 'z', 'a'));
  std::vector<uint32_t> expected = Range(997, 1500);
  for (uint32_t i : Range(0, 997)) expected.push_back(i);
  EXPECT_EQ(result.order, expected);
  EXPECT_EQ(result.mergeCompares, 503u);
}

TEST(MergeGroups, SmallerFirstGroupComesFirstWithoutCompares) {
  EngineSortResult result = RunEngineSortGroups(TwoBlocks(1500, 997, 'a', 'z'));
  EXPECT_EQ(result.order, Range(0, 1500));
  EXPECT_EQ(result.mergeCompares, 0u);
}

TEST(MergeGroups, LoneLastRecordTakesItsPlaceByKey) {
  // 998 records: keys 0..996 ascending two-byte counters, the last one between 500 and 501.
  ReferenceKeys keys;
  keys.keyLength = 2;
  for (int i = 0; i < 997; i++) {
    keys.bytes.push_back(static_cast<unsigned char>((2 * i) >> 8));
    keys.bytes.push_back(static_cast<unsigned char>(2 * i));
  }
  keys.bytes.push_back(static_cast<unsigned char>(1001 >> 8));
  keys.bytes.push_back(static_cast<unsigned char>(1001 & 0xFF));
  EngineSortResult result = RunEngineSortGroups(keys);
  ASSERT_EQ(result.order.size(), 998u);
  EXPECT_EQ(result.order[501], 997u);
  EXPECT_EQ(result.order[500], 500u);
  EXPECT_EQ(result.order[502], 501u);
}

// The count recovered from the emitted order equals the selection merge's own count for
// interleavings of many groups (ties across groups included), counted whole and in slices.
TEST(CountMergeCompares, EqualsTheSelectionMergeCount) {
  std::mt19937_64 random(5);
  WorkPool *pools[] = {StartWorkPool(2), StartWorkPool(3), StartWorkPool(8)};
  for (int round = 0; round < 60; round++) {
    const uint32_t groupCount = 2 + static_cast<uint32_t>(random() % 12);
    const uint32_t n = (groupCount - 1) * kSortGroupSize + 1 + static_cast<uint32_t>(random() % kSortGroupSize);
    ReferenceKeys keys = MakeKeys(random() % 2 ? kFewDistinct : kRandomBytes, n, 1 + random() % 3, random);
    ReferenceSortResult expected = ReferenceSort(keys);
    std::vector<uint64_t> scratch(3 * groupCount);
    EXPECT_EQ(CountMergeCompares(expected.order.data(), n, groupCount, scratch.data(), nullptr), expected.mergeCompares);
    for (WorkPool *pool : pools) {
      EXPECT_EQ(CountMergeCompares(expected.order.data(), n, groupCount, scratch.data(), pool), expected.mergeCompares);
    }
  }
  for (WorkPool *pool : pools) StopWorkPool(pool);
}
