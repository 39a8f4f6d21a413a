// The golden key values. The model keys records by its own reading of the rules and the
// differentials hold it and the engine together; these bytes hold both to the encoding.
#include "engine/keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/tables.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Words = std::vector<std::string>::const_iterator;

// Bytes from words of hex pairs.
Bytes Hex(Words from, Words to) {
  Bytes bytes;
  for (; from != to; ++from) {
    EXPECT_TRUE(from->size() == 2 && isxdigit(static_cast<unsigned char>((*from)[0])) && isxdigit(static_cast<unsigned char>((*from)[1]))) << *from;
    bytes.push_back(static_cast<unsigned char>(strtoul(from->c_str(), nullptr, 16)));
  }
  return bytes;
}

// A key written POSITION,LENGTH,TYPE,SEQUENCE[,FIELD], the type by pelmar-sort's name.
KeyField Key(const std::string &word) {
  KeyField key = {0, 0, 0, 0, 0};
  char type[3] = {};
  EXPECT_GE(sscanf(word.c_str(), "%d,%d,%2[^,],%c,%d", &key.position, &key.length, type, &key.sequence, &key.field), 4) << word;
  const KeyTypeRule *rule = FindKeyTypeByName(type);
  EXPECT_NE(rule, nullptr) << word;
  key.type = rule != nullptr ? rule->type : 'a';
  return key;
}

// The key that the plan builds of record (zeros behind it up to room bytes): a fixed-length
// record's of index at, or a text line's at offset at.
Bytes Built(const KeyPlan &plan, Bytes record, size_t room, bool text, uint64_t at) {
  const uint32_t stored = static_cast<uint32_t>(record.size());
  Bytes built(plan.keyLength);
  record.resize(std::max(room, record.size()), 0);
  if (text) BuildVariableKey(&plan, record.data(), stored, at, built.data());
  else BuildFixedKey(&plan, record.data(), at, built.data());
  return built;
}

}  // namespace

// The rows of keys_golden.txt. Character keys raise a to z only; descending inverts every
// byte; integers are stored least significant byte first and keyed most significant first,
// the sign bit of i flipped; reals as the worked table gives them, NaNs past infinity
// ascending and next to zero descending, and distinct reals whose reciprocals round alike
// keyed alike. pelmar-sort's types: big-endian integers and reals in numeric order (-0 as 0,
// NaNs last); decimals keyed by class and digits, every sign half-byte and overpunch letter,
// invalid fields by their bytes before every number; numbers as text exactly ("7" = "007" =
// "7.0"); descending inverts it all. A stable fixed-length key ends in the record's index; a
// text line's field ends at its stored bytes.
TEST(BuildFixedKey, GoldenKeys) {
  PlayTable(PELMAR_ENGINE_DATA "keys_golden.txt", 161, [](const TableRow &row) {
    const std::vector<std::string> &w = row.words;
    const Words colon = std::find(w.begin(), w.end(), ":"), arrow = std::find(w.begin(), w.end(), "->");
    ASSERT_TRUE(arrow != w.end() && w.size() > 3 && (colon != w.end()) == (w[0] == "record" || w[0] == "fields")) << "no such row";
    const Bytes expected = Hex(arrow + 1, w.end());
    KeyPlan plan;
    if (w[0] == "fields") {
      const KeyField key = Key(w[2]);
      for (int32_t length : {kVariableRecords, 16}) {
        const KeySettings settings = {length == 16, w[1] == "csv" ? kFieldsCsv : kFieldsSeparated, ','};
        PrepareKeyPlan(&key, 1, length, &settings, false, nullptr, &plan);
        Bytes tail = length == 16 ? Bytes{1, 2, 3, 4} : Bytes{0x0A, 0x0B, 0x0C, 0x0D}, whole = expected;
        whole.insert(whole.end(), tail.begin(), tail.end());
        EXPECT_EQ(Built(plan, Bytes(colon[1].begin(), colon[1].end()), length == 16 ? 16 : 1024, length != 16,
                        length == 16 ? 0x01020304 : 0x0A0B0C0D), whole) << length;
      }
    } else if (w[0] == "record") {
      std::vector<KeyField> keys;
      int64_t offset = -1;
      bool wide = false;
      for (Words word = w.begin() + 1; word != colon; ++word) {
        if (*word == "at") offset = strtoll((++word)->c_str(), nullptr, 0);
        else if (*word == "wide") wide = true;
        else keys.push_back(Key(*word));
      }
      PrepareKeyPlan(keys.data(), static_cast<int>(keys.size()), offset >= 0 ? kVariableRecords : 64, nullptr, wide, nullptr, &plan);
      EXPECT_EQ(Built(plan, Hex(colon + 1, arrow), 64, offset >= 0, offset >= 0 ? offset : 0), expected);
    } else {  // a text field is the one quoted word
      const Bytes field = row.text.find('"') != std::string::npos ? Bytes(w[2].begin(), w[2].end()) : Hex(w.begin() + 2, arrow);
      const KeyField key = Key("1," + std::to_string(field.size()) + "," + w[0] + "," + w[1]);
      PrepareKeyPlan(&key, 1, static_cast<int32_t>(field.size()), nullptr, false, nullptr, &plan);
      EXPECT_EQ(Built(plan, field, 0, false, 0), expected);
    }
  });
}
