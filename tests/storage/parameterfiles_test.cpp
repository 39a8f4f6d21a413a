#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/storage/storagetest.h"

using ParameterFilesTest = StorageTest;
using Files = std::vector<std::pair<std::string, std::string>>;  // names and bytes

static const char kTitles[kMaxKeys][kKeyTitleSize] = {"Key 1:", "Key 2:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
static StorageOutcome Outcome;  // what the operation run last reported

// A message as kind|text: its caption's kind (the dialogs give the caption text) and text.
static std::string Shown(int caption, const std::string &text) { return std::to_string(caption) + "|" + text; }
static const std::string kCannotOpen = Shown(kStorageCaptionWarning, "Internal Program Error:\n  Could NOT Open SPT File!\n");

// A parameter set of 80-byte records with one ascending 5-byte key at position.
static SortParameters Set(const std::string &input, int32_t position) {
  SortParameters set{};
  CopyText(set.inputName, kNameSize, input.c_str());
  CopyText(set.outputName, kNameSize, "out.txt");
  set.recordLength = 80;
  set.keyCount = 1;
  for (KeyField &key : set.keys) key = KeyField{0, 0, ' ', ' ', 0};
  set.keys[0] = KeyField{position, 5, 'a', 'a', 0};
  return set;
}

static std::string Entry(const std::string &input, int32_t position) { return RecordImage(Set(input, position), kTitles); }

// Saves the set as the Sort dialog does after a passed validation; returns the result.
static int Save(const std::string &input, int32_t position) {
  CurrentParameters = Set(input, position);
  EXPECT_EQ(BuildParameterRecord(), 0);
  return SaveLastParameters(&Outcome);
}

// The messages the last operation reported, as kind|text.
static std::vector<std::string> Reported() {
  std::vector<std::string> shown;
  for (int i = 0; i < Outcome.messageCount; i++) shown.push_back(Shown(Outcome.messages[i].caption, Outcome.messages[i].text));
  return shown;
}

static void Collect(void *listed, const char *identifier) { static_cast<std::vector<std::string> *>(listed)->push_back(identifier); }

static std::vector<std::string> List() {
  std::vector<std::string> listed;
  ListUserEntries(&Outcome, Collect, &listed);
  std::sort(listed.begin(), listed.end());
  return listed;
}

// The last parameters, byte for byte: the one golden image of a parameter file, which the
// builder must lay too. Stale bytes behind the input name's NUL do not reach the file.
TEST_F(ParameterFilesTest, WritesTheLastParametersByteForByte) {
  std::string keys = std::string("\3\0\0\0\5\0\0\0aa", 10), titles;
  for (int k = 1; k < kMaxKeys; k++) keys += std::string(8, '\0') + "  ";
  for (char k = '1'; k <= '6'; k++) titles += std::string("Key ") + k + ":" + std::string(24, '\0');
  const std::string golden = std::string("\1\0\0\0plm\0in.txt", 14) + std::string(249, '\0') + "out.txt" +
                             std::string(248, '\0') + std::string("P\0\0\0\1\0\0\0\0\0\0\0", 12) + keys + titles;
  CurrentParameters = Set("in.txt", 3);
  memset(CurrentParameters.inputName + 7, 'Z', kNameSize - 8);
  ASSERT_EQ(BuildParameterRecord(), 0);
  ASSERT_EQ(SaveLastParameters(&Outcome), 0);
  EXPECT_EQ(ReadFile("spt.spt"), golden);
  EXPECT_EQ(ParameterFileImage(1, Entry("in.txt", 3)), golden);
  EXPECT_EQ(Outcome.messageCount, 0);
  EXPECT_FALSE(FileExists("in.spt"));  // user files are off
}

// Saves into a user file of the longest base that names entries: from the 27th entry on
// a save warns and names no entry; from the 31st on the entries are kept but have no
// identifier, for none may pass '~'.
TEST_F(ParameterFilesTest, EntriesPastTwentySixWarnAndPastThirtyAreKeptUnlisted) {
  Preferences.createUserFiles = 1;
  const std::string base(125, 'b');
  for (int32_t i = 1; i <= 32; i++) {
    ASSERT_EQ(Save(base + ".txt", i), 0);
    EXPECT_EQ(Reported(), i <= 26 ? std::vector<std::string>{} : std::vector<std::string>{Shown(kStorageCaptionWarning, "Exceeded Max of 26 spt Entries!")});
    EXPECT_EQ(Outcome.identifierCount == 1 ? std::string(Outcome.identifiers[0]) : "", i <= 26 ? base + "_" + char('a' + i - 1) : "");
  }
  EXPECT_EQ(ReadFile(base + ".spt").substr(0, 4), std::string("\x20\0\0\0", 4));
  const std::vector<std::string> listed = List();
  EXPECT_EQ(listed.size(), 30u);
  EXPECT_EQ(listed.back(), base + "_~");
  ASSERT_EQ(LoadUserEntry((base + "_~").c_str(), &Outcome), 0);
  EXPECT_EQ(CurrentParameters.keys[0].position, 30);
}

// Every user file is listed, whatever the letter case of its ".spt"; "spt.spt" in no
// letter case, nor a base too long to name entries. A damaged file is reported and the
// listing goes on; storage shows nothing itself.
TEST_F(ParameterFilesTest, ListingTakesEveryUserFileAndGoesOnPastDamagedOnes) {
  const std::string e = Entry("x", 1);
  const Files files = {{"spt.spt", ParameterFileImage(1, e)}, {"SPT.SPT", ParameterFileImage(1, e)},
                       {"ORDERS.SPT", ParameterFileImage(2, e + e)}, {"mixed.Spt", ParameterFileImage(1, e)},
                       {std::string(125, 'b') + ".spt", ParameterFileImage(1, e)},
                       {std::string(126, 'b') + ".spt", ParameterFileImage(1, e)}, {"empty.spt", ""},
                       {"none.spt", ParameterFileImage(0, e)}, {"short.spt", ParameterFileImage(3, e + e.substr(1))},
                       {"bad.spt", ParameterFileImage(1, std::string(766, 'q'))}, {"negative.spt", ParameterFileImage(-1, e)}};
  for (const auto &file : files) WriteFile(file.first, file.second);
  EXPECT_EQ(List(), (std::vector<std::string>{"ORDERS_a", "ORDERS_b", std::string(125, 'b') + "_a", "mixed_a", "short_a"}));
  EXPECT_EQ(Reported(), std::vector<std::string>(2, Shown(kStorageCaptionError, "Corrupted SPT File!")));
  EXPECT_EQ(FakeMessageCount(), 0);
}

// With the program directory gone, nothing is claimed done.
TEST_F(ParameterFilesTest, NothingIsDoneOutsideTheProgramDirectory) {
  WriteFile("t.spt", ParameterFileImage(1, Entry("t.txt", 1)));
  CopyText(ProgramDirectory, kNameSize, "gone");
  Preferences.createUserFiles = 1;
  std::vector<std::string> listed;
  EXPECT_EQ(RemoveUserEntry("t_a", &Outcome, Collect, &listed), 1);
  CurrentParameters = Set("t.txt", 2);
  EXPECT_EQ(BuildParameterRecord(), 1);
  EXPECT_EQ(SaveLastParameters(&Outcome), 1);
  EXPECT_EQ(Reported(), std::vector<std::string>(2, kCannotOpen));
  EXPECT_EQ(ReadFile("t.spt"), ParameterFileImage(1, Entry("t.txt", 1)));
}

// Refusals whose messages the fuzz target does not know (it fails each file operation of
// a removal and a save in turn, and checks that nothing is lost and a failed save says
// so): the result 1, exactly these messages, every file as it was and none made but
// "spt.spt" (a save writes it all the same).
struct Refusal {
  const char *what;
  Files files;          // the folder before, and after
  std::string remove;   // the identifier removed, or empty: the set of the input saved
  std::string input;
  int failing, persistent, kind;  // the failing-th file operation of kind fails (0: none), with 1 every later one
  std::vector<std::string> reported;  // kind|text
};

TEST_F(ParameterFilesTest, RefusalsSayWhyAndLoseNothing) {
  const std::string e = Entry("x", 1);
  const Refusal rows[] = {
      {"removing from SPT.spt", {{"SPT.spt", ParameterFileImage(2, e + e)}}, "SPT_a", "", 0, 0, 0, {}},
      {"removing an entry past the count", {{"t.spt", ParameterFileImage(1, e + e)}}, "t_b", "", 0, 0, 0, {}},
      {"a removal that cannot write", {{"t.spt", ParameterFileImage(2, e + e)}}, "t_a", "", 1, 1, kFileWrite, {kCannotOpen}},
      {"a removal that cannot delete", {{"t.spt", ParameterFileImage(1, e)}}, "t_a", "", 1, 1, kFileDelete, {kCannotOpen}},
      {"a save that cannot write", {{"t.spt", ParameterFileImage(1, e)}, {"spt.spt", ParameterFileImage(1, e)}}, "", "t.txt", 1,
       1, kFileWrite, {kCannotOpen, kCannotOpen}},
      {"a user file whose second entry cannot be read", {{"t.spt", ParameterFileImage(2, e + e)}}, "", "t.txt", 3, 0, kFileRead, {kCannotOpen}},
      {"a count the file cannot hold", {{"t.spt", ParameterFileImage(5, e)}}, "", "t.txt", 0, 0, 0,
       {Shown(kStorageCaptionInternal, "File Position Failure!")}},
      {"a base of 126 characters", {}, "", std::string(126, 'b') + ".txt", 0, 0, 0,
       {Shown(kStorageCaptionWarning, "Input Base Name Exceeds 125 Characters:\n  spt Entry NOT Saved!\n")}},
  };
  Preferences.createUserFiles = 1;
  for (const Refusal &row : rows) {
    SCOPED_TRACE(row.what);
    for (const std::string &name : FolderNames()) RemoveFile(name);
    for (const auto &file : row.files) WriteFile(file.first, file.second);
    std::vector<std::string> listed;
    CurrentParameters = Set(row.input, 9);
    ASSERT_EQ(BuildParameterRecord(), 0);
    SetFileFaultForTesting(row.failing, row.persistent, row.kind);
    EXPECT_EQ(row.remove.empty() ? SaveLastParameters(&Outcome) : RemoveUserEntry(row.remove.c_str(), &Outcome, Collect, &listed), 1);
    SetFileFaultForTesting(0);
    EXPECT_EQ(Reported(), row.reported);
    std::set<std::string> kept = {"spt.spt"};
    for (const auto &file : row.files) EXPECT_EQ(ReadFile(file.first), file.second) << file.first;
    for (const auto &file : row.files) kept.insert(file.first);
    for (const std::string &name : FolderNames()) EXPECT_EQ(kept.count(name), 1u) << name;
  }
}
