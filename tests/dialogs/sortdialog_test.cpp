#include "dialogs/sortdialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/sortrun.h"
#include "os/platform.h"
#include "resources/resource.h"
#include "dialogs/validation.h"
#include "storage/settings.h"
#include "tests/support/fakewinsys.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;

static const char kCannotOpen[] = "Internal Program Error:\n  Could NOT Open SPT File!\n";
static const char kError[] = "  * * ERROR * *";

// Every test runs in a fresh folder, the program directory, holding in.dat (four 4-byte
// records) and lines.txt (two CR LF lines), with the fake reset and start-up state.
class SortDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream("in.dat", std::ios::binary) << "dd4\ncc3\nbb2\naa1\n";
    std::ofstream("lines.txt", std::ios::binary) << "line b\r\nline a\r\n";
    FakeReset();
    LoadSettings();
    ResetParameterState();
    BrowsedInput = 0;
  }

  // Types a set with one key into the fields and validates it.
  void Enter(const char *input, const char *output, const char *size, const char *position, const char *length) {
    WriteFieldText(kDialog, IDC_INPUT_NAME, input);
    WriteFieldText(kDialog, IDC_OUTPUT_NAME, output);
    WriteFieldText(kDialog, IDC_RECORD_SIZE, size);
    WriteFieldText(kDialog, IDC_KEY_POSITION(0), position);
    WriteFieldText(kDialog, IDC_KEY_LENGTH(0), length);
    ASSERT_EQ(ValidateParameters(kDialog), 0) << ErrorText;
  }

  // The message boxes shown, as "caption|text".
  static std::vector<std::string> Shown() {
    std::vector<std::string> shown;
    for (int i = 0; i < FakeMessageCount(); i++) {
      shown.push_back(std::string(FakeMessageAt(i)->caption) + "|" + FakeMessageAt(i)->text);
    }
    return shown;
  }

  std::vector<std::string> Listed() const {
    std::vector<std::string> items;
    for (int i = 0; i < FakeListCount(kDialog, IDC_SAVED_LIST); i++) {
      items.push_back(FakeListItem(kDialog, IDC_SAVED_LIST, i));
    }
    return items;
  }

  static int dialog_;
  WindowHandle const kDialog = &dialog_;
  TempCurrentFolder folder_;
};
int SortDialog::dialog_;

TEST_F(SortDialog, FixedLengthSetIsSavedBeforeTheSortAndByValidate) {
  Enter("in.dat", "out.dat", "4", "1", "2");
  EXPECT_EQ(RunSortAction(kDialog, 1, &kDialogSortAction), 1);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Status|Sort Parameters are Valid"});
  EXPECT_EQ(ReadFile("spt.spt").size(), 4u + 766u);
  EXPECT_FALSE(fs::exists("out.dat"));

  // A failed sort: the set was saved all the same, and the whole error text is shown.
  fs::remove("spt.spt");
  Enter("in.dat", "nowhere/out.dat", "4", "1", "2");
  EXPECT_EQ(RunSortAction(kDialog, 0, &kDialogSortAction), 1);
  EXPECT_TRUE(fs::exists("spt.spt"));
  ASSERT_EQ(FakeMessageCount(), 2);
  EXPECT_STREQ(FakeMessageAt(1)->text, ErrorText);
  EXPECT_STREQ(FakeMessageAt(1)->caption, kError);
  EXPECT_EQ(FakeMessageAt(1)->owner, kDialog);

  // The save comes first: its warning is shown before the result.
  FakeReset();
  SetFileFaultForTesting(1, 1, kFileRename);  // no saved file can take its new form
  Enter("in.dat", "out.dat", "4", "1", "2");
  EXPECT_EQ(RunSortAction(kDialog, 0, &kDialogSortAction), 0);
  EXPECT_EQ(Shown(), (std::vector<std::string>{std::string("* * Warning * *|") + kCannotOpen, "Status|Sort Is Done!"}));
  EXPECT_EQ(ReadFile("out.dat"), "aa1\nbb2\ncc3\ndd4\n");
}

