#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/errortext.h"
#include "engine/sortrun.h"
#include "os/platform.h"
#include "resources/resource.h"
#include "dialogs/sortdialog.h"
#include "dialogs/validation.h"
#include "storage/settings.h"
#include "tests/support/fakewinsys.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;

// Every test runs in a fresh program directory holding data/orders.txt (four 4-byte
// records), with the fake reset, start-up state, and the dialog opened by its owner.
class SortDialogEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    folder_ = fs::temp_directory_path() / ("pelmar-sortevents-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "data");
    fs::current_path(folder_);
    std::ofstream("data/orders.txt", std::ios::binary) << "dd4\ncc3\nbb2\naa1\n";
    FakeReset();
    LoadSettings();
    ResetParameterState();
    BrowsedInput = 0;
    FakeSetWindowRect(kOwner, ScreenRect{100, 50, 664, 420});
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(folder_);
  }

  std::string Path(const char *name) const { return (folder_ / name).string(); }
  bool Logged(WindowHandle window, const char *text) const {
    for (int i = 0; i < FakeEventCount(); i++) {
      if (FakeEventAt(i)->window == window && strcmp(FakeEventAt(i)->text, text) == 0) return true;
    }
    return false;
  }
  void Click(int control) { SortDialogCommand(kDialog, control, kNotifyClicked); }

  static int dialog_, owner_;
  WindowHandle const kDialog = &dialog_;
  WindowHandle const kOwner = &owner_;
  fs::path home_, folder_;
};
int SortDialogEvents::dialog_, SortDialogEvents::owner_;

TEST_F(SortDialogEvents, OpeningPlacesTheDialogMinimisesTheOwnerAndFillsOrListsTheSets) {
  CurrentParameters.recordLength = -1;
  ParametersLoaded = 1;
  SortDialogOpen(kDialog, kOwner);
  EXPECT_TRUE(Logged(kDialog, "move 104,72"));
  EXPECT_TRUE(Logged(kOwner, "minimize"));
  EXPECT_TRUE(Logged(kDialog, "focus"));
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_RECORD_SIZE), "variable");
  EXPECT_EQ(SortDialogLabelText(IDC_SAVED_LABEL), nullptr);

  // With user files on: the list, its label and Remove shown, the fields left empty.
  FakeReset();
  Preferences.createUserFiles = 1;
  SortDialogOpen(kDialog, kOwner);
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_RECORD_SIZE), "");
  EXPECT_EQ(FakeControlShown(kDialog, IDC_SAVED_LIST), 1);
  EXPECT_EQ(FakeControlShown(kDialog, IDC_REMOVE_ENTRY), 1);
  EXPECT_STREQ(SortDialogLabelText(IDC_SAVED_LABEL), " Saved Sort Parameters ");
  EXPECT_STREQ(SortDialogLabelText(IDC_KEY_TITLE_LABEL(5)), "Key 6:");
  EXPECT_EQ(SortDialogLabelText(IDC_SORT_PANEL), nullptr);
}

TEST_F(SortDialogEvents, BrowseMakesTheOutputNameAndFocusesTheRecordSize) {
  SortDialogOpen(kDialog, kOwner);
  strcpy(KeyTitles[1], "Amount");
  WriteFieldText(kDialog, IDC_RECORD_SIZE, "80");
  FakeSelectListItem(kDialog, IDC_SAVED_LIST, 0);
  const std::string input = Path("data/orders.txt");
  FakeQueueOpenFile(input.c_str());
  Click(IDC_BROWSE);

  const FakeOpenFileRequest *request = FakeLastOpenFileRequest();
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(request->owner, kDialog);  // the file dialog's own owner takes no input behind it
  static const char kFilters[] = "All Files (*.*)\0*.*\0Text Files (*.txt)\0*.txt\0Doc Files (*.doc)\0*.doc\0";
  EXPECT_EQ(std::string(request->filters, request->filtersLength), std::string(kFilters, sizeof kFilters - 1));
  EXPECT_STREQ(request->title, "  Retrieve File Name");
  EXPECT_STREQ(request->defaultExtension, "*");
  EXPECT_STREQ(request->initialFolder, "C:\\");
  EXPECT_EQ(request->capacity, 260u);

  EXPECT_EQ(BrowsedInput, 1);
  EXPECT_EQ(FakeFieldText(kDialog, IDC_INPUT_NAME), input);
  EXPECT_EQ(FakeFieldText(kDialog, IDC_OUTPUT_NAME), Path("data/ordersSrt.txt"));
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_RECORD_SIZE), "");
  EXPECT_EQ(FakeFocusControl(), IDC_RECORD_SIZE);
  EXPECT_STREQ(KeyTitles[1], "Key 2:");
  EXPECT_EQ(FakeRepaintCount(kDialog, IDC_KEY_TITLE_LABEL(1)), 1);
  EXPECT_EQ(FakeListSelection(kDialog, IDC_SAVED_LIST), -1);
  EXPECT_EQ(FakeMessageCount(), 0);

  // A dot in a folder's name makes two: refused, the output left empty.
  fs::create_directories(folder_ / "my.data");
  fs::copy_file(Path("data/orders.txt"), folder_ / "my.data/orders.txt");
  FakeQueueOpenFile(Path("my.data/orders.txt").c_str());
  Click(IDC_BROWSE);
  ASSERT_EQ(FakeMessageCount(), 1);
  EXPECT_STREQ(FakeMessageAt(0)->text, "Bad Input File Name");
  EXPECT_STREQ(FakeMessageAt(0)->caption, "  * * ERROR * *");
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_OUTPUT_NAME), "");
}

