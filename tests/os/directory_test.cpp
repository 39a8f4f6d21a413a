// The platform's file-system operations of the window-system layer (POSIX or Win32): the
// current directory and the search for parameter files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "os/directory.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;

static std::vector<std::string> FoundSptFiles(size_t capacity) {
  std::vector<std::string> found;
  SptSearch search = BeginSptSearch();
  EXPECT_NE(search, nullptr);
  if (search == nullptr) return found;
  std::vector<char> name(capacity + 1, '#');
  while (NextSptFile(search, name.data(), capacity)) {
    EXPECT_EQ(name[capacity], '#');  // nothing written past the capacity
    found.push_back(name.data());
  }
  EndSptSearch(search);
  std::sort(found.begin(), found.end());
  return found;
}

// Only regular files whose names end in ".spt" count: not folders, not longer extensions
// (which Windows' pattern can match through short names). Another letter case counts
// where the system opens the file by either name.
TEST(WinsysFiles, SptSearchFindsOnlyFilesEndingInSpt) {
  TempCurrentFolder here;
  for (const char *name : {"a.spt", "long_name_of_a_set.spt", "B.SPT", "c.sptx", "d.spt.bak", "spt", "e.txt"}) {
    WriteFile(name, "x");
  }
  fs::create_directory("folder.spt");
#ifdef _WIN32
  const std::vector<std::string> all = {"B.SPT", "a.spt", "long_name_of_a_set.spt"};
#else
  const std::vector<std::string> all = {"a.spt", "long_name_of_a_set.spt"};
#endif
  EXPECT_EQ(FoundSptFiles(256), all);
  // A name that does not fit is passed over.
  EXPECT_EQ(FoundSptFiles(6), (std::vector<std::string>(all.begin(), all.end() - 1)));
  RemoveFile("a.spt");
  RemoveFile("long_name_of_a_set.spt");
  RemoveFile("B.SPT");
  EXPECT_EQ(FoundSptFiles(256), std::vector<std::string>{});
}

TEST(WinsysFiles, WorkingDirectoryIsReadAndEntered) {
  TempCurrentFolder here;
  fs::create_directory("sub");
  char path[256];
  ASSERT_EQ(GetWorkingDirectory(path, sizeof path), 0);
  EXPECT_TRUE(fs::equivalent(path, here.folder.path));
  EXPECT_EQ(SetWorkingDirectory("sub"), 0);
  EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(here.folder.path) / "sub"));
  EXPECT_EQ(SetWorkingDirectory("no-such-folder"), 1);
  EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(here.folder.path) / "sub"));
  char small[4] = "xyz";
  EXPECT_EQ(GetWorkingDirectory(small, sizeof small), 1);  // longer than the room given
  EXPECT_STREQ(small, "");
  ASSERT_EQ(SetWorkingDirectory(here.folder.path.c_str()), 0);
}
