#include "dialogs/validation.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/errortext.h"
#include "resources/resource.h"
#include "storage/parameterfiles.h"
#include "tests/support/fakewinsys.h"
#include "tests/support/tables.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;
using Changes = std::vector<std::pair<std::string, std::string>>;  // control names and texts

int ControlNamed(const std::string &name);  // stories_test.cpp: the controls as the stories name them

// Validates the changes to a valid set in fields that start afresh (in.dat, ten records of 80
// bytes, to out.dat, record size 80, key 1 at 1 for 10 bytes), after a validation of that
// set itself (so the variable-length flag is clear) and with cleared parameters.
static int Validate(const Changes &changes) {
  FakeReset();
  BrowsedInput = 0;
  for (const auto &change : Changes{{"input", "in.dat"}, {"output", "out.dat"}, {"size", "80"}, {"pos1", "1"}, {"len1", "10"}}) {
    WriteFieldText(FakeDialog, ControlNamed(change.first), change.second.c_str());
  }
  if (ValidateParameters(FakeDialog) != 0) return -1;
  ResetParameterState();
  for (const auto &change : changes) WriteFieldText(FakeDialog, ControlNamed(change.first), change.second.c_str());
  return ValidateParameters(FakeDialog);
}

// validation.txt's rows: the fields changed, and the whole error text.
TEST(ValidateParameters, ReportsEachProblemInStageOrder) {
  TempCurrentFolder folder;
  fs::create_directories("folder.dir");
  for (auto file : {std::make_pair("in.dat", 800), {"odd.dat", 801}, {"one.dat", 80}, {"empty.dat", 0}}) {
    std::ofstream(file.first) << std::string(file.second, 'r');
  }
#ifndef _WIN32
  mkfifo("pipe.dat", 0600);
#endif
  PlayTable(PELMAR_VALIDATION, 32, [](const TableRow &row) {
    const auto arrow = std::find(row.words.begin(), row.words.end(), "->");
    ASSERT_TRUE(arrow + 2 == row.words.end() && (arrow - row.words.begin()) % 2 == 0) << "a row is CONTROL TEXT ... -> TEXT";
    Changes changes;
    for (auto word = row.words.begin(); word != arrow; word += 2) {
      EXPECT_NE(ControlNamed(*word), 0) << "no control " << *word;
      changes.emplace_back(*word, word[1]);
    }
    EXPECT_EQ(Validate(changes), arrow[1] == "\n" ? 0 : 1);
    EXPECT_EQ(std::string(ErrorText), arrow[1]);
  });
}
