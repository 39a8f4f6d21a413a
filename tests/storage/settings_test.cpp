#include <string>

#include "tests/storage/storagetest.h"

using SettingsTest = StorageTest;

// Every switch on, an OFNI of four characters (no NUL behind it), a window beyond the
// screen's top left: the one golden image of the file, which the builder must lay too.
TEST_F(SettingsTest, WritesTheRecordByteForByte) {
  const std::string golden = std::string("plm\0D:\\data\\", 12) + std::string(246, '\0') + "Mrg1" +
                             std::string("\1\0\0\0\1\0\0\0\1\0\0\0" "\xEC\xFF\xFF\xFF\x5E\1\0\0\xF8\xFF\xFF\xFF\x2C\2\0\0"
                                         "\1\0\0\0\2\0\0\0\1\0\0\0", 40);
  CopyText(Preferences.defaultBrowseDirectory, sizeof Preferences.defaultBrowseDirectory, "D:\\data\\");
  CopyText(Preferences.ofni, sizeof Preferences.ofni, "Mrg1");
  Preferences.goToSortDialog = Preferences.createUserFiles = Preferences.stayInSortDialog = 1;
  Preferences.useLastPath = Preferences.enableKeyTitling = 1;
  Preferences.delimiter = 2;
  ASSERT_EQ(WriteSettings(WindowPlace{-8, -20, 556, 350}), 0);
  EXPECT_EQ(ReadFile("Pelmar.ini"), golden);
  EXPECT_EQ(SettingsImage(Preferences), golden);
}

// A rewrite goes through a file it creates new: it never writes through a link or into a
// file that has the name it tries (a user's own, or another save's), and fails cleanly
// when it finds no free name.
TEST_F(SettingsTest, RewritesNeverWriteThroughLinksOrIntoExistingFiles) {
  ASSERT_EQ(WriteSettings(WindowPlace{}), 0);
  const std::string before = ReadFile("Pelmar.ini");
  WriteFile("victim", "keep me");
  WriteFile("Pelmar.tmp", "a user's own file");
  const int kTaken = 512;  // more names than this test process will ever try
  auto name = [](int k) { return "Pelmar-" + std::to_string(ProcessNumber()) + "-" + std::to_string(k) + ".tmp"; };
  for (int k = 0; k < kTaken; k++) ASSERT_TRUE(MakeLink("victim", name(k)));
  Preferences.goToSortDialog = 1;
  EXPECT_EQ(WriteSettings(WindowPlace{}), 1);
  EXPECT_EQ(ReadFile("Pelmar.ini"), before);
  EXPECT_EQ(FolderNames().size(), kTaken + 3u);  // nothing left behind
  std::filesystem::create_directory("elsewhere");   // the temporary file goes beside the file,
  std::filesystem::current_path("elsewhere");       // not into the current folder
  EXPECT_EQ(WriteSettings(WindowPlace{}), 1);
  std::filesystem::current_path("..");
  for (int k = 0; k < kTaken; k++) RemoveFile(name(k));
  EXPECT_EQ(WriteSettings(WindowPlace{}), 0);
  EXPECT_EQ(ReadFile("Pelmar.ini")[262], 1);
  EXPECT_EQ(ReadFile("Pelmar.tmp"), "a user's own file");
  EXPECT_EQ(ReadFile("victim"), "keep me");
}