TEST_F(SortDialogEvents, CancelledBrowseEmptiesTheFieldsAndKeepsTitlesAndStatistics) {
  SortDialogOpen(kDialog, kOwner);
  strcpy(KeyTitles[0], "Name");
  BrowsedInput = 1;
  WriteCheckBox(kDialog, IDC_STATISTICS, 1);
  WriteFieldText(kDialog, IDC_INPUT_NAME, "x.dat");
  WriteFieldText(kDialog, IDC_KEY_POSITION(2), "7");
  const int events = FakeEventCount();
  FakeQueueOpenFile(nullptr);
  Click(IDC_BROWSE);
  EXPECT_EQ(BrowsedInput, 0);
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_INPUT_NAME), "");
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_KEY_POSITION(2)), "");
  EXPECT_STREQ(KeyTitles[0], "Name");
  EXPECT_EQ(ReadCheckBox(kDialog, IDC_STATISTICS), 1);
  ASSERT_EQ(FakeEventCount(), events + 1);
  EXPECT_STREQ(FakeEventAt(events)->text, "focus");
}

// Off, a browse leaves the browse folder alone; on, it remembers a new folder only.
TEST_F(SortDialogEvents, UseLastPathRemembersANewFolderOnly) {
  SortDialogOpen(kDialog, kOwner);
  FakeQueueOpenFile(Path("data/orders.txt").c_str());
  Click(IDC_BROWSE);
  EXPECT_EQ(SettingsChanged, 0);
  EXPECT_STREQ(BrowseDirectory, "C:\\");
  EXPECT_STREQ(Preferences.defaultBrowseDirectory, "C:\\");
  Preferences.useLastPath = 1;
  FakeQueueOpenFile(Path("data/orders.txt").c_str());
  Click(IDC_BROWSE);
  EXPECT_EQ(SettingsChanged, 1);
  EXPECT_EQ(std::string(BrowseDirectory), Path("data"));
  EXPECT_EQ(std::string(Preferences.defaultBrowseDirectory), Path("data"));
  SettingsChanged = 0;
  FakeQueueOpenFile(Path("data/orders.txt").c_str());
  Click(IDC_BROWSE);
  EXPECT_EQ(SettingsChanged, 0);
}

// A browsed path of 259 characters and its longer output name are held whole in the
// fields, bounded in the parameters, and refused by validation before anything is saved.
TEST_F(SortDialogEvents, LongBrowsedNamesAreHeldAndRefused) {
  SortDialogOpen(kDialog, kOwner);
  std::string input = "/dd/in." + std::string(252, 'x');
  ASSERT_EQ(input.size(), 259u);
  FakeQueueOpenFile(input.c_str());
  Click(IDC_BROWSE);
  EXPECT_EQ(FakeFieldText(kDialog, IDC_INPUT_NAME), input);
  EXPECT_EQ(std::string(FakeFieldText(kDialog, IDC_OUTPUT_NAME)).size(), 262u);
  EXPECT_EQ(strlen(CurrentParameters.inputName), 255u);
  EXPECT_EQ(strlen(CurrentParameters.outputName), 255u);
  WriteFieldText(kDialog, IDC_RECORD_SIZE, "4");
  WriteFieldText(kDialog, IDC_KEY_POSITION(0), "1");
  WriteFieldText(kDialog, IDC_KEY_LENGTH(0), "2");
  Click(IDC_VALIDATE);
  ASSERT_EQ(FakeMessageCount(), 1);
  EXPECT_NE(strstr(FakeMessageAt(0)->text, "Input or Output File Name\\Path too LONG!"), nullptr)
      << FakeMessageAt(0)->text;
  EXPECT_FALSE(fs::exists("spt.spt"));
  EXPECT_FALSE(Logged(kDialog, "end 0"));
}

