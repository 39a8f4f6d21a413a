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
static const char kCannotOpen[] = "* * Warning * *|Internal Program Error:\n  Could NOT Open SPT File!\n";
static const char kCorruptEntry[] = "  * * ERROR * *|(b) Corrupted SPT File!";
static StorageOutcome Outcome;  // what the operation run last reported

// A parameter set of 80-byte records with one ascending 5-byte key at position.
static SortParameters Set(const std::string &input, int32_t position) {
  SortParameters set{};
  CopyText(set.inputName, kNameSize, input.c_str());
  CopyText(set.outputName, kNameSize, "out.txt");
  set.recordLength = 80;
  set.keyCount = 1;
  for (KeyField &key : set.keys) key = KeyField{0, 0, ' ', ' '};
  set.keys[0] = KeyField{position, 5, 'a', 'a'};
  return set;
}

static std::string Entry(const std::string &input, int32_t position) { return RecordImage(Set(input, position), kTitles); }

// Saves the set as the Sort dialog does after a passed validation; returns the result.
static int Save(const std::string &input, int32_t position) {
  CurrentParameters = Set(input, position);
  EXPECT_EQ(BuildParameterRecord(), 0);
  return SaveLastParameters(&Outcome);
}

// The messages the last operation reported, as caption|text.
static std::vector<std::string> Reported() {
  std::vector<std::string> shown;
  for (int i = 0; i < Outcome.messageCount; i++) shown.push_back(std::string(Outcome.messages[i].caption) + "|" + Outcome.messages[i].text);
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

// With "last path" on, the restored input's folder becomes the browse folder: one that
// fills the whole name is taken whole, and as much of it as fits into the preferences'
// shorter slot. With it off, the browse folder and the settings stay as they were.
TEST_F(ParameterFilesTest, LastPathTakesTheRestoredFolderWhole) {
  for (size_t length : {size_t{254}, size_t{255}}) {
    const std::string folder = std::string(length - 1, 'f') + kPathSeparator;
    WriteFile("spt.spt", ParameterFileImage(1, Entry(folder, 7)));
    for (int lastPath : {0, 1}) {
      LoadSettings();
      ResetParameterState();
      CopyText(BrowseDirectory, kNameSize, "kept");
      Preferences.useLastPath = lastPath;
      ASSERT_EQ(LoadLastParameters(), 0);
      EXPECT_EQ(std::string(BrowseDirectory), lastPath ? folder : "kept");
      EXPECT_EQ(std::string(Preferences.defaultBrowseDirectory), lastPath ? folder.substr(0, kPrefBrowseSlot - 1) : "C:\\");
      EXPECT_EQ(SettingsChanged, lastPath);
    }
  }
}

// A user file of the longest base through saves, removals, a save again after a removal,
// and an append over the bytes a removal left behind the count.
TEST_F(ParameterFilesTest, UserFileThroughSavesAndRemovals) {
  Preferences.createUserFiles = 1;
  const std::string base(125, 'b'), input = base + ".txt", file = base + ".spt";
  const std::string a = Entry(input, 1), b = Entry(input, 2), c = Entry(input, 3);
  for (int32_t position : {1, 2, 3}) {
    ASSERT_EQ(Save(input, position), 0);
    ASSERT_EQ(Outcome.identifierCount, 1);
    EXPECT_EQ(Outcome.identifiers[0], base + "_" + static_cast<char>('a' + position - 1));
  }
  EXPECT_EQ(ReadFile(file), ParameterFileImage(3, a + b + c));
  EXPECT_EQ(List(), (std::vector<std::string>{base + "_a", base + "_b", base + "_c"}));

  // c takes b's place, then goes itself: its bytes stay behind the count.
  std::vector<std::string> listed;
  EXPECT_EQ(RemoveUserEntry((base + "_b").c_str(), &Outcome, Collect, &listed), 0);
  EXPECT_EQ(listed, (std::vector<std::string>{base + "_a", base + "_b"}));
  EXPECT_EQ(RemoveUserEntry((base + "_b").c_str(), &Outcome, Collect, &listed), 0);
  EXPECT_EQ(ReadFile(file), ParameterFileImage(1, a + c + c));
  ASSERT_EQ(Save(input, 3), 0);  // not found behind the count: appended anew
  EXPECT_EQ(Outcome.newEntry, 1);
  EXPECT_EQ(Outcome.identifiers[0], base + "_b");
  EXPECT_EQ(ReadFile(file), ParameterFileImage(2, a + c + c));

  // An append goes over what lies behind the count; the same parameters with a title
  // changed are rewritten in place, silently.
  ASSERT_EQ(Save(input, 4), 0);
  CopyText(KeyTitles[0], kKeyTitleSize, "Customer:");
  ASSERT_EQ(Save(input, 1), 0);
  EXPECT_EQ(Outcome.newEntry, 0);
  EXPECT_EQ(Outcome.identifierCount + Outcome.messageCount, 0);
  const char titles[kMaxKeys][kKeyTitleSize] = {"Customer:", "Key 2:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
  EXPECT_EQ(ReadFile(file), ParameterFileImage(3, RecordImage(Set(input, 1), titles) + c + Entry(input, 4)));
  ASSERT_EQ(LoadUserEntry((base + "_b").c_str(), &Outcome), 0);
  EXPECT_EQ(CurrentParameters.keys[0].position, 3);
}

// From the 27th entry on a save warns and names no entry; from the 31st on the entries
// are kept but have no identifier: none may pass '~'.
TEST_F(ParameterFilesTest, EntriesPastTwentySixWarnAndPastThirtyAreKeptUnlisted) {
  Preferences.createUserFiles = 1;
  for (int32_t i = 1; i <= 32; i++) {
    ASSERT_EQ(Save("orders", i), 0);
    EXPECT_EQ(Reported(), i <= 26 ? std::vector<std::string>{} : std::vector<std::string>{"* * Warning * *|Exceeded Max of 26 spt Entries!"});
    EXPECT_EQ(Outcome.identifierCount, i <= 26 ? 1 : 0);
  }
  EXPECT_EQ(ReadFile("orders.spt").substr(0, 4), std::string("\x20\0\0\0", 4));
  const std::vector<std::string> listed = List();
  EXPECT_EQ(listed.size(), 30u);
  EXPECT_EQ(listed.back(), "orders_~");
  ASSERT_EQ(LoadUserEntry("orders_~", &Outcome), 0);
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
  EXPECT_EQ(Reported(), std::vector<std::string>(2, "  * * ERROR * *|Corrupted SPT File!"));
  EXPECT_EQ(FakeMessageCount(), 0);
}

// Each refusal: the result 1, exactly these messages, the current parameters and every
// file as they were, and no file made but "spt.spt" (which a save writes all the same).
struct Refusal {
  const char *what;
  Files files;            // the folder before, and after
  char operation;         // 'l' load the entry, 'r' remove it, 's' save a set of that input
  std::string argument;
  uint64_t failing;       // the file operation of kind that fails (0: none), and with
  int persistent, kind;   // persistent 1 every one after it
  std::vector<std::string> reported;  // caption|text
};

TEST_F(ParameterFilesTest, RefusalsSayWhyAndLoseNothing) {
  const std::string e = Entry("x", 1);
  const Refusal rows[] = {
      {"no such user file", {}, 'l', "gone_a", 0, 0, -1, {"Could Not Open File!|gone.spt"}},
      {"an entry cut short", {{"t.spt", ParameterFileImage(2, e + e.substr(1))}}, 'l', "t_b", 0, 0, -1, {kCorruptEntry}},
      {"an entry behind the count", {{"t.spt", ParameterFileImage(1, e + e)}}, 'l', "t_b", 0, 0, -1, {kCorruptEntry}},
      {"an entry without the magic", {{"t.spt", ParameterFileImage(1, std::string(4, '\0') + e.substr(4))}}, 'l', "t_a", 0, 0, -1, {kCorruptEntry}},
      {"a letter past '~'", {{"t.spt", ParameterFileImage(1, e)}}, 'l', "t_\x7F", 0, 0, -1, {}},
      {"two letters", {{"t.spt", ParameterFileImage(1, e)}}, 'l', "t_ab", 0, 0, -1, {}},
      {"removing from no file", {}, 'r', "gone_a", 0, 0, -1, {}},
      {"removing behind the count", {{"t.spt", ParameterFileImage(1, e + e)}}, 'r', "t_b", 0, 0, -1, {}},
      {"removing from SPT.SPT", {{"SPT.spt", ParameterFileImage(2, e + e)}}, 'r', "SPT_a", 0, 0, -1, {}},
      {"a removal that cannot write", {{"t.spt", ParameterFileImage(2, e + e)}}, 'r', "t_a", 1, 1, kFileWrite, {kCannotOpen}},
      {"a removal that cannot delete", {{"t.spt", ParameterFileImage(1, e)}}, 'r', "t_a", 1, 1, kFileDelete, {kCannotOpen}},
      {"a save that cannot write", {{"t.spt", ParameterFileImage(1, e)}, {"spt.spt", ParameterFileImage(1, e)}}, 's', "t.txt", 1, 1,
       kFileWrite, {kCannotOpen, kCannotOpen}},
      {"a user file there that does not open", {{"t.spt", ParameterFileImage(1, e)}}, 's', "t.txt", 1, 0, kFileOpen, {kCannotOpen}},
      {"a count the file cannot hold", {{"t.spt", ParameterFileImage(5, e)}}, 's', "t.txt", 0, 0, -1,
       {"Internal Program Error|File Position Failure!"}},
      {"a base of 126 characters", {}, 's', std::string(126, 'b') + ".txt", 0, 0, -1,
       {"* * Warning * *|Input Base Name Exceeds 125 Characters:\n  spt Entry NOT Saved!\n"}},
  };
  for (const Refusal &row : rows) {
    SCOPED_TRACE(row.what);
    for (const std::string &name : FolderNames()) RemoveFile(name);
    for (const auto &file : row.files) WriteFile(file.first, file.second);
    Preferences.createUserFiles = 1;
    CurrentParameters = Set(row.operation == 's' ? row.argument : "keep.txt", 9);
    ASSERT_EQ(BuildParameterRecord(), 0);
    const SortParameters before = CurrentParameters;
    std::vector<std::string> listed;
    SetFileFaultForTesting(row.failing, row.persistent, row.kind);
    const int result = row.operation == 'l'   ? LoadUserEntry(row.argument.c_str(), &Outcome)
                       : row.operation == 'r' ? RemoveUserEntry(row.argument.c_str(), &Outcome, Collect, &listed)
                                              : SaveLastParameters(&Outcome);
    SetFileFaultForTesting(0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Reported(), row.reported);
    EXPECT_EQ(memcmp(&before, &CurrentParameters, sizeof before), 0);
    std::set<std::string> kept = {"spt.spt"};
    for (const auto &file : row.files) EXPECT_EQ(ReadFile(file.first), file.second) << file.first;
    for (const auto &file : row.files) kept.insert(file.first);
    for (const std::string &name : FolderNames()) EXPECT_EQ(kept.count(name), 1u) << name;
  }
}
