#include "engine/groupsort.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "engine/keys.h"
#include "tests/support/model.h"

// Every shape, many sizes and key lengths (below, at and above the 8-byte prefix),
// references in input order and shuffled: order, counters, compares and the prefixes
// handed to the merge as the reference gives them. (Ordered and all-equal groups, which
// the group sort finishes in one step, are shapes here.)
TEST(GroupQuicksort, MatchesTheReferenceOnThousandsOfGroups) {
  std::mt19937_64 random(20261206);
  int cases = 0;
  for (int round = 0; round < 24; round++) {
    for (int shape = 0; shape < kShapeCount; shape++) {
      for (uint32_t keyLength : {1u, 3u, 8u, 9u, 14u}) {
        const uint64_t sizes[] = {2 + random() % 8, 10 + random() % 90, 100 + random() % 400, 990 + random() % 8};
        const ReferenceKeys keys = MakeKeys(shape, static_cast<uint32_t>(sizes[random() % 4]), keyLength, random);
        std::vector<uint32_t> references(keys.bytes.size() / keyLength), expected;
        std::iota(references.begin(), references.end(), 0);
        if (round % 2 == 1) std::shuffle(references.begin(), references.end(), random);
        if (references.size() < 2) continue;
        SCOPED_TRACE(std::string(ShapeName(shape)) + " n=" + std::to_string(references.size()) +
                     " T=" + std::to_string(keyLength) + " round=" + std::to_string(round));
        expected = references;
        GroupCounters want, got;
        const uint64_t compares = ReferenceGroupSort(keys, &expected, &want);
        std::vector<uint64_t> prefixes(references.size());
        SortCompares = 0;
        SortGroup(keys.bytes.data(), keyLength, references.data(), prefixes.data(),
                  static_cast<uint32_t>(references.size()), &got);
        ASSERT_EQ(references, expected);
        EXPECT_EQ(SortCompares, compares);
        EXPECT_EQ(std::vector<uint32_t>({got.invocations, got.returns, got.loBranches, got.hiBranches}),
                  std::vector<uint32_t>({want.invocations, want.returns, want.loBranches, want.hiBranches}));
        for (size_t i = 0; i < references.size(); i++) {
          ASSERT_EQ(prefixes[i], KeyPrefix(keys.bytes.data() + uint64_t{references[i]} * keyLength, keyLength));
        }
        cases++;
      }
    }
  }
  EXPECT_GE(cases, 1000);
}
