#include "tests/support/tables.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace {

// Appends the character or escape of a quoted word at line[at] to word, at left on its
// last byte; false for an escape it does not know.
bool Take(const std::string &line, size_t &at, std::string *word) {
  static const std::string kEscapes("nrt0\\\""), kBytes("\n\r\t\0\\\"", 6);
  if (line[at] != '\\') return word->push_back(line[at]), true;
  const char c = ++at < line.size() ? line[at] : ' ';
  const size_t digits = c == '*' ? std::min(line.find_first_not_of("0123456789", at + 1), line.size()) - at - 1 : 0;
  if (c == '*') {  // \*Nc
    std::string one;
    const size_t n = digits > 0 ? std::stoul(line.substr(at + 1, digits)) : 0;
    if (digits == 0 || (at += digits + 1) >= line.size() || !Take(line, at, &one)) return false;
    for (size_t i = 0; i < n; i++) *word += one;
    return true;
  }
  const std::string hex = c == 'x' ? line.substr(at + 1, 2) : "";
  if (hex.size() == 2 && isxdigit(static_cast<unsigned char>(hex[0])) && isxdigit(static_cast<unsigned char>(hex[1]))) {
    return word->push_back(static_cast<char>(strtoul(hex.c_str(), nullptr, 16))), at += 2, true;
  }
  const size_t known = kEscapes.find(c);
  return known != std::string::npos && (word->push_back(kBytes[known]), true);
}

// The words of a line, or false with *what said.
bool Split(const std::string &line, std::vector<std::string> *words, std::string *what) {
  for (size_t at = 0; at < line.size() && line[at] != '#'; at++) {
    if (line[at] == ' ') continue;
    std::string word;
    const bool quoted = line[at] == '"';
    for (at += quoted; at < line.size() && line[at] != (quoted ? '"' : ' '); at++) {
      if (!quoted) word += line[at];
      else if (!Take(line, at, &word)) return *what = "an unknown escape at column " + std::to_string(at + 1), false;
    }
    if (quoted && at >= line.size()) return *what = "an unended quote", false;
    words->push_back(word);
  }
  return true;
}

}  // namespace

void PlayTable(const std::string &path, size_t rows, const std::function<void(const TableRow &row)> &play) {
  std::ifstream file(path);
  std::string line, what;
  size_t played = 0;
  for (int number = 1; std::getline(file, line); number++) {
    TableRow row{number, line, {}};
    SCOPED_TRACE(path + " line " + std::to_string(number) + ": " + line);
    ASSERT_TRUE(Split(line, &row.words, &what)) << what;
    if (row.words.empty()) continue;
    try {
      play(row), played++;
    } catch (const std::exception &error) {  // a number that is none, say
      ADD_FAILURE() << "the row cannot be read: " << error.what();
    }
  }
  EXPECT_GE(played, rows) << path << " is read whole";
}
