#include "engine/keys.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

KeyPlan Plan(std::vector<KeyField> keys, bool variable = false) {
  KeyPlan plan;
  PrepareKeyPlan(keys.data(), static_cast<int>(keys.size()), variable, &plan);
  return plan;
}

Bytes FixedKey(const KeyPlan &plan, const Bytes &record) {
  Bytes key(plan.keyLength);
  BuildFixedKey(&plan, record.data(), key.data());
  return key;
}

// The key of one field of type and sequence over the field bytes.
Bytes FieldKey(char type, char sequence, const Bytes &field) {
  return FixedKey(Plan({KeyField{1, static_cast<int32_t>(field.size()), type, sequence}}), field);
}

Bytes FloatBytes(float value) {
  uint32_t bits;
  memcpy(&bits, &value, 4);
  return Bytes{static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
               static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
}

Bytes DoubleBytes(double value) {
  uint64_t bits;
  memcpy(&bits, &value, 8);
  Bytes bytes;
  for (int i = 0; i < 8; i++) bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
  return bytes;
}

int Order(const Bytes &a, const Bytes &b) {
  int c = memcmp(a.data(), b.data(), a.size());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

TEST(BuildFixedKey, WorkedExampleOfTwoKeys) {
  KeyPlan plan = Plan({KeyField{1, 3, 'c', 'a'}, KeyField{5, 2, 'i', 'd'}});
  EXPECT_EQ(plan.keyLength, 5u);
  EXPECT_EQ(FixedKey(plan, Bytes{0x61, 0x62, 0x43, 0x20, 0x05, 0x00}), (Bytes{0x41, 0x42, 0x43, 0x7F, 0xFA}));
}

TEST(BuildFixedKey, CharacterKeysUpperCaseOnlyLettersAndInvertWhenDescending) {
  EXPECT_EQ(FieldKey('c', 'a', Bytes{'a', 'b', 'c'}), FieldKey('c', 'a', Bytes{'A', 'B', 'C'}));
  EXPECT_EQ(FieldKey('c', 'a', Bytes{'a', 'B', 'c'}), FieldKey('c', 'a', Bytes{'A', 'B', 'C'}));
  // The underscore sorts after z and Z in a c key, between Z and a in an a key.
  EXPECT_GT(Order(FieldKey('c', 'a', Bytes{'_'}), FieldKey('c', 'a', Bytes{'z'})), 0);
  EXPECT_GT(Order(FieldKey('a', 'a', Bytes{'_'}), FieldKey('a', 'a', Bytes{'Z'})), 0);
  EXPECT_LT(Order(FieldKey('a', 'a', Bytes{'_'}), FieldKey('a', 'a', Bytes{'a'})), 0);
  // Bytes 0x80 and above, and the bytes around a to z, are never changed.
  EXPECT_EQ(FieldKey('c', 'a', Bytes{0x60, 0x7B, 0x80, 0xE1, 0xFF}), (Bytes{0x60, 0x7B, 0x80, 0xE1, 0xFF}));
  EXPECT_EQ(FieldKey('c', 'd', Bytes{'a', 0x00, 0xFF}), (Bytes{0xBE, 0xFF, 0x00}));
  EXPECT_EQ(FieldKey('a', 'd', Bytes{'a', 0x00, 0xFF}), (Bytes{0x9E, 0xFF, 0x00}));
}

TEST(BuildFixedKey, IntegerKeysOfTheWorkedExamples) {
  EXPECT_EQ(FieldKey('i', 'a', Bytes{0xFF, 0xFF}), (Bytes{0x7F, 0xFF}));
  EXPECT_EQ(FieldKey('i', 'a', Bytes{0x00, 0x00}), (Bytes{0x80, 0x00}));
  EXPECT_EQ(FieldKey('i', 'a', Bytes{0x01, 0x00}), (Bytes{0x80, 0x01}));
  EXPECT_EQ(FieldKey('i', 'd', Bytes{0xFF, 0xFF}), (Bytes{0x80, 0x00}));
  EXPECT_EQ(FieldKey('i', 'd', Bytes{0x00, 0x00}), (Bytes{0x7F, 0xFF}));
  EXPECT_EQ(FieldKey('i', 'd', Bytes{0x01, 0x00}), (Bytes{0x7F, 0xFE}));
  EXPECT_EQ(FieldKey('u', 'a', Bytes{0x34, 0x12}), (Bytes{0x12, 0x34}));
  // Descending inverts every byte, the last one included: 0x0103 before 0x0102.
  EXPECT_LT(Order(FieldKey('u', 'd', Bytes{0x03, 0x01}), FieldKey('u', 'd', Bytes{0x02, 0x01})), 0);
}

TEST(BuildFixedKey, IntegerKeysOrderLikeTheirValues) {
  const int32_t values[] = {std::numeric_limits<int32_t>::min(), -70000, -1, 0, 1, 255, 256, 70000,
                            std::numeric_limits<int32_t>::max()};
  for (int32_t a : values) {
    for (int32_t b : values) {
      Bytes fa(4), fb(4);
      for (int j = 0; j < 4; j++) {
        fa[j] = static_cast<unsigned char>(static_cast<uint32_t>(a) >> (8 * j));
        fb[j] = static_cast<unsigned char>(static_cast<uint32_t>(b) >> (8 * j));
      }
      int expected = a < b ? -1 : (a > b ? 1 : 0);
      EXPECT_EQ(Order(FieldKey('i', 'a', fa), FieldKey('i', 'a', fb)), expected) << a << " " << b;
      EXPECT_EQ(Order(FieldKey('i', 'd', fa), FieldKey('i', 'd', fb)), -expected) << a << " " << b;
      uint32_t ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
      int unsignedExpected = ua < ub ? -1 : (ua > ub ? 1 : 0);
      EXPECT_EQ(Order(FieldKey('u', 'a', fa), FieldKey('u', 'a', fb)), unsignedExpected);
    }
  }
}

TEST(BuildFixedKey, FloatKeysOfTheWorkedTable) {
  struct Row {
    float value;
    Bytes ascending;
    Bytes descending;
  };
  const Row rows[] = {
      {2.0f, {0xC0, 0x00, 0x00, 0x00}, {0x3F, 0x00, 0x00, 0x00}},
      {1.0f, {0xBF, 0x80, 0x00, 0x00}, {0x3F, 0x80, 0x00, 0x00}},
      {0.5f, {0xBF, 0x00, 0x00, 0x00}, {0x40, 0x00, 0x00, 0x00}},
      {0.0f, {0x80, 0x00, 0x00, 0x00}, {0x80, 0x00, 0x00, 0x00}},
      {-0.5f, {0x40, 0x00, 0x00, 0x00}, {0xBF, 0x00, 0x00, 0x00}},
      {-1.0f, {0x3F, 0x80, 0x00, 0x00}, {0xBF, 0x80, 0x00, 0x00}},
      {-2.0f, {0x3F, 0x00, 0x00, 0x00}, {0xC0, 0x00, 0x00, 0x00}},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(FieldKey('f', 'a', FloatBytes(row.value)), row.ascending) << row.value;
    EXPECT_EQ(FieldKey('f', 'd', FloatBytes(row.value)), row.descending) << row.value;
  }
}

TEST(BuildFixedKey, DoubleKeysOfTheWorkedExamples) {
  EXPECT_EQ(FieldKey('f', 'a', DoubleBytes(1.0)), (Bytes{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FieldKey('f', 'd', DoubleBytes(1.0)), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FieldKey('f', 'a', DoubleBytes(2.0)), (Bytes{0xC0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FieldKey('f', 'd', DoubleBytes(2.0)), (Bytes{0x3F, 0xE0, 0, 0, 0, 0, 0, 0}));
  // Descending +0.0 and +infinity (reciprocal +0.0): 80 00 ... ; other positives keep sign 0.
  EXPECT_EQ(FieldKey('f', 'd', DoubleBytes(0.0)), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FieldKey('f', 'd', DoubleBytes(HUGE_VAL)), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FieldKey('f', 'd', DoubleBytes(1e300))[0] & 0x80, 0);
}

TEST(BuildFixedKey, FloatSpecialValuesTieAndSortWhereTheReciprocalsPutThem) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int width : {4, 8}) {
    auto key = [&](float v, char seq) { return width == 4 ? FieldKey('f', seq, FloatBytes(v)) : FieldKey('f', seq, DoubleBytes(v)); };
    SCOPED_TRACE(width);
    // Ascending: -0.0 and -infinity both get an all-zero key, before every other value.
    Bytes zeros(width, 0);
    EXPECT_EQ(key(-0.0f, 'a'), zeros);
    EXPECT_EQ(key(-inf, 'a'), zeros);
    EXPECT_LT(Order(key(-inf, 'a'), key(-1e30f, 'a')), 0);
    EXPECT_LT(Order(key(-1e30f, 'a'), key(-1.0f, 'a')), 0);
    EXPECT_LT(Order(key(-1.0f, 'a'), key(0.0f, 'a')), 0);
    EXPECT_LT(Order(key(0.0f, 'a'), key(inf, 'a')), 0);
    // Descending: -0.0, +0.0 and +infinity share one key, after all positives and before all negatives.
    EXPECT_EQ(key(-0.0f, 'd'), key(0.0f, 'd'));
    EXPECT_EQ(key(inf, 'd'), key(0.0f, 'd'));
    EXPECT_LT(Order(key(1e-30f, 'd'), key(0.0f, 'd')), 0);
    EXPECT_LT(Order(key(0.0f, 'd'), key(-1e-30f, 'd')), 0);
    EXPECT_LT(Order(key(2.0f, 'd'), key(1.0f, 'd')), 0);
    // A NaN takes no reciprocal: a positive quiet NaN keeps its own bits with the sign set
    // ascending, and descending counts as zero (step 7 moves its sign bit).
    Bytes nanAscending = key(nan, 'a');
    EXPECT_EQ(nanAscending[0] & 0x80, 0x80);
    EXPECT_GT(Order(nanAscending, key(inf, 'a')), 0);
    Bytes nanDescending = key(nan, 'd');
    EXPECT_EQ(nanDescending[0] & 0x80, 0x80);
    EXPECT_EQ(Order(nanDescending, key(0.0f, 'd')), 1);  // after the zero key, with the NaN's payload
  }
}

TEST(BuildFixedKey, DistinctFloatsWhoseReciprocalsRoundAlikeGetEqualKeys) {
  // Two neighbouring large binary32 values whose reciprocals round to the same binary32.
  float a = 3.0e38f;
  float b = std::nextafter(a, std::numeric_limits<float>::infinity());
  ASSERT_NE(a, b);
  ASSERT_EQ(1.0f / a, 1.0f / b);
  EXPECT_EQ(FieldKey('f', 'a', FloatBytes(-a)), FieldKey('f', 'a', FloatBytes(-b)));
  EXPECT_EQ(FieldKey('f', 'd', FloatBytes(a)), FieldKey('f', 'd', FloatBytes(b)));
  // Positive ascending and negative descending keep their own bits: still distinct.
  EXPECT_NE(FieldKey('f', 'a', FloatBytes(a)), FieldKey('f', 'a', FloatBytes(b)));
}

TEST(BuildVariableKey, OffsetSuffixKeepsInputOrderAmongEqualFields) {
  KeyPlan plan = Plan({KeyField{1, 4, 'c', 'a'}}, true);
  EXPECT_EQ(plan.keyLength, 8u);
  auto key = [&](const std::string &text, uint32_t offset, const KeyPlan &p) {
    Bytes record(32, 0);
    memcpy(record.data(), text.data(), text.size());
    Bytes k(p.keyLength);
    BuildVariableKey(&p, record.data(), offset, k.data());
    return k;
  };
  EXPECT_EQ(key("beta", 0, plan), (Bytes{0x42, 0x45, 0x54, 0x41, 0, 0, 0, 0}));
  EXPECT_EQ(key("Alpha", 6, plan), (Bytes{0x41, 0x4C, 0x50, 0x48, 0, 0, 0, 6}));
  EXPECT_EQ(key("beta", 13, plan), (Bytes{0x42, 0x45, 0x54, 0x41, 0, 0, 0, 0x0D}));
  // Descending inverts the fields, never the offset; a short record reads zeros (inverted FF).
  KeyPlan descending = Plan({KeyField{1, 6, 'a', 'd'}}, true);
  EXPECT_EQ(key("ab", 0x01020304, descending), (Bytes{0x9E, 0x9D, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}));
  EXPECT_LT(Order(key("same", 5, descending), key("same", 9, descending)), 0);
}