TEST_F(SortDialog, VariableLengthSetIsSavedOnlyAfterASuccessfulSort) {
  Enter("lines.txt", "out.txt", "var", "1", "6");
  EXPECT_EQ(RunSortAction(kDialog, 1, &kDialogSortAction), 1);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Status|Sort Parameters are Valid"});
  Enter("lines.txt", "nowhere/out.txt", "var", "1", "6");
  EXPECT_EQ(RunSortAction(kDialog, 0, &kDialogSortAction), 1);
  EXPECT_FALSE(fs::exists("spt.spt"));

  FakeReset();
  SetFileFaultForTesting(1, 1, kFileRename);  // no saved file can take its new form
  Enter("lines.txt", "out.txt", "var", "1", "6");
  EXPECT_EQ(RunSortAction(kDialog, 0, &kDialogSortAction), 0);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Status|Sort Is Done!", std::string("* * Warning * *|") + kCannotOpen}));
  SetFileFaultForTesting(0);
  EXPECT_EQ(RunSortAction(kDialog, 0, &kDialogSortAction), 0);
  EXPECT_EQ(ReadFile("spt.spt").size(), 4u + 766u);
  EXPECT_EQ(ReadFile("out.txt"), "line a\r\nline b\r\n");

  // Without saving (pelmar-sort without --save) nothing is written, whatever the kind.
  fs::remove("spt.spt");
  SortActionOptions options = kDialogSortAction;
  options.saveParameters = 0;
  EXPECT_EQ(RunSortAction(kDialog, 0, &options), 0);
  Enter("in.dat", "out.dat", "4", "1", "2");
  EXPECT_EQ(RunSortAction(kDialog, 1, &options), 1);
  EXPECT_FALSE(fs::exists("spt.spt"));
}

TEST_F(SortDialog, StatisticsGoToTheInputsFolderOrTheOptionsOneForABareName) {
  fs::create_directories("data");
  fs::copy_file("in.dat", "data/in.dat");
  WriteCheckBox(kDialog, IDC_STATISTICS, 1);
  Enter((std::string("data") + kPathSeparator + "in.dat").c_str(), "out.dat", "4", "1", "2");
  EXPECT_EQ(RunSortAction(kDialog, 0, &kDialogSortAction), 0);
  EXPECT_STREQ(StatisticsDirectory, "data");
  EXPECT_TRUE(fs::exists("data/SortStat.txt"));

  // A bare name: the dialog's folder is empty (the run stops at the output, before any
  // report); pelmar-sort's is the current directory.
  Enter("in.dat", "nowhere/out.dat", "4", "1", "2");
  EXPECT_EQ(RunSortAction(kDialog, 0, &kDialogSortAction), 1);
  EXPECT_STREQ(StatisticsDirectory, "");
  SortActionOptions options = kDialogSortAction;
  options.bareNameFolder = ".";
  EXPECT_EQ(RunSortAction(kDialog, 0, &options), 1);
  EXPECT_STREQ(StatisticsDirectory, ".");
}

TEST_F(SortDialog, SavedEntriesFillTheListAndLoadIntoTheFields) {
  Preferences.createUserFiles = 1;
  Enter("in.dat", "out.dat", "4", "1", "2");
  RunSortAction(kDialog, 1, &kDialogSortAction);
  EXPECT_EQ(Listed(), std::vector<std::string>{"in_a"});
  EXPECT_EQ(FakeFocusControl(), IDC_SAVED_LIST);

  // A new entry clears the selection; the same set again changes nothing in the list.
  FakeSelectListItem(kDialog, IDC_SAVED_LIST, 0);
  Enter("in.dat", "out.dat", "4", "3", "1");
  RunSortAction(kDialog, 1, &kDialogSortAction);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"in_a", "in_b"}));
  EXPECT_EQ(FakeListSelection(kDialog, IDC_SAVED_LIST), -1);
  FakeSelectListItem(kDialog, IDC_SAVED_LIST, 1);
  RunSortAction(kDialog, 1, &kDialogSortAction);
  EXPECT_EQ(FakeListSelection(kDialog, IDC_SAVED_LIST), 1);
  EXPECT_EQ(FakeListCount(kDialog, IDC_SAVED_LIST), 2);

  // Opening with user files on: the list, its label and Remove appear, filled from every
  // user file, whatever the letter case of its name (a copy named as Windows may name
  // it); a corrupted one is reported to the dialog and the listing goes on.
  std::ofstream("bad.spt", std::ios::binary) << std::string(4 + 766, 'q');
  fs::copy_file("in.spt", "COPY.SPT");
  FakeReset();
  ShowSavedEntries(kDialog);
  for (int control : {IDC_SAVED_LIST, IDC_SAVED_LABEL, IDC_REMOVE_ENTRY}) EXPECT_EQ(FakeControlShown(kDialog, control), 1);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"COPY_a", "COPY_b", "in_a", "in_b"}));
  EXPECT_EQ(FakeFocusDialog(), kDialog);
  EXPECT_EQ(FakeFocusControl(), IDC_SAVED_LIST);
  EXPECT_EQ(Shown(), std::vector<std::string>{std::string(kError) + "|Corrupted SPT File!"});
  EXPECT_EQ(FakeMessageAt(0)->owner, kDialog);

  // Selecting an entry fills the fields and repaints the key labels.
  CopyText(KeyTitles[0], kKeyTitleSize, "Changed:");
  WriteFieldText(kDialog, IDC_KEY_POSITION(0), "");
  FakeSelectListItem(kDialog, IDC_SAVED_LIST, 2);
  FocusControl(kDialog, IDC_SORT);
  LoadSelectedEntry(kDialog);
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_KEY_POSITION(0)), "1");
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_KEY_LENGTH(0)), "2");
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_RECORD_SIZE), "4");
  EXPECT_STREQ(KeyTitles[0], "Key 1:");
  for (int k = 0; k < kMaxKeys; k++) EXPECT_EQ(FakeRepaintCount(kDialog, IDC_KEY_TITLE_LABEL(k)), 1);
  EXPECT_EQ(FakeFocusControl(), IDC_SAVED_LIST);
  EXPECT_EQ(FakeMessageCount(), 1);
}

