// --memory and --temporary-directory: what each value gives, and the refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commandline.h"
#include "engine/sortrun.h"

TEST(ParseCommandLine, MemoryAndTemporaryFolderTakeTheirValuesOrAreRefused) {
  struct Row {
    std::vector<std::string> words;
    uint64_t memory;       // expected budget; 0 with a refusal
    const char *folder;    // expected folder, or null
    const char *refusal;   // the start of the reason, or null
  };
  const std::string longFolder(201, 'd');
  const Row rows[] = {
      {{"--memory", "512M"}, uint64_t{512} << 20, nullptr, nullptr},
      {{"-S", "2g"}, uint64_t{2} << 30, nullptr, nullptr},
      {{"--memory=16777216"}, uint64_t{16} << 20, nullptr, nullptr},
      {{"--memory", "65536k", "-T", "/var/tmp"}, uint64_t{64} << 20, "/var/tmp", nullptr},
      {{"--temporary-directory=runs"}, 0, "runs", nullptr},
      {{"--memory", "15M"}, 0, nullptr, "--memory takes at least 16M, not '15M'"},
      {{"--memory", "1T"}, 0, nullptr, "--memory takes a size such as 512M or 2G, not '1T'"},
      {{"--memory", "-1G"}, 0, nullptr, "--memory takes a size"},
      {{"--memory", "M"}, 0, nullptr, "--memory takes a size"},
      {{"--memory", "99999999999G"}, 0, nullptr, "--memory takes a size"},
      {{"--temporary-directory="}, 0, nullptr, "--temporary-directory takes a folder name of 1 to 200"},
      {{"-T", longFolder}, 0, nullptr, "--temporary-directory takes a folder name of 1 to 200"},
  };
  for (const Row &row : rows) {
    std::vector<std::string> words = {"pelmar-sort", "-i", "in.dat", "-o", "out.dat", "-s", "8", "-k", "1,2"};
    words.insert(words.end(), row.words.begin(), row.words.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(&word[0]);
    static CommandLine line;
    char error[640] = "";
    const int result = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line, error, sizeof error);
    SCOPED_TRACE(row.words[0] + (row.words.size() > 1 ? " " + row.words[1] : ""));
    if (row.refusal != nullptr) {
      EXPECT_EQ(result, 2);
      EXPECT_EQ(std::string(error).rfind(row.refusal, 0), 0u) << error;
    } else {
      ASSERT_EQ(result, 0) << error;
      EXPECT_EQ(line.memory, row.memory);
      EXPECT_EQ(line.temporaryFolder == nullptr ? std::string("(none)") : std::string(line.temporaryFolder),
                row.folder == nullptr ? std::string("(none)") : std::string(row.folder));
    }
  }
}
