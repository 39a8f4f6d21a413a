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

  // A check box takes effect at once, without Done.
  WriteCheckBox(kDialog, IDC_PREF_GO_TO_SORT, 1);
  EXPECT_EQ(PreferencesDialogCommand(kDialog, kMain, IDC_PREF_GO_TO_SORT), 1);
  EXPECT_EQ(Preferences.goToSortDialog, 1);
  EXPECT_EQ(PreferencesDialogCommand(kDialog, kMain, IDC_PREF_OFNI), 0);
}

TEST_F(PreferencesDialog, DelimiterDecidesWhetherDoneCloses) {
  const std::pair<const char *, int> cases[] = {{"LF", kDelimiterLf}, {"  lf only ", kDelimiterLf},
                                                {"Both", kDelimiterBoth}, {"cr", kDelimiterCr}};
  for (const auto &c : cases) {
    EXPECT_EQ(Done("", "", c.first), 0) << c.first;
    EXPECT_EQ(Preferences.delimiter, c.second) << c.first;
  }
  for (const char *refused : {"b", "", "   ", "xlf"}) {
    EXPECT_EQ(Done("", "", refused), 1) << refused;
    EXPECT_EQ(Shown(), std::vector<std::string>{kBadDelimiter});
    EXPECT_EQ(Events(kMain), std::vector<std::string>{});
  }
}

TEST_F(PreferencesDialog, IdentifierErrorsAreReportedButDoNotKeepTheDialogOpen) {
  const struct {
    const char *typed;
    const char *kept;
    std::vector<std::string> shown;
  } cases[] = {
      {" abc ", "abc", {}},
      {"a-b_", "a-b_", {}},
      {"x~1", "x~1", {}},
      {"ab$", "x~1", {"Invalid Characters in O F N I!"}},
      {"abcde", "x~1", {"O F N I > 4 Characters!"}},
      {"ab$cde", "x~1", {"O F N I > 4 Characters!", "Invalid Characters in O F N I!"}},
      {"", "x~1", {}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Done(c.typed, "", "both"), 0) << c.typed;
    EXPECT_STREQ(Preferences.ofni, c.kept) << c.typed;
    EXPECT_STREQ(WorkingOfni, c.kept) << c.typed;
    EXPECT_EQ(Shown(), c.shown) << c.typed;
  }
}

TEST_F(PreferencesDialog, BrowseFolderIsTakenAsTypedUnlessTheLastPathDecides) {
  EXPECT_EQ(Done("", "D:", "both"), 0);
  EXPECT_STREQ(BrowseDirectory, "C:\\");
  EXPECT_EQ(Done("", "D:\\", "both"), 0);
  EXPECT_STREQ(BrowseDirectory, "D:\\");
  EXPECT_STREQ(Preferences.defaultBrowseDirectory, "D:\\");
  EXPECT_EQ(Done("", std::string(300, 'f').c_str(), "both"), 0);  // its first 159 characters
  EXPECT_EQ(std::string(BrowseDirectory), std::string(159, 'f'));
  Preferences.useLastPath = 1;
  EXPECT_EQ(Done("", "E:\\work\\", "both"), 0);
  EXPECT_EQ(std::string(BrowseDirectory), std::string(159, 'f'));

  // A refused delimiter keeps the dialog open, yet what the first steps took stays.
  Preferences.useLastPath = 0;
  const std::string written = ReadFileBytes("Pelmar.ini");
  EXPECT_EQ(Done("Mrg", "E:\\work\\", "x"), 1);
  EXPECT_STREQ(BrowseDirectory, "E:\\work\\");
  EXPECT_STREQ(WorkingOfni, "Mrg");
  EXPECT_EQ(ReadFileBytes("Pelmar.ini"), written);
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
