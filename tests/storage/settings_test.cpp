#include <cstring>
#include <vector>

#include "os/platform.h"
#include "engine/scanner.h"
#include "tests/storage/storagetest.h"

using SettingsTest = StorageTest;

// The default record laid out by hand: every byte zero but the magic, "C:\" and "Srt".
static std::string DefaultImage() {
  std::string image(302, '\0');
  image.replace(0, 4, std::string("plm\0", 4));
  image.replace(4, 3, "C:\\");
  image.replace(258, 3, "Srt");
  return image;
}

TEST_F(SettingsTest, FirstRunKeepsDefaultsAndWritesTheDefaultRecord) {
  const std::string here = std::filesystem::current_path().string();
  EXPECT_EQ(std::string(ProgramDirectory), here);
  EXPECT_EQ(std::string(SettingsPath), std::string(here) + kPathSeparator + "Pelmar.ini");
  EXPECT_STREQ(BrowseDirectory, "C:\\");
  EXPECT_STREQ(WorkingOfni, "Srt");
  EXPECT_EQ(DelimiterMode, 0);
  EXPECT_EQ(SettingsChanged, 0);
  EXPECT_FALSE(FileExists("Pelmar.ini"));

  ASSERT_EQ(WriteSettings(WindowPlace{}), 0);
  EXPECT_EQ(ReadFile("Pelmar.ini"), DefaultImage());
}

TEST_F(SettingsTest, EverySwitchOnWithFourCharacterOfniAndNegativeWindowRoundTrips) {
  CopyText(Preferences.defaultBrowseDirectory, sizeof Preferences.defaultBrowseDirectory, "D:\\data\\");
  CopyText(Preferences.ofni, sizeof Preferences.ofni, "Mrg1");
  Preferences.goToSortDialog = Preferences.createUserFiles = Preferences.stayInSortDialog = 1;
  Preferences.useLastPath = Preferences.enableKeyTitling = 1;
  Preferences.delimiter = 2;
  ASSERT_EQ(WriteSettings(WindowPlace{-8, -20, 556, 350}), 0);

  std::string image(302, '\0');
  image.replace(0, 4, std::string("plm\0", 4));
  image.replace(4, 8, "D:\\data\\");
  image.replace(258, 4, "Mrg1");  // four characters: no terminator
  image.replace(262, 12, std::string("\1\0\0\0\1\0\0\0\1\0\0\0", 12));
  image.replace(274, 16, std::string("\xEC\xFF\xFF\xFF\x5E\x01\0\0\xF8\xFF\xFF\xFF\x2C\x02\0\0", 16));
  image.replace(290, 12, std::string("\1\0\0\0\2\0\0\0\1\0\0\0", 12));
  EXPECT_EQ(ReadFile("Pelmar.ini"), image);

  LoadSettings();
  EXPECT_STREQ(WorkingOfni, "Mrg1");
  EXPECT_EQ(DelimiterMode, kDelimiterLf);
  EXPECT_EQ(Preferences.windowTop, -20);
  EXPECT_EQ(Preferences.windowBottom, 350);
  EXPECT_EQ(Preferences.windowLeft, -8);
  EXPECT_EQ(Preferences.windowRight, 556);
  const PreferenceRecord &r = Preferences;
  EXPECT_EQ((std::vector<int>{r.goToSortDialog, r.createUserFiles, r.stayInSortDialog, r.useLastPath, r.enableKeyTitling}),
            (std::vector<int>{1, 1, 1, 1, 1}));
  // "Use Last Path for Browse" is on: the stored folder is not used at start-up.
  EXPECT_STREQ(BrowseDirectory, "C:\\");
  EXPECT_STREQ(Preferences.defaultBrowseDirectory, "C:\\");
}

TEST_F(SettingsTest, ShortFileOverwritesOnlyTheBytesItHas) {
  std::string file(268, '\0');
  file.replace(0, 4, std::string("plm\0", 4));
  file.replace(4, 8, "E:\\work\\");
  file.replace(258, 2, "Ab");
  file[262] = 1;  // go to sort dialog
  file[266] = 1;  // first half of "create user files"
  WriteFile("Pelmar.ini", file);
  LoadSettings();
  EXPECT_STREQ(BrowseDirectory, "E:\\work\\");
  EXPECT_STREQ(WorkingOfni, "Ab");
  EXPECT_EQ(Preferences.goToSortDialog, 1);
  EXPECT_EQ(Preferences.createUserFiles, 1);
  EXPECT_EQ(Preferences.stayInSortDialog, 0);
  EXPECT_EQ(Preferences.delimiter, 0);

  // A delimiter the scanner does not know is kept in the record and read as CR LF.
  std::string image = DefaultImage();
  PutLe32(image, 294, 7);
  WriteFile("Pelmar.ini", image);
  LoadSettings();
  EXPECT_EQ(Preferences.delimiter, 7);
  EXPECT_EQ(DelimiterMode, kDelimiterBoth);
}

// A rewrite goes through a file it creates new: it never writes through a link or into a
// file that has the name it tries (a user's own, or another save's), and fails cleanly
// when it finds no free name.
TEST_F(SettingsTest, RewritesNeverWriteThroughLinksOrIntoExistingFiles) {
  ASSERT_EQ(WriteSettings(WindowPlace{}), 0);
  WriteFile("victim", "keep me");
  WriteFile("Pelmar.tmp", "a user's own file");
  const int kTaken = 4096;  // more names than this test process will ever try
  for (int k = 0; k < kTaken; k++) {
    std::string name = "Pelmar-" + std::to_string(ProcessNumber()) + "-" + std::to_string(k) + ".tmp";
    ASSERT_TRUE(MakeLink("victim", name));
  }
  Preferences.goToSortDialog = 1;
  EXPECT_EQ(WriteSettings(WindowPlace{}), 1);
  EXPECT_EQ(ReadFile("Pelmar.ini"), DefaultImage());
  EXPECT_EQ(ReadFile("victim"), "keep me");
  EXPECT_EQ(TemporaryFilesLeft(), kTaken + 1);
  for (int k = 0; k < kTaken; k++) {
    RemoveFile("Pelmar-" + std::to_string(ProcessNumber()) + "-" + std::to_string(k) + ".tmp");
  }
  EXPECT_EQ(WriteSettings(WindowPlace{}), 0);
  EXPECT_EQ(ReadFile("Pelmar.ini")[262], 1);
  EXPECT_EQ(ReadFile("Pelmar.tmp"), "a user's own file");
  EXPECT_EQ(ReadFile("victim"), "keep me");
}
