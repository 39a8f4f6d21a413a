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

// A field written as text between double quotes, or as hex pairs.
Bytes Field(const char *text) {
  if (text[0] != '"') return Hex(text);
  const std::string quoted(text + 1);
  return Bytes(quoted.begin(), quoted.end() - 1);
}

}  // namespace

// The key of one field, byte for byte: {type, sequence, field -> key}. Character keys
// raise a to z only; descending inverts every byte; integers are stored least significant
// byte first and keyed most significant first, the sign bit of i flipped; reals as the
// worked table gives them, NaNs past infinity ascending and next to zero descending, and
// distinct reals whose reciprocals round alike keyed alike. pelmar-sort's types: big-endian
// integers and reals in numeric order (-0 as 0, NaNs last); decimals keyed by class and
// digits, every sign half-byte and overpunch letter, invalid fields by their bytes before
// every number; numbers as text exactly ("7" = "007" = "7.0"); descending inverts it all.
TEST(BuildFixedKey, GoldenKeysOfOneField) {
  struct Row {
    const char *type;
    char sequence;
    const char *field, *key;
  };
  const Row rows[] = {
      {"c", 'a', "61 62 63", "41 42 43"}, {"c", 'a', "61 42 63", "41 42 43"}, {"c", 'a', "7A 5F", "5A 5F"},
      {"a", 'a', "7A 5F 5A", "7A 5F 5A"}, {"c", 'a', "60 7B 80 E1 FF", "60 7B 80 E1 FF"},
      {"c", 'd', "61 00 FF", "BE FF 00"}, {"a", 'd', "61 00 FF", "9E FF 00"},
      {"i", 'a', "FF FF", "7F FF"}, {"i", 'a', "00 00", "80 00"}, {"i", 'a', "01 00", "80 01"},
      {"i", 'd', "FF FF", "80 00"}, {"i", 'd', "00 00", "7F FF"}, {"i", 'd', "01 00", "7F FE"},
      {"i", 'a', "00 00 00 80", "00 00 00 00"}, {"i", 'a', "FF FF FF 7F", "FF FF FF FF"},
      {"i", 'a', "00 01 00 00", "80 00 01 00"}, {"i", 'd', "00 01 00 00", "7F FF FE FF"},
      {"i", 'a', "01 02 03 04 05 86", "06 05 04 03 02 01"}, {"i", 'a', "80", "00"},
      {"u", 'a', "34 12", "12 34"}, {"u", 'd', "03 01", "FE FC"}, {"u", 'a', "FF FF FF 7F", "7F FF FF FF"},
      {"u", 'a', "00 00 00 80", "80 00 00 00"}, {"u", 'd', "01 00 00 00", "FF FF FF FE"},
      {"f", 'a', "00 00 00 40", "C0 00 00 00"}, {"f", 'd', "00 00 00 40", "3F 00 00 00"},   // 2.0
      {"f", 'a', "00 00 80 3F", "BF 80 00 00"}, {"f", 'd', "00 00 80 3F", "3F 80 00 00"},   // 1.0
      {"f", 'a', "00 00 00 3F", "BF 00 00 00"}, {"f", 'd', "00 00 00 3F", "40 00 00 00"},   // 0.5
      {"f", 'a', "00 00 00 00", "80 00 00 00"}, {"f", 'd', "00 00 00 00", "80 00 00 00"},   // 0.0
      {"f", 'a', "00 00 00 BF", "40 00 00 00"}, {"f", 'd', "00 00 00 BF", "BF 00 00 00"},   // -0.5
      {"f", 'a', "00 00 80 BF", "3F 80 00 00"}, {"f", 'd', "00 00 80 BF", "BF 80 00 00"},   // -1.0
      {"f", 'a', "00 00 00 C0", "3F 00 00 00"}, {"f", 'd', "00 00 00 C0", "C0 00 00 00"},   // -2.0
      {"f", 'a', "00 00 00 80", "00 00 00 00"}, {"f", 'a', "00 00 80 FF", "00 00 00 00"},   // -0.0, -inf
      {"f", 'd', "00 00 00 80", "80 00 00 00"}, {"f", 'd', "00 00 80 7F", "80 00 00 00"},   // -0.0, +inf
      {"f", 'a', "00 00 80 7F", "FF 80 00 00"},                                             // +inf
      {"f", 'a', "00 00 C0 7F", "FF C0 00 00"}, {"f", 'd', "00 00 C0 7F", "FF C0 00 00"},   // NaN
      {"f", 'a', "00 00 C0 FF", "7F C0 00 00"}, {"f", 'd', "00 00 C0 FF", "FF C0 00 00"},   // -NaN
      {"f", 'a', "E6 B1 61 FF", "00 24 4B FA"}, {"f", 'a', "E7 B1 61 FF", "00 24 4B FA"},   // -3e38, next
      {"f", 'd', "E6 B1 61 7F", "00 24 4B FA"}, {"f", 'd', "E7 B1 61 7F", "00 24 4B FA"},   // 3e38, next
      {"f", 'a', "E6 B1 61 7F", "FF 61 B1 E6"}, {"f", 'a', "E7 B1 61 7F", "FF 61 B1 E7"},
      {"f", 'a', "00 00 00 00 00 00 F0 3F", "BF F0 00 00 00 00 00 00"},                     // 1.0
      {"f", 'd', "00 00 00 00 00 00 F0 3F", "3F F0 00 00 00 00 00 00"},
      {"f", 'a', "00 00 00 00 00 00 00 40", "C0 00 00 00 00 00 00 00"},                     // 2.0
      {"f", 'd', "00 00 00 00 00 00 00 40", "3F E0 00 00 00 00 00 00"},
      {"f", 'a', "00 00 00 00 00 00 00 C0", "3F E0 00 00 00 00 00 00"},                     // -2.0
      {"f", 'd', "00 00 00 00 00 00 00 00", "80 00 00 00 00 00 00 00"},                     // 0.0
      {"f", 'd', "00 00 00 00 00 00 F0 7F", "80 00 00 00 00 00 00 00"},                     // +inf
      {"f", 'a', "00 00 00 00 00 00 F0 FF", "00 00 00 00 00 00 00 00"},                     // -inf
      {"f", 'a', "00 00 00 00 00 00 F8 7F", "FF F8 00 00 00 00 00 00"},                     // NaN
      {"f", 'd', "00 00 00 00 00 00 F8 7F", "FF F8 00 00 00 00 00 00"},
      {"bi", 'a', "80", "00"}, {"bi", 'a', "7F", "FF"}, {"bi", 'a', "FF FF FF", "7F FF FF"}, {"bi", 'd', "00 01", "7F FE"},
      {"bu", 'a', "12 34 56", "12 34 56"}, {"bu", 'd', "00 FF", "FF 00"},
      {"bu", 'a', "FF FF FF FF FF FF FF FE", "FF FF FF FF FF FF FF FE"},
      {"bf", 'a', "3F 80 00 00", "BF 80 00 00"}, {"bf", 'a', "BF 80 00 00", "40 7F FF FF"},  // 1.0, -1.0
      {"bf", 'a', "80 00 00 00", "80 00 00 00"}, {"bf", 'a', "00 00 00 00", "80 00 00 00"},  // -0, 0
      {"bf", 'a', "7F 80 00 00", "FF 80 00 00"}, {"bf", 'a', "FF 80 00 00", "00 7F FF FF"},  // +inf, -inf
      {"bf", 'a', "7F C0 00 00", "FF FF FF FF"}, {"bf", 'a', "FF C0 00 01", "FF FF FF FF"},  // NaN, -NaN
      {"bf", 'd', "3F 80 00 00", "40 7F FF FF"}, {"bf", 'a', "3F F0 00 00 00 00 00 00", "BF F0 00 00 00 00 00 00"},
      {"bf", 'a', "FF F8 00 00 00 00 00 00", "FF FF FF FF FF FF FF FF"},
      {"pd", 'a', "12 3D", "01 ED C0"}, {"pd", 'a', "12 3C", "03 12 30"}, {"pd", 'a', "00 0D", "02 00 00"},
      {"pd", 'a', "99 9C", "03 99 90"}, {"pd", 'a', "99 9D", "01 66 60"}, {"pd", 'a', "5A", "03 50"},
      {"pd", 'a', "5E", "03 50"}, {"pd", 'a', "5F", "03 50"}, {"pd", 'a', "5B", "01 A0"}, {"pd", 'a', "59", "00 59"},
      {"pd", 'a', "A1 2C", "00 A1 2C"}, {"pd", 'a', "1A 2C", "00 1A 2C"}, {"pd", 'd', "12 3C", "FC ED CF"},
      {"pd", 'd', "59", "FF A6"},
      {"pd", 'a', "99 99 99 99 99 99 99 99 99 99 99 99 99 99 99 9D", "01 66 66 66 66 66 66 66 66 66 66 66 66 66 66 66 60"},
      {"zd", 'a', "F1 F2 C3", "03 01 02 03"}, {"zd", 'a', "F1 F2 D3", "01 08 07 06"}, {"zd", 'a', "40 40 F5", "03 00 00 05"},
      {"zd", 'a', "B1", "01 08"}, {"zd", 'a', "91", "01 08"}, {"zd", 'a', "71", "01 08"}, {"zd", 'a', "51", "01 08"},
      {"zd", 'a', "31", "01 08"}, {"zd", 'a', "11", "01 08"}, {"zd", 'a', "F1", "03 01"}, {"zd", 'a', "C1", "03 01"},
      {"zd", 'a', "E1", "03 01"}, {"zd", 'a', "A1", "03 01"}, {"zd", 'a', "81", "03 01"}, {"zd", 'a', "01", "03 01"},
      {"zd", 'a', "F0 D0", "02 00 00"}, {"zd", 'a', "F1 FA", "00 F1 FA"}, {"zd", 'd', "F1 F2 D3", "FE F7 F8 F9"},
      {"za", 'a', "\"-012\"", "01 09 09 08 07"}, {"za", 'a', "\" 12J\"", "01 09 08 07 08"},
      {"za", 'a', "\"  12\"", "03 00 00 01 02"}, {"za", 'a', "\"+12\"", "03 00 01 02"}, {"za", 'a', "\"12{\"", "03 01 02 00"},
      {"za", 'a', "\"12}\"", "01 08 07 09"}, {"za", 'a', "\"1A\"", "03 01 01"}, {"za", 'a', "\"1I\"", "03 01 09"},
      {"za", 'a', "\"1J\"", "01 08 08"}, {"za", 'a', "\"1R\"", "01 08 00"}, {"za", 'a', "\"1p\"", "01 08 09"},
      {"za", 'a', "\"1y\"", "01 08 00"}, {"za", 'a', "\"   \"", "02 00 00 00"}, {"za", 'a', "\"-0\"", "02 00 00"},
      {"za", 'a', "\"1 2\"", "00 31 20 32"}, {"za", 'a', "\"12-\"", "00 31 32 2D"}, {"za", 'a', "\"1A2\"", "00 31 41 32"},
      {"za", 'a', "31 32 00", "03 00 01 02"}, {"za", 'd', "\"+12\"", "FC FF FE FD"},
      {"n", 'a', "\"-12.50\"", "01 7D ED AF FF"}, {"n", 'a', "\"7  \"", "03 81 70 00"}, {"n", 'a', "\"007\"", "03 81 70 00"},
      {"n", 'a', "\"7.0\"", "03 81 70 00"}, {"n", 'a', "\"-0\"", "02 00 00"}, {"n", 'a', "\"0.01\"", "03 7F 10 00"},
      {"n", 'a', "\" \t+5x\"", "03 81 50 00 00"}, {"n", 'a', "\"abc\"", "02 00 00 00"}, {"n", 'a', "\".5\"", "03 80 50"},
      {"n", 'a', "\"1e9\"", "03 81 10 00"}, {"n", 'd', "\"7\"", "FC 7E 8F"},
  };
  for (const Row &row : rows) {
    const Bytes field = Field(row.field);
    KeyPlan plan;
    const KeyField key = {1, static_cast<int32_t>(field.size()), FindKeyTypeByName(row.type)->type, row.sequence, 0};
    PrepareKeyPlan(&key, 1, static_cast<int32_t>(field.size()), nullptr, false, nullptr, &plan);
    Bytes built(plan.keyLength);
    BuildFixedKey(&plan, field.data(), 0, built.data());
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
      {{{1, 3, 'c', 'a', 0}, {5, 2, 'i', 'd', 0}}, -1, false, "61 62 43 20 05 00", "41 42 43 7F FA"},
      {{{2, 1, 'u', 'a', 0}, {1, 1, 'a', 'd', 0}}, -1, false, "61 62", "62 9E"},
      {{{1, 4, 'c', 'a', 0}}, 0, false, "62 65 74 61", "42 45 54 41 00 00 00 00"},
      {{{1, 4, 'c', 'a', 0}}, 13, false, "41 6C 70 68 61", "41 4C 50 48 00 00 00 0D"},
      {{{1, 8, 'f', 'a', 0}}, -1, false, "00 00 00 00 00 00 00 C0 01", "3F E0 00 00 00 00 00 00"},  // -2.0, a byte behind
      {{{1, 6, 'a', 'd', 0}}, 0x01020304, false, "61 62", "9E 9D FF FF FF FF 01 02 03 04"},
      {{{3, 2, 'a', 'a', 0}, {1, 1, 'c', 'd', 0}}, 0x0102030405, true, "61 62 63", "63 00 BE 00 00 00 01 02 03 04 05"},
  };
  for (const Row &row : rows) {
    KeyPlan plan;
    Bytes record = Hex(row.record);
    const uint32_t stored = static_cast<uint32_t>(record.size());
    PrepareKeyPlan(row.keys.data(), static_cast<int>(row.keys.size()), row.offset >= 0 ? kVariableRecords : 64, nullptr,
                   row.wide, nullptr, &plan);
    Bytes built(plan.keyLength);
    record.resize(64, 0);
    if (row.offset < 0) BuildFixedKey(&plan, record.data(), 0, built.data());
    else BuildVariableKey(&plan, record.data(), stored, static_cast<uint64_t>(row.offset), built.data());
    EXPECT_EQ(built, Hex(row.key)) << row.record;
  }
}

