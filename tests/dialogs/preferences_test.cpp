#include "dialogs/preferences.h"

#include <string>
#include <vector>

#include "engine/scanner.h"
#include "resources/resource.h"
#include "tests/storage/storagetest.h"

using PreferencesDialog = StorageTest;

static int DialogToken, MainToken;
static WindowHandle const kDialog = &DialogToken;
static WindowHandle const kMain = &MainToken;
static const char kError[] = "  * * ERROR * *";
static const char kBadDelimiter[] = "Invalid Entry in\nVariable Length Record Delimeter Field!";

static int FirstMessage, FirstEvent;  // where the last Done began in the fake's logs

// The message boxes the last Done showed, as "text" each; every one owned by the dialog,
// with OK only.
static std::vector<std::string> Shown() {
  std::vector<std::string> texts;
  for (int i = FirstMessage; i < FakeMessageCount(); i++) {
    const FakeMessage *message = FakeMessageAt(i);
    EXPECT_EQ(message->owner, kDialog);
    EXPECT_STREQ(message->caption, kError);
    EXPECT_EQ(message->buttons, kButtonsOk);
    texts.push_back(message->text);
  }
  return texts;
}

static std::vector<std::string> Events(WindowHandle window) {
  std::vector<std::string> events;
  for (int i = FirstEvent; i < FakeEventCount(); i++) {
    if (FakeEventAt(i)->window == window) events.push_back(FakeEventAt(i)->text);
  }
  return events;
}

// Opens the dialog, types the three texts and presses Done. Returns the check's result.
static int Done(const char *ofni, const char *folder, const char *delimiter) {
  FirstMessage = FakeMessageCount();
  FirstEvent = FakeEventCount();
  PreferencesDialogOpen(kDialog, kMain);
  WriteFieldText(kDialog, IDC_PREF_OFNI, ofni);
  WriteFieldText(kDialog, IDC_PREF_BROWSE_DIR, folder);
  WriteFieldText(kDialog, IDC_PREF_DELIMITER, delimiter);
  EXPECT_EQ(PreferencesDialogCommand(kDialog, kMain, IDC_PREF_DONE), 1);
  return Events(kDialog).back() == "end 0" ? 0 : 1;
}

TEST_F(PreferencesDialog, OpensBesideTheMainWindowWithTheRecordShown) {
  Preferences.createUserFiles = Preferences.enableKeyTitling = 1;
  Preferences.stayInSortDialog = 2;  // only exactly 1 is on
  Preferences.delimiter = kDelimiterLf;
  FakeSetWindowRect(kMain, ScreenRect{100, 50, 664, 420});
  PreferencesDialogOpen(kDialog, kMain);
  EXPECT_EQ(Events(kDialog), (std::vector<std::string>{"move 104,72", "focus"}));
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_PREF_BROWSE_DIR), "C:\\");
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_PREF_OFNI), "Srt");
  EXPECT_STREQ(FakeFieldText(kDialog, IDC_PREF_DELIMITER), "lf only");
  EXPECT_EQ(ReadCheckBox(kDialog, IDC_PREF_USER_FILES) + ReadCheckBox(kDialog, IDC_PREF_KEY_TITLING), 2);
  EXPECT_EQ(ReadCheckBox(kDialog, IDC_PREF_STAY) + ReadCheckBox(kDialog, IDC_PREF_GO_TO_SORT), 0);
  EXPECT_STREQ(PreferencesLabelText(IDC_PREF_STAY_LABEL), " Stay in Sort Dialog After Sort:");
  EXPECT_EQ(PreferencesLabelText(IDC_PREF_OFNI), nullptr);
  // Each delimiter as it is named; one the scanner does not know as the one it uses.
  for (const auto &shown : {std::make_pair(kDelimiterCr, "cr only"), std::make_pair(kDelimiterBoth, "both cr/lf"),
                            std::make_pair(7, "both cr/lf")}) {
    Preferences.delimiter = shown.first;
    PreferencesDialogOpen(kDialog, kMain);
    EXPECT_STREQ(FakeFieldText(kDialog, IDC_PREF_DELIMITER), shown.second);
  }

  // A check box takes effect at once, without Done.
  WriteCheckBox(kDialog, IDC_PREF_GO_TO_SORT, 1);
  EXPECT_EQ(PreferencesDialogCommand(kDialog, kMain, IDC_PREF_GO_TO_SORT), 1);
  EXPECT_EQ(Preferences.goToSortDialog, 1);
  EXPECT_EQ(PreferencesDialogCommand(kDialog, kMain, IDC_PREF_OFNI), 0);
}