TEST_F(SortDialog, RemoveRefusesAsksAndRelists) {
  Preferences.createUserFiles = 1;
  Enter("in.dat", "out.dat", "4", "1", "2");
  RunSortAction(kDialog, 1, &kDialogSortAction);
  Enter("in.dat", "out.dat", "4", "3", "1");
  RunSortAction(kDialog, 1, &kDialogSortAction);
  FakeReset();
  ShowSavedEntries(kDialog);
  AddListItem(kDialog, IDC_SAVED_LIST, "spt_a");  // as for an input whose base is spt

  RemoveSelectedEntry(kDialog);
  FakeSelectListItem(kDialog, IDC_SAVED_LIST, 2);
  RemoveSelectedEntry(kDialog);
  FakeSelectListItem(kDialog, IDC_SAVED_LIST, 0);
  FakeQueueAnswer(kAnswerCancel);
  RemoveSelectedEntry(kDialog);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"in_a", "in_b", "spt_a"}));
  RemoveSelectedEntry(kDialog);
  const std::string confirm = std::string(kError) + "|Remove Selected Entry!\n\n   Are You Sure?";
  EXPECT_EQ(Shown(), (std::vector<std::string>{std::string(kError) + "|NO File Selected for Removal!",
                                               std::string(kError) + "|Cannot Remove Program Owned File!", confirm,
                                               "Status|File Removal Canceled!", confirm,
                                               "Selected Entry Removed|Identifiers have been Resequenced!"}));
  EXPECT_EQ(FakeMessageAt(2)->buttons, kButtonsOkCancel);
  EXPECT_EQ(FakeMessageAt(3)->buttons, kButtonsOk);
  // in_b took in_a's place; the list is the file's again.
  EXPECT_EQ(Listed(), std::vector<std::string>{"in_a"});
  EXPECT_EQ(FakeFocusControl(), IDC_SAVED_LIST);
  EXPECT_EQ(CurrentParameters.keys[0].position, 3);  // the current parameters stay

  // A removal that fails says so, and only that.
  FakeSelectListItem(kDialog, IDC_SAVED_LIST, 0);
  SetFileFaultForTesting(1, 1, kFileDelete);
  RemoveSelectedEntry(kDialog);
  SetFileFaultForTesting(0);
  const std::vector<std::string> shown = Shown();
  EXPECT_EQ(std::vector<std::string>(shown.begin() + 6, shown.end()),
            (std::vector<std::string>{confirm, std::string("* * Warning * *|") + kCannotOpen}));
  EXPECT_EQ(Listed(), std::vector<std::string>{"in_a"});
}

TEST_F(SortDialog, CaptureReadsBackWhatFillShows) {
  CurrentParameters.recordLength = kVariableRecords;
  CurrentParameters.statisticsFlag = 1;
  CopyText(CurrentParameters.inputName, kNameSize, "in.dat");
  CurrentParameters.keys[0] = KeyField{3, 4, 'c', 'd'};
  FillDialogFields(kDialog);
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_RECORD_SIZE), "variable");
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_KEY_TYPE(1)), "");
  WriteFieldText(kDialog, IDC_KEY_TYPE(0), "Cx");
  CaptureDialogFields(kDialog);
  EXPECT_EQ(CurrentParameters.recordLength, kVariableRecords);
  EXPECT_EQ(CurrentParameters.keys[0].position, 3);
  EXPECT_EQ(CurrentParameters.keys[0].type, 'C');  // as typed
  EXPECT_EQ(CurrentParameters.keys[1].type, '\0');
  EXPECT_EQ(CurrentParameters.statisticsFlag, 1);
  EXPECT_EQ(ParametersLoaded, 1);
  for (const char *size : {"Vari", "var"}) {
    WriteFieldText(kDialog, IDC_RECORD_SIZE, size);
    CaptureDialogFields(kDialog);
    EXPECT_EQ(CurrentParameters.recordLength, kVariableRecords) << size;
  }
  for (const char *size : {"va", "12x"}) {
    WriteFieldText(kDialog, IDC_RECORD_SIZE, size);
    CaptureDialogFields(kDialog);
    EXPECT_EQ(CurrentParameters.recordLength, FieldNumber(size)) << size;
  }
}
