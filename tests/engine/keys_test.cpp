// The golden key values. The model keys records by its own reading of the rules and the
// differentials hold it and the engine together; these bytes hold both to the encoding.
#include "engine/keys.h"

#include <gtest/gtest.h>

#include <fstream>
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
  std::ifstream file(PELMAR_KEYS_GOLDEN);
  ASSERT_TRUE(file.is_open()) << PELMAR_KEYS_GOLDEN;
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    line = line.substr(0, line.find(" #"));
    line.erase(line.find_last_not_of(' ') + 1);
    const size_t arrow = line.find(" -> ");
    if (line.empty() || line[0] == '#') continue;
    ASSERT_NE(arrow, std::string::npos) << line;
    char type[3] = {}, sequence = 0;
    int used = 0;
    ASSERT_EQ(sscanf(line.c_str(), "%2s %c %n", type, &sequence, &used), 2) << line;
    std::string text = line.substr(static_cast<size_t>(used), arrow - static_cast<size_t>(used));
    for (size_t tab; (tab = text.find("\\t")) != std::string::npos;) text.replace(tab, 2, "\t");
    const Bytes field = Field(text.c_str()), expected = Hex(line.c_str() + arrow + 4);
    KeyPlan plan;
    const KeyField key = {1, static_cast<int32_t>(field.size()), FindKeyTypeByName(type)->type, sequence, 0};
    PrepareKeyPlan(&key, 1, static_cast<int32_t>(field.size()), nullptr, false, nullptr, &plan);
    Bytes built(plan.keyLength);
    BuildFixedKey(&plan, field.data(), 0, built.data());
    EXPECT_EQ(built, expected) << line;
    rows++;
  }
  EXPECT_GE(rows, 140);
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