TEST_F(SortDialogEvents, KeyTitleEditingStoresAtMost25CharactersOfANonEmptyText) {
  SortDialogOpen(kDialog, kOwner);
  Click(IDC_KEY_TITLE_LABEL(1));  // titling off: nothing
  EXPECT_EQ(FakeControlShown(kDialog, IDC_TITLE_EDITOR), 0);

  Preferences.enableKeyTitling = 1;
  Click(IDC_KEY_TITLE_LABEL(1));
  EXPECT_EQ(FakeControlShown(kDialog, IDC_TITLE_EDITOR), 1);
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_TITLE_EDITOR), "Key 2:");
  EXPECT_EQ(FakeFocusControl(), IDC_TITLE_EDITOR);
  WriteFieldText(kDialog, IDC_TITLE_EDITOR, "Amount of the order, in cents");  // 29 characters
  Click(IDC_KEY_TITLE_LABEL(4));  // any label closes the editor for key 2
  EXPECT_STREQ(KeyTitles[1], "Amount of the order, in c");
  EXPECT_EQ(KeyTitles[1][kKeyTitleSize - 1], '\0');
  EXPECT_STREQ(SortDialogLabelText(IDC_KEY_TITLE_LABEL(1)), "Amount of the order, in c");
  EXPECT_EQ(FakeRepaintCount(kDialog, IDC_KEY_TITLE_LABEL(1)), 1);
  EXPECT_EQ(FakeControlShown(kDialog, IDC_TITLE_EDITOR), 0);
  EXPECT_EQ(FakeFocusControl(), IDC_KEY_POSITION(1));
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_TITLE_EDITOR), "");

  Click(IDC_KEY_TITLE_LABEL(2));  // an emptied editor leaves the title
  WriteFieldText(kDialog, IDC_TITLE_EDITOR, "");
  Click(IDC_KEY_TITLE_LABEL(2));
  EXPECT_STREQ(KeyTitles[2], "Key 3:");
  EXPECT_EQ(FakeFocusControl(), IDC_KEY_POSITION(2));
}

TEST_F(SortDialogEvents, SortLeavesUnlessAskedToStayAndValidateStays) {
  SortDialogOpen(kDialog, kOwner);
  auto enter = [&] {
    WriteFieldText(kDialog, IDC_INPUT_NAME, "data/orders.txt");
    WriteFieldText(kDialog, IDC_OUTPUT_NAME, "data/sorted.txt");
    WriteFieldText(kDialog, IDC_RECORD_SIZE, "4");
    WriteFieldText(kDialog, IDC_KEY_POSITION(0), "1");
    WriteFieldText(kDialog, IDC_KEY_LENGTH(0), "2");
  };
  enter();
  Click(IDC_VALIDATE);
  ASSERT_EQ(FakeMessageCount(), 1);
  EXPECT_STREQ(FakeMessageAt(0)->text, "Sort Parameters are Valid");
  EXPECT_TRUE(fs::exists("spt.spt"));
  EXPECT_FALSE(Logged(kDialog, "end 0"));

  Preferences.stayInSortDialog = 1;
  Click(IDC_SORT);
  EXPECT_STREQ(FakeMessageAt(1)->text, "Sort Is Done!");
  EXPECT_FALSE(Logged(kDialog, "end 0"));

  Preferences.stayInSortDialog = 0;
  fs::remove("data/sorted.txt");
  Click(IDC_SORT);
  EXPECT_STREQ(FakeMessageAt(2)->text, "Sort Is Done!");
  EXPECT_TRUE(Logged(kDialog, "end 0"));
  EXPECT_TRUE(Logged(kOwner, "restore"));
  EXPECT_EQ(ParametersLoaded, 1);  // the fields were captured on the way out
  // A short sort leaves the caption alone, and no progress function behind it.
  EXPECT_FALSE(Logged(kDialog, "title"));
  EXPECT_EQ(SortProgress, nullptr);
  EXPECT_EQ(ReadFile("data/sorted.txt"), "aa1\nbb2\ncc3\ndd4\n");
}

