// The os layer's folder operations (POSIX or Win32): the current directory and the search
// for parameter files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "os/directory.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;

// The names found with room for capacity bytes, sorted and each followed by a blank.
static std::string FoundSptFiles(size_t capacity) {
  std::vector<std::string> found;
  std::vector<char> name(capacity + 1, '#');
  SptSearch search = BeginSptSearch();
  while (search != nullptr && NextSptFile(search, name.data(), capacity)) found.push_back(std::string(name.data()) + " ");
  EndSptSearch(search);
  EXPECT_EQ(name[capacity], '#');  // nothing written past the room given
  std::sort(found.begin(), found.end());
  return search == nullptr ? "(no search)" : std::accumulate(found.begin(), found.end(), std::string());
}

// Only regular files whose names end in ".spt" count: not folders, not longer extensions
// (which Windows' pattern can match through short names), and not a name without room.
// Another letter case counts where the system opens the file by either name.
TEST(SptSearch, FindsTheRegularFilesEndingInSptThatFit) {
  TempCurrentFolder here;
  for (const char *name : {"a.spt", "ab.spt", "B.SPT", "c.sptx", "d.spt.bak", "spt", "e.txt"}) WriteFile(name, "x");
  fs::create_directory("folder.spt");
#ifdef _WIN32
  const std::string upper = "B.SPT ";
#else
  const std::string upper;
#endif
  EXPECT_EQ(FoundSptFiles(256), upper + "a.spt ab.spt ");
  EXPECT_EQ(FoundSptFiles(6), upper + "a.spt ");  // "ab.spt" and its end need 7 bytes
}

TEST(WorkingDirectory, IsReadAndEnteredOrLeftAsItWas) {
  TempCurrentFolder here;
  fs::create_directory("sub");
  char path[256], small[4] = "xyz";
  ASSERT_EQ(GetWorkingDirectory(path, sizeof path), 0);
  EXPECT_TRUE(fs::equivalent(path, here.folder.path));
  EXPECT_EQ(GetWorkingDirectory(small, sizeof small), 1);  // longer than the room given: empty
  EXPECT_STREQ(small, "");
  EXPECT_EQ(SetWorkingDirectory("no-such-folder"), 1);
  EXPECT_EQ(SetWorkingDirectory("sub"), 0);
  EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(here.folder.path) / "sub"));
  ASSERT_EQ(SetWorkingDirectory(here.folder.path.c_str()), 0);  // Windows removes no current folder
}
