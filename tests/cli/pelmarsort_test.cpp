// pelmar-sort end to end, as transcripts (transcripts.txt says what they hold and how):
// the built program run in a fresh folder, each command's exit status, standard output and
// standard error, and the files it leaves.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/sorttypes.h"
#include "tests/support/tables.h"
#include "tests/support/testfiles.h"

namespace {

namespace fs = std::filesystem;

// An expected "A..." matches any text that starts with A.
bool Matches(const std::string &text, const std::string &expected) {
  const size_t cut = expected.size() - 3;
  return expected.size() > 3 && expected.substr(cut) == "..." ? text.substr(0, cut) == expected.substr(0, cut) : text == expected;
}

// The word with {done}, {sep} and {terminated} put in.
std::string Expanded(std::string word) {
  const std::pair<std::string, std::string> names[] = {{"{done}", "Sort Is Done!\n"}, {"{sep}", std::string(1, kPathSeparator)},
                                                       {"{terminated}", "\n* * * ERRORS! - Sort Terminated * * *\n"}};
  for (const auto &name : names) {
    for (size_t at; (at = word.find(name.first)) != std::string::npos;) word.replace(at, name.first.size(), name.second);
  }
  return word;
}

// Runs one command line of a transcript in folder: pelmar-sort ARGUMENT... [< FILE] -> STATUS OUT ERR.
void Step(const TempFolder &folder, std::vector<std::string> words) {
  const auto arrow = std::find(words.begin(), words.end(), "->");
  std::vector<std::string> arguments(words.begin(), arrow), expected(arrow + (arrow != words.end()), words.end());
  std::string input, out, err;
  if (arguments.size() > 2 && arguments[arguments.size() - 2] == "<") input = arguments.back(), arguments.resize(arguments.size() - 2);
  if (expected.size() == 4 && expected[2] == "usage") expected = {expected[0], expected[1], "pelmar-sort: " + expected[3] + " (see pelmar-sort --help)\n"};
  char *end = nullptr;
  const long status = expected.size() == 3 ? strtol(expected[0].c_str(), &end, 10) : -1;
  ASSERT_TRUE(end != nullptr && *end == '\0' && end != expected[0].c_str()) << "a command line ends in -> STATUS OUT ERR";
  arguments[0] = PELMAR_SORT_PROGRAM;
  const auto output = std::find(arguments.begin(), arguments.end(), "-o");  // records on standard output
  const bool raw = output != arguments.end() && output + 1 != arguments.end() && output[1] == "-";
  EXPECT_EQ(RunProgramIn(folder.path, arguments, &out, &err, input, raw), status);
  EXPECT_PRED2(Matches, out, expected[1]);
  EXPECT_PRED2(Matches, err, expected[2]);
}

}  // namespace

// The command line, one option and one message at a time, and what each run leaves.
TEST(PelmarSort, Transcripts) {
  std::unique_ptr<TempFolder> folder;
  PlayTable(PELMAR_TRANSCRIPTS, 127, [&](const TableRow &row) {
    std::vector<std::string> w;
    for (const std::string &word : row.words) w.push_back(Expanded(word));
    if (w[0] == "transcript") {
      folder.reset();
      folder.reset(new TempFolder);
    } else if (folder == nullptr) {
      ADD_FAILURE() << "a line before the first transcript";
    } else if (w[0] == "pelmar-sort") {
      Step(*folder, w);
    } else if (w[0] == "folder" && w.size() == 2) {
      fs::create_directories(folder->File(w[1]));
    } else if (w[0] == "file" && w.size() == 3) {
      fs::create_directories(fs::path(folder->File(w[1])).parent_path());
      WriteFile(folder->File(w[1]), w[2]);
    } else if (w[0] == "holds" && w.size() == 3) {
      EXPECT_EQ(ReadFile(folder->File(w[1])), w[2]) << w[1];
    } else {
      ADD_FAILURE() << "no such line";
    }
  });
}

// A reader that goes away (pelmar-sort ... -o - | head -c 1) ends the run at once, with no
// message: by the signal a closed pipe sends (POSIX), or a quiet exit (Windows).
TEST(PelmarSort, AClosedReaderEndsTheRunQuietly) {
  TempFolder folder;
  std::string lines;
  for (int i = 0; i < 200000; i++) lines += std::to_string(i * 7919 % 200000) + "\n";
  WriteFile(folder.File("in.txt"), lines);
  std::string err;
  const int status = RunProgramIntoClosedPipe(
      folder.path, {PELMAR_SORT_PROGRAM, "-i", "in.txt", "-o", "-", "-s", "var", "-k", "1,6", "--delimiter", "lf"}, 1, &err);
#ifdef _WIN32
  EXPECT_EQ(status, 1);
#else
  EXPECT_EQ(status, 128 + SIGPIPE);
#endif
  EXPECT_EQ(err, "");
  EXPECT_EQ(FolderNames(folder.path), std::vector<std::string>{"in.txt"});
}