static uint32_t gClock = 0;
static uint32_t SlowClock() { return gClock += 1000; }  // every reading a second later

// A sort that takes its time shows its progress in the caption, by the clock every
// progress display reads, and gives the dialog its own caption back at the end.
TEST_F(SortDialogEvents, ALongSortShowsItsProgressInTheCaptionAndGivesItBack) {
  SortDialogOpen(kDialog, kOwner);
  WriteFieldText(kDialog, IDC_INPUT_NAME, "data/orders.txt");
  WriteFieldText(kDialog, IDC_OUTPUT_NAME, "data/sorted.txt");
  WriteFieldText(kDialog, IDC_RECORD_SIZE, "4");
  WriteFieldText(kDialog, IDC_KEY_POSITION(0), "1");
  WriteFieldText(kDialog, IDC_KEY_LENGTH(0), "2");
  SetClockForTesting(SlowClock, nullptr);
  Click(IDC_SORT);
  SetClockForTesting(nullptr, nullptr);
  int titles = 0;  // the progress, then the dialog's own
  for (int i = 0; i < FakeEventCount(); i++) {
    titles += FakeEventAt(i)->window == kDialog && strcmp(FakeEventAt(i)->text, "title") == 0;
  }
  EXPECT_GE(titles, 2);
  EXPECT_STREQ(FakeWindowTitle(), "      Pelmar v1.0 - Sort Parameters");
  EXPECT_STREQ(FakeMessageAt(0)->text, "Sort Is Done!");
}

TEST_F(SortDialogEvents, EscapeCapturesTheFieldsEndsAndRestoresTheOwner) {
  SortDialogOpen(kDialog, kOwner);
  WriteFieldText(kDialog, IDC_RECORD_SIZE, "Vari");
  EXPECT_EQ(SortDialogCommand(kDialog, IDC_RETURN_TO_MAIN, kNotifyClicked), 1);
  EXPECT_EQ(CurrentParameters.recordLength, -1);
  EXPECT_TRUE(Logged(kDialog, "end 0"));
  EXPECT_TRUE(Logged(kOwner, "restore"));
  EXPECT_EQ(SortDialogCommand(kDialog, IDC_SAVED_LIST, kNotifySelectionChanged), 1);
  // Edits' own notifications and unknown controls are left to the window system.
  EXPECT_EQ(SortDialogCommand(kDialog, IDC_INPUT_NAME, 0x300), 0);
  EXPECT_EQ(SortDialogCommand(kDialog, IDC_SORT_PANEL, kNotifyClicked), 0);
}

TEST_F(SortDialogEvents, HelpAndStatisticsExplanationTexts) {
  Click(IDC_STATISTICS_CAPTION);
  Click(IDC_HELP_BUTTON);
  ASSERT_EQ(FakeMessageCount(), 2);
  EXPECT_STREQ(FakeMessageAt(0)->caption, "Enable Sort Statistics Info");
  EXPECT_STREQ(FakeMessageAt(0)->text,
               "If Checked, a File called `SortStat.txt` is Created\n  with Statistics on Memory Usage,\n"
               "  Run Time, Sort/Merge Compares, etc.");
  EXPECT_STREQ(FakeMessageAt(1)->caption, "  Quick Help Information");
  const std::string help = FakeMessageAt(1)->text;
  EXPECT_EQ(help.rfind("Enter Required Fields\n  Input/Output File names, Record Length and Key 1:\n", 0), 0u);
  EXPECT_NE(help.find("\n\nRecord Size: Must be number from 1 to 4096.\n\n"), std::string::npos);
  const std::string end = "Skip `Key 2:`,  then enter `Key 3`";
  EXPECT_EQ(help.substr(help.size() - end.size()), end);
}

TEST(SortProgressCaption, NamesThePhaseAndItsPercentage) {
  char caption[128];
  FormatSortProgress(2, 45, 100, caption, sizeof caption);
  EXPECT_STREQ(caption, "      Pelmar v1.0 - Sorting: merging groups 45%");
  FormatSortProgress(0, 7, 0, caption, sizeof caption);
  EXPECT_STREQ(caption, "      Pelmar v1.0 - Sorting: reading keys 0%");
  FormatSortProgress(3, 12, 10, caption, sizeof caption);
  EXPECT_STREQ(caption, "      Pelmar v1.0 - Sorting: writing output 100%");
}
