// The golden key values. The model keys records by its own reading of the rules and the
// differentials hold it and the engine together; these bytes hold both to the encoding.
#include "engine/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Bytes from hex pairs: "7F FF".
Bytes Hex(const char *text) {
  Bytes bytes;
  for (const char *p = text; *p != '\0'; p += p[2] == ' ' ? 3 : 2) bytes.push_back(static_cast<unsigned char>(strtoul(std::string(p, 2).c_str(), nullptr, 16)));
  return bytes;
}

}  // namespace

// The key of one field, byte for byte: {type, sequence, field -> key}. Character keys
// raise a to z only; descending inverts every byte; integers are stored least significant
// byte first and keyed most significant first, the sign bit of i flipped; reals as the
// worked table gives them, NaNs past infinity ascending and next to zero descending, and
// distinct reals whose reciprocals round alike keyed alike.
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
      {'i', 'a', "01 02 03 04 05 86", "06 05 04 03 02 01"}, {'i', 'a', "80", "00"},
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
      {'f', 'a', "00 00 80 7F", "FF 80 00 00"},                                             // +inf
      {'f', 'a', "00 00 C0 7F", "FF C0 00 00"}, {'f', 'd', "00 00 C0 7F", "FF C0 00 00"},   // NaN
      {'f', 'a', "00 00 C0 FF", "7F C0 00 00"}, {'f', 'd', "00 00 C0 FF", "FF C0 00 00"},   // -NaN
      {'f', 'a', "E6 B1 61 FF", "00 24 4B FA"}, {'f', 'a', "E7 B1 61 FF", "00 24 4B FA"},   // -3e38, next
      {'f', 'd', "E6 B1 61 7F", "00 24 4B FA"}, {'f', 'd', "E7 B1 61 7F", "00 24 4B FA"},   // 3e38, next
      {'f', 'a', "E6 B1 61 7F", "FF 61 B1 E6"}, {'f', 'a', "E7 B1 61 7F", "FF 61 B1 E7"},
      {'f', 'a', "00 00 00 00 00 00 F0 3F", "BF F0 00 00 00 00 00 00"},                     // 1.0
      {'f', 'd', "00 00 00 00 00 00 F0 3F", "3F F0 00 00 00 00 00 00"},
      {'f', 'a', "00 00 00 00 00 00 00 40", "C0 00 00 00 00 00 00 00"},                     // 2.0
      {'f', 'd', "00 00 00 00 00 00 00 40", "3F E0 00 00 00 00 00 00"},
      {'f', 'a', "00 00 00 00 00 00 00 C0", "3F E0 00 00 00 00 00 00"},                     // -2.0
      {'f', 'd', "00 00 00 00 00 00 00 00", "80 00 00 00 00 00 00 00"},                     // 0.0
      {'f', 'd', "00 00 00 00 00 00 F0 7F", "80 00 00 00 00 00 00 00"},                     // +inf
      {'f', 'a', "00 00 00 00 00 00 F0 FF", "00 00 00 00 00 00 00 00"},                     // -inf
      {'f', 'a', "00 00 00 00 00 00 F8 7F", "FF F8 00 00 00 00 00 00"},                     // NaN
      {'f', 'd', "00 00 00 00 00 00 F8 7F", "FF F8 00 00 00 00 00 00"},
  };
  for (const Row &row : rows) {
    const Bytes field = Hex(row.field);
    KeyPlan plan;
    const KeyField key = {1, static_cast<int32_t>(field.size()), row.type, row.sequence};
    PrepareKeyPlan(&key, 1, false, &plan);
    Bytes built(plan.keyLength);
    BuildFixedKey(&plan, field.data(), built.data());
    EXPECT_EQ(built, Hex(row.key)) << row.type << row.sequence << " " << row.field;
  }
}

// Whole keys: the worked example of two fields at their places; a real that reads no byte
// behind its field; text keys of 'c' and 'a'
// fields ending in the record's start offset, never inverted (4 bytes, 8 when wide), a
// field past a short record's end reading zeros.
TEST(BuildFixedKey, GoldenKeysOfWholeRecords) {
  struct Row {
    std::vector<KeyField> keys;
    int64_t offset;  // -1: a fixed-length record
    bool wide;
    const char *record, *key;
  };
  const Row rows[] = {
      {{{1, 3, 'c', 'a'}, {5, 2, 'i', 'd'}}, -1, false, "61 62 43 20 05 00", "41 42 43 7F FA"},
      {{{2, 1, 'u', 'a'}, {1, 1, 'a', 'd'}}, -1, false, "61 62", "62 9E"},
      {{{1, 4, 'c', 'a'}}, 0, false, "62 65 74 61", "42 45 54 41 00 00 00 00"},
      {{{1, 4, 'c', 'a'}}, 13, false, "41 6C 70 68 61", "41 4C 50 48 00 00 00 0D"},
      {{{1, 8, 'f', 'a'}}, -1, false, "00 00 00 00 00 00 00 C0 01", "3F E0 00 00 00 00 00 00"},  // -2.0, a byte behind
      {{{1, 6, 'a', 'd'}}, 0x01020304, false, "61 62", "9E 9D FF FF FF FF 01 02 03 04"},
      {{{3, 2, 'a', 'a'}, {1, 1, 'c', 'd'}}, 0x0102030405, true, "61 62 63", "63 00 BE 00 00 00 01 02 03 04 05"},
  };
  for (const Row &row : rows) {
    KeyPlan plan;
    PrepareKeyPlan(row.keys.data(), static_cast<int>(row.keys.size()), row.offset >= 0, &plan, row.wide);
    Bytes record = Hex(row.record), built(plan.keyLength);
    record.resize(64, 0);
    if (row.offset < 0) BuildFixedKey(&plan, record.data(), built.data());
    else BuildVariableKey(&plan, record.data(), static_cast<uint64_t>(row.offset), built.data());
    EXPECT_EQ(built, Hex(row.key)) << row.record;
  }
}