// Keys on a field: {fields, record, field.position,length type -> key}. A field from its
// position-th byte, at most its length, zero-padded; a missing field is empty; CSV fields
// without their quotes, "" as one quote, commas inside quotes kept. A stable fixed-length
// key ends in the record's index; a text line's field ends at its stored bytes.
TEST(BuildFixedKey, GoldenKeysOnFields) {
  struct Row {
    int mode;
    const char *record;
    KeyField key;
    const char *expected;
  };
  const Row rows[] = {
      {kFieldsSeparated, "ab,cd,ef", {1, 2, 'a', 'a', 2}, "63 64"},
      {kFieldsSeparated, "ab,cd,ef", {2, 3, 'a', 'a', 2}, "64 00 00"},
      {kFieldsSeparated, "ab,cd,ef", {1, 2, 'a', 'a', 4}, "00 00"},
      {kFieldsSeparated, "ab,cd,", {1, 2, 'c', 'd', 3}, "FF FF"},
      {kFieldsSeparated, "x,12,", {1, 3, kTypeNumber, 'a', 2}, "03 82 12 00"},
      {kFieldsCsv, "a,\"b,c\",d", {1, 4, 'a', 'a', 2}, "62 2C 63 00"},
      {kFieldsCsv, "\"x\"\"y\",z", {1, 3, 'a', 'a', 1}, "78 22 79"},
      {kFieldsCsv, "\"abc\",z", {2, 2, 'a', 'a', 1}, "62 63"},
      {kFieldsCsv, "1,\"-2\"", {1, 2, kTypeZonedText, 'a', 2}, "01 09 07"},
      {kFieldsCsv, "1,2", {1, 2, 'a', 'a', 3}, "00 00"},
  };
  for (const Row &row : rows) {
    for (int32_t length : {kVariableRecords, 16}) {
      const KeySettings settings = {length == 16, row.mode, ','};
      KeyPlan plan;
      PrepareKeyPlan(&row.key, 1, length, &settings, false, nullptr, &plan);
      Bytes record(row.record, row.record + strlen(row.record)), built(plan.keyLength);
      const uint32_t stored = static_cast<uint32_t>(record.size());
      record.resize(length == 16 ? 16 : 1024, 0);
      if (length == 16) BuildFixedKey(&plan, record.data(), 0x01020304, built.data());
      else BuildVariableKey(&plan, record.data(), stored, 0x0A0B0C0D, built.data());
      EXPECT_EQ(built, Hex((std::string(row.expected) + (length == 16 ? " 01 02 03 04" : " 0A 0B 0C 0D")).c_str()))
          << row.record;
    }
  }
}