// Done, row after row, each starting from what the rows before kept: {last path, typed
// identifier, folder and delimiter -> closes, kept identifier, folder and delimiter, boxes}.
// A refused delimiter keeps the dialog open (nothing written, no Sort dialog), yet what the
// first steps took stays; identifier errors are shown but close it; the folder is taken
// as typed (its first 159 characters, more than two) unless the last path decides.
TEST_F(PreferencesDialog, DoneTakesWhatItAccepts) {
  struct Row {
    int lastPath;
    std::string ofni, folder, delimiter;
    int closes;
    const char *keptOfni;
    std::string keptFolder;
    int keptDelimiter;
    std::vector<std::string> shown;
  };
  const std::string f159(159, 'f'), f300(300, 'f'), bad = kBadDelimiter;
  const Row rows[] = {
      {0, "", "", "LF", 1, "Srt", "C:\\", kDelimiterLf, {}},
      {0, "", "", "cr", 1, "Srt", "C:\\", kDelimiterCr, {}},
      {0, "", "", "  lf only ", 1, "Srt", "C:\\", kDelimiterLf, {}},
      {0, "", "", "Both", 1, "Srt", "C:\\", kDelimiterBoth, {}},
      {0, "", "", "b", 0, "Srt", "C:\\", kDelimiterBoth, {bad}},
      {0, "", "", "", 0, "Srt", "C:\\", kDelimiterBoth, {bad}},
      {0, "", "", "   ", 0, "Srt", "C:\\", kDelimiterBoth, {bad}},
      {0, "", "", "xlf", 0, "Srt", "C:\\", kDelimiterBoth, {bad}},
      {0, " abc ", "", "both", 1, "abc", "C:\\", kDelimiterBoth, {}},
      {0, "a-b_", "", "both", 1, "a-b_", "C:\\", kDelimiterBoth, {}},
      {0, "x~1", "", "both", 1, "x~1", "C:\\", kDelimiterBoth, {}},
      {0, "ab$", "", "both", 1, "x~1", "C:\\", kDelimiterBoth, {"Invalid Characters in O F N I!"}},
      {0, "abcde", "", "both", 1, "x~1", "C:\\", kDelimiterBoth, {"O F N I > 4 Characters!"}},
      {0, "ab$cde", "", "both", 1, "x~1", "C:\\", kDelimiterBoth,
       {"O F N I > 4 Characters!", "Invalid Characters in O F N I!"}},
      {0, "", "D:", "both", 1, "x~1", "C:\\", kDelimiterBoth, {}},
      {0, "", "D:\\", "both", 1, "x~1", "D:\\", kDelimiterBoth, {}},
      {0, "", f300, "both", 1, "x~1", f159, kDelimiterBoth, {}},
      {1, "", "E:\\work\\", "both", 1, "x~1", f159, kDelimiterBoth, {}},
      {0, "Mrg", "E:\\work\\", "x", 0, "Mrg", "E:\\work\\", kDelimiterBoth, {bad}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.ofni + "|" + row.folder + "|" + row.delimiter);
    Preferences.useLastPath = row.lastPath;
    const std::string written = ReadFileBytes("Pelmar.ini");
    EXPECT_EQ(Done(row.ofni.c_str(), row.folder.c_str(), row.delimiter.c_str()), row.closes ? 0 : 1);
    EXPECT_STREQ(Preferences.ofni, row.keptOfni);
    EXPECT_STREQ(WorkingOfni, row.keptOfni);
    EXPECT_EQ(std::string(BrowseDirectory), row.keptFolder);
    EXPECT_EQ(std::string(Preferences.defaultBrowseDirectory), row.lastPath ? row.keptFolder : row.keptFolder.substr(0, 253));
    EXPECT_EQ(Preferences.delimiter, row.keptDelimiter);
    EXPECT_EQ(Shown(), row.shown);
    EXPECT_EQ(Events(kMain), row.closes ? std::vector<std::string>{"post 101"} : std::vector<std::string>{});
    if (!row.closes) {
      EXPECT_EQ(ReadFileBytes("Pelmar.ini"), written);
    }
  }
}

TEST_F(PreferencesDialog, DoneWritesTheSettingsEndsTheDialogAndOpensTheSortDialog) {
  SettingsChanged = 1;
  FakeSetWindowRect(kMain, ScreenRect{10, 20, 574, 390});
  EXPECT_EQ(Done("Ab", "", "cr only"), 0);
  EXPECT_EQ(SettingsChanged, 0);
  EXPECT_EQ(Events(kDialog), (std::vector<std::string>{"move 14,42", "focus", "end 0"}));
  EXPECT_EQ(Events(kMain), std::vector<std::string>{"post 101"});
  const std::string bytes = ReadFileBytes("Pelmar.ini");
  ASSERT_EQ(bytes.size(), 302u);
  EXPECT_EQ(bytes.substr(258, 4), std::string("Ab\0\0", 4));
  EXPECT_EQ(bytes.substr(274, 16), std::string("\x14\0\0\0\x86\x01\0\0\x0A\0\0\0\x3E\x02\0\0", 16));
  EXPECT_EQ(bytes[294], 1);
}
