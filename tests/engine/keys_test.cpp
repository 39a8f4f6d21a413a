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

// Bytes from hex pairs: "7F FF".
Bytes Hex(const char *text) {
  Bytes bytes;
  for (const char *p = text; *p != '\0'; p += p[2] == ' ' ? 3 : 2) bytes.push_back(static_cast<unsigned char>(strtoul(std::string(p, 2).c_str(), nullptr, 16)));
  return bytes;
}

}  // namespace

TEST(BuildFixedKey, WorkedExampleOfTwoKeys) {
  KeyPlan plan = Plan({KeyField{1, 3, 'c', 'a'}, KeyField{5, 2, 'i', 'd'}});
  EXPECT_EQ(plan.keyLength, 5u);
  EXPECT_EQ(FixedKey(plan, Hex("61 62 43 20 05 00")), Hex("41 42 43 7F FA"));
}

// The key of one field, byte for byte: {type, sequence, field -> key}. Character keys
// raise a to z only; descending inverts every byte; integers are stored least significant
// byte first and keyed most significant first, the sign bit of i flipped; reals as the
// worked table gives them.
TEST(BuildFixedKey, GoldenKeysOfOneField) {
  struct Row {
    char type, sequence;
    const char *field, *key;
  };
  const Row rows[] = {
      {'c', 'a', "61 62 63", "41 42 43"}, {'c', 'a', "61 42 63", "41 42 43"}, {'c', 'a', "7A 5F", "5A 5F"},
      {'a', 'a', "7A 5F 5A", "7A 5F 5A"}, {'c', 'a', "60 7B 80 E1 FF", "60 7B 80 E1 FF"},
      {'c', 'd', "61 00 FF", "BE FF 00"}, {'a', 'd', "61 00 FF", "9E FF 00"},
      {'i', 'a', "FF FF", "7F FF"}, {'i', 'a', "00 00", "80 00"}, {'i', 'a', "01 00", "80 01"},
      {'i', 'd', "FF FF", "80 00"}, {'i', 'd', "00 00", "7F FF"}, {'i', 'd', "01 00", "7F FE"},
      {'i', 'a', "00 00 00 80", "00 00 00 00"}, {'i', 'a', "FF FF FF 7F", "FF FF FF FF"},
      {'i', 'a', "00 01 00 00", "80 00 01 00"}, {'i', 'd', "00 01 00 00", "7F FF FE FF"},
      {'i', 'a', "01 02 03 04 05 86", "06 05 04 03 02 01"},
      {'u', 'a', "34 12", "12 34"}, {'u', 'd', "03 01", "FE FC"}, {'u', 'a', "FF FF FF 7F", "7F FF FF FF"},
      {'u', 'a', "00 00 00 80", "80 00 00 00"}, {'u', 'd', "01 00 00 00", "FF FF FF FE"},
      {'f', 'a', "00 00 00 40", "C0 00 00 00"}, {'f', 'd', "00 00 00 40", "3F 00 00 00"},   // 2.0
      {'f', 'a', "00 00 80 3F", "BF 80 00 00"}, {'f', 'd', "00 00 80 3F", "3F 80 00 00"},   // 1.0
      {'f', 'a', "00 00 00 3F", "BF 00 00 00"}, {'f', 'd', "00 00 00 3F", "40 00 00 00"},   // 0.5
      {'f', 'a', "00 00 00 00", "80 00 00 00"}, {'f', 'd', "00 00 00 00", "80 00 00 00"},   // 0.0
      {'f', 'a', "00 00 00 BF", "40 00 00 00"}, {'f', 'd', "00 00 00 BF", "BF 00 00 00"},   // -0.5
      {'f', 'a', "00 00 80 BF", "3F 80 00 00"}, {'f', 'd', "00 00 80 BF", "BF 80 00 00"},   // -1.0
      {'f', 'a', "00 00 00 C0", "3F 00 00 00"}, {'f', 'd', "00 00 00 C0", "C0 00 00 00"},   // -2.0
      {'f', 'a', "00 00 00 80", "00 00 00 00"}, {'f', 'a', "00 00 80 FF", "00 00 00 00"},   // -0.0, -inf
      {'f', 'd', "00 00 00 80", "80 00 00 00"}, {'f', 'd', "00 00 80 7F", "80 00 00 00"},   // -0.0, +inf
      {'f', 'a', "00 00 00 00 00 00 F0 3F", "BF F0 00 00 00 00 00 00"},                     // 1.0
      {'f', 'd', "00 00 00 00 00 00 F0 3F", "3F F0 00 00 00 00 00 00"},
      {'f', 'a', "00 00 00 00 00 00 00 40", "C0 00 00 00 00 00 00 00"},                     // 2.0
      {'f', 'd', "00 00 00 00 00 00 00 40", "3F E0 00 00 00 00 00 00"},
      {'f', 'd', "00 00 00 00 00 00 00 00", "80 00 00 00 00 00 00 00"},                     // 0.0
      {'f', 'd', "00 00 00 00 00 00 F0 7F", "80 00 00 00 00 00 00 00"},                     // +inf
      {'f', 'a', "00 00 00 00 00 00 F0 FF", "00 00 00 00 00 00 00 00"},                     // -inf
  };
  for (const Row &row : rows) {
    EXPECT_EQ(FieldKey(row.type, row.sequence, Hex(row.field)), Hex(row.key))
        << row.type << row.sequence << " " << row.field;
  }
}

// A NaN takes no reciprocal: a positive quiet NaN keeps its own bits with the sign set
// ascending (after +infinity); descending it counts as zero, after the zero key with its
// payload.
TEST(BuildFixedKey, NaNsSortPastInfinityAscendingAndNextToZeroDescending) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int width : {4, 8}) {
    auto key = [&](float v, char seq) { return width == 4 ? FieldKey('f', seq, FloatBytes(v)) : FieldKey('f', seq, DoubleBytes(v)); };
    SCOPED_TRACE(width);
    EXPECT_EQ(key(nan, 'a')[0] & 0x80, 0x80);
    EXPECT_GT(Order(key(nan, 'a'), key(inf, 'a')), 0);
    EXPECT_EQ(key(nan, 'd')[0] & 0x80, 0x80);
    EXPECT_EQ(Order(key(nan, 'd'), key(0.0f, 'd')), 1);
    EXPECT_LT(Order(key(1e-30f, 'd'), key(0.0f, 'd')), 0);
    EXPECT_LT(Order(key(0.0f, 'd'), key(-1e-30f, 'd')), 0);
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
