#include "engine/groupsort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>

#include "engine/keys.h"
#include "engine/sortrun.h"
#include "tests/support/model.h"

namespace {

ReferenceKeys KeysFromText(const std::vector<std::string> &texts) {
  ReferenceKeys keys;
  keys.keyLength = static_cast<uint32_t>(texts[0].size());
  for (const auto &t : texts) keys.bytes.insert(keys.bytes.end(), t.begin(), t.end());
  return keys;
}

struct GroupResult {
  std::vector<uint32_t> order;
  GroupCounters counters;
  uint64_t compares;
};

GroupResult SortWithEngine(const ReferenceKeys &keys, std::vector<uint32_t> references) {
  GroupResult result;
  SortCompares = 0;
  std::vector<uint64_t> prefixes(references.size());
  SortGroup(keys.bytes.data(), keys.keyLength, references.data(), prefixes.data(),
            static_cast<uint32_t>(references.size()), &result.counters);
  for (size_t i = 0; i < references.size(); i++) {
    EXPECT_EQ(prefixes[i], KeyPrefix(keys.bytes.data() + uint64_t{references[i]} * keys.keyLength, keys.keyLength));
  }
  result.order = references;
  result.compares = SortCompares;
  return result;
}

void ExpectSameAsReference(const ReferenceKeys &keys, const std::vector<uint32_t> &references) {
  std::vector<uint32_t> expected = references;
  GroupCounters expectedCounters;
  uint64_t expectedCompares = ReferenceGroupSort(keys, &expected, &expectedCounters);
  GroupResult actual = SortWithEngine(keys, references);
  ASSERT_EQ(actual.order, expected);
  EXPECT_EQ(actual.compares, expectedCompares);
  EXPECT_EQ(actual.counters.invocations, expectedCounters.invocations);
  EXPECT_EQ(actual.counters.returns, expectedCounters.returns);
  EXPECT_EQ(actual.counters.loBranches, expectedCounters.loBranches);
  EXPECT_EQ(actual.counters.hiBranches, expectedCounters.hiBranches);
}

std::vector<uint32_t> Identity(uint32_t n) {
  std::vector<uint32_t> v(n);
  std::iota(v.begin(), v.end(), 0);
  return v;
}

}  // namespace

TEST(GroupQuicksort, EqualKeysChangePlacesAsDescribed) {
  // Keys B, A, A of records 1, 2, 3 come out as records 3, 2, 1.
  ReferenceKeys keys = KeysFromText({"B", "A", "A"});
  GroupResult result = SortWithEngine(keys, Identity(3));
  EXPECT_EQ(result.order, (std::vector<uint32_t>{2, 1, 0}));
}

TEST(GroupQuicksort, OrderedAndEqualGroupsTakeTheQuadraticCountsUnchanged) {
  std::vector<std::string> ascending, equal;
  for (int i = 0; i < 997; i++) {
    char text[8];
    snprintf(text, sizeof text, "%05d", i);
    ascending.push_back(text);
    equal.push_back("same!");
  }
  for (const auto &texts : {ascending, equal}) {
    GroupResult result = SortWithEngine(KeysFromText(texts), Identity(997));
    EXPECT_EQ(result.order, Identity(997));
    EXPECT_EQ(result.compares, 997u * 996u / 2);
    EXPECT_EQ(result.counters.loBranches, 0u);
    EXPECT_EQ(result.counters.hiBranches, 996u);
    EXPECT_EQ(result.counters.returns, 1u);
    EXPECT_EQ(result.counters.invocations - result.counters.returns, 996u);
  }
}

// Every shape, many sizes and key lengths (below, at and above the 8-byte prefix),
// references in input order and shuffled: order, counters and compares as the reference.
TEST(GroupQuicksort, MatchesTheReferenceOnThousandsOfGroups) {
  std::mt19937_64 random(20261206);
  const uint32_t keyLengths[] = {1, 3, 8, 9, 14};
  int cases = 0;
  for (int round = 0; round < 24; round++) {
    for (int shape = 0; shape < kShapeCount; shape++) {
      for (uint32_t keyLength : keyLengths) {
        uint32_t n;
        switch (random() % 4) {
          case 0: n = 2 + random() % 8; break;
          case 1: n = 10 + random() % 90; break;
          case 2: n = 100 + random() % 400; break;
          default: n = 990 + random() % 8; break;
        }
        if (shape == kDescending && keyLength == 1) n = std::min<uint32_t>(n, 200);
        ReferenceKeys keys = MakeKeys(shape, n, keyLength, random);
        n = static_cast<uint32_t>(keys.bytes.size() / keyLength);
        std::vector<uint32_t> references = Identity(n);
        if (round % 2 == 1) std::shuffle(references.begin(), references.end(), random);
        SCOPED_TRACE(std::string(ShapeName(shape)) + " n=" + std::to_string(n) + " T=" + std::to_string(keyLength) +
                     " round=" + std::to_string(round));
        ExpectSameAsReference(keys, references);
        if (HasFatalFailure()) return;
        cases++;
      }
    }
  }
  EXPECT_GE(cases, 1000);
}
