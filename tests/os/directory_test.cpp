// The os layer's folder operations (POSIX or Win32): the current directory and the search
// for parameter files.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "os/directory.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;

// Only regular files whose names end in ".spt" count: not folders, not longer extensions
// (which Windows' pattern can match through short names), and not a name without room
// (capacity 6 holds "a.spt" and its end, not "ab.spt"). Another letter case counts where
// the system opens the file by either name.
TEST(SptSearch, FindsTheRegularFilesEndingInSptThatFit) {
  TempCurrentFolder here;
  for (const char *name : {"a.spt", "ab.spt", "B.SPT", "c.sptx", "d.spt.bak", "spt", "e.txt"}) WriteFile(name, "x");
  fs::create_directory("folder.spt");
  for (size_t capacity : {256, 6}) {
    std::set<std::string> found;
    std::string name(capacity + 1, '#');
    SptSearch search = BeginSptSearch();
    while (search != nullptr && NextSptFile(search, &name[0], capacity)) found.insert(name.c_str());
    EndSptSearch(search);
    EXPECT_EQ(name[capacity], '#');  // nothing written past the room given
#ifdef _WIN32
    EXPECT_EQ(found.erase("B.SPT"), 1u);
#endif
    EXPECT_EQ(found, (capacity == 6 ? std::set<std::string>{"a.spt"} : std::set<std::string>{"a.spt", "ab.spt"}));
  }
}

// Entering a folder is shown by every pelmar-sort transcript that saves a user entry.
TEST(WorkingDirectory, IsReadOrRefused) {
  char path[256], small[4] = "xyz";
  EXPECT_TRUE(GetWorkingDirectory(path, sizeof path) == 0 && fs::equivalent(path, fs::current_path()));
  EXPECT_TRUE(GetWorkingDirectory(small, sizeof small) == 1 && small[0] == '\0');  // longer than the room: left empty
  EXPECT_EQ(SetWorkingDirectory("no-such-folder"), 1);
}
