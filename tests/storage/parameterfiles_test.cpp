#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/storage/storagetest.h"

static StorageOutcome Outcome;  // what the operation run last reported
static std::vector<std::string> Listing;  // what the last listing found
static bool LastWasListing;               // the last operation listed (else it saved)
static int MessagesReported;    // messages reported since the test began

class ParameterFilesTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    MessagesReported = 0;
  }
};
static const char *const kDefaultTitles[kMaxKeys] = {"Key 1:", "Key 2:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
static const char kCannotOpen[] = "Internal Program Error:\n  Could NOT Open SPT File!\n";

// A folder path in the platform's spelling: separator, name, separator.
static std::string Folder(const char *name) { return kPathSeparator + std::string(name) + kPathSeparator; }

// One ParameterRecord laid out by hand from the layout table: one ascending 5-byte key
// at keyPosition, the five other keys unused (zero, zero, blank, blank).
static std::string RecordImage(const std::string &input, int32_t recordLength, int32_t keyPosition,
                               const char *const titles[kMaxKeys] = kDefaultTitles) {
  std::string r(766, '\0');
  r.replace(0, 4, std::string("plm\0", 4));
  r.replace(4, input.size(), input);
  r.replace(259, 7, "out.txt");
  PutLe32(r, 514, recordLength);
  PutLe32(r, 518, 1);
  PutLe32(r, 526, keyPosition);
  PutLe32(r, 530, 5);
  r[534] = 'a';
  r[535] = 'a';
  for (int k = 1; k < kMaxKeys; k++) r[526 + 10 * k + 8] = r[526 + 10 * k + 9] = ' ';
  for (int k = 0; k < kMaxKeys; k++) r.replace(586 + 30 * k, strlen(titles[k]), titles[k]);
  return r;
}

static std::string FileImage(int32_t count, const std::string &entries) {
  std::string file(4, '\0');
  PutLe32(file, 0, count);
  return file + entries;
}

// Makes a parameter set current, as validation leaves it, and saves it as the Sort
// dialog does after a passed validation.
static void SaveSet(const std::string &input, int32_t recordLength, int32_t keyPosition) {
  ClearParameters();
  CopyText(CurrentParameters.inputName, kNameSize, input.c_str());
  CopyText(CurrentParameters.outputName, kNameSize, "out.txt");
  CurrentParameters.recordLength = recordLength;
  CurrentParameters.keyCount = 1;
  CurrentParameters.statisticsFlag = 0;
  CurrentParameters.keys[0] = KeyField{keyPosition, 5, 'a', 'a'};
  ASSERT_EQ(BuildParameterRecord(), 0);
  LastWasListing = false;
  SaveLastParameters(&Outcome);
  MessagesReported += Outcome.messageCount;
}


static void Collect(void *, const char *identifier) { Listing.push_back(identifier); }

// The identifiers the last operation reported, in the saved list's alphabetical order.
static std::vector<std::string> Reported() {
  std::vector<std::string> items = Listing;
  if (!LastWasListing) items.assign(Outcome.identifiers, Outcome.identifiers + Outcome.identifierCount);
  std::sort(items.begin(), items.end());
  return items;
}

static void Relist() {
  Listing.clear();
  LastWasListing = true;
  ListUserEntries(&Outcome, Collect, nullptr);
  MessagesReported += Outcome.messageCount;
}

static int Load(const std::string &identifier) {
  int result = LoadUserEntry(identifier.c_str(), &Outcome);
  MessagesReported += Outcome.messageCount;
  return result;
}

static int Remove(const std::string &identifier) {
  Listing.clear();
  LastWasListing = true;
  int result = RemoveUserEntry(identifier.c_str(), &Outcome, Collect, nullptr);
  MessagesReported += Outcome.messageCount;
  return result;
}

// Expects message index of the last operation to have exactly this text and caption.
static void ExpectReported(int index, const char *text, const char *caption) {
  ASSERT_LT(index, Outcome.messageCount) << "no message " << index;
  EXPECT_STREQ(Outcome.messages[index].text, text);
  EXPECT_STREQ(Outcome.messages[index].caption, caption);
}

TEST_F(ParameterFilesTest, LastParametersFileIsWrittenByteForByte) {
  // Stale bytes behind the name's NUL must not reach the file.
  memset(CurrentParameters.inputName, 'Z', kNameSize);
  SaveSet(Folder("data") + "orders.txt", 80, 3);
  EXPECT_EQ(ReadFile("spt.spt"), FileImage(1, RecordImage(Folder("data") + "orders.txt", 80, 3)));
  EXPECT_EQ(Outcome.messageCount, 0);
  EXPECT_FALSE(FileExists("orders.spt"));  // user files are off
}

TEST_F(ParameterFilesTest, LastParametersAreRestoredAtStartUp) {
  const char *titles[kMaxKeys] = {"Region:", "Year:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
  std::string input = Folder("data") + "orders.txt";
  WriteFile("spt.spt", FileImage(1, RecordImage(input, -1, 7, titles)));
  Preferences.useLastPath = 1;
  ASSERT_EQ(LoadLastParameters(), 0);
  EXPECT_EQ(std::string(CurrentParameters.inputName), input);
  EXPECT_STREQ(CurrentParameters.outputName, "out.txt");
  EXPECT_EQ(CurrentParameters.recordLength, -1);
  EXPECT_EQ(CurrentParameters.keys[0].position, 7);
  EXPECT_EQ(CurrentParameters.keys[1].type, ' ');
  EXPECT_STREQ(KeyTitles[0], "Region:");
  EXPECT_STREQ(KeyTitles[1], "Year:");
  EXPECT_EQ(ParametersLoaded, 1);
  EXPECT_EQ(std::string(BrowseDirectory), Folder("data"));
  EXPECT_EQ(std::string(Preferences.defaultBrowseDirectory), Folder("data"));
  EXPECT_EQ(SettingsChanged, 1);

  // With user files on the record is not read; a record without the magic is ignored.
  ResetParameterState();
  Preferences.createUserFiles = 1;
  EXPECT_EQ(LoadLastParameters(), 1);
  Preferences.createUserFiles = 0;
  WriteFile("spt.spt", FileImage(1, "xlm" + RecordImage(input, 80, 7).substr(3)));
  EXPECT_EQ(LoadLastParameters(), 1);
  EXPECT_STREQ(CurrentParameters.inputName, "");
  EXPECT_EQ(ParametersLoaded, 0);
  EXPECT_EQ(FakeMessageCount(), 0);

  // With "last path" off the browse folder stays; on, a folder filling the whole name is
  // taken whole, and as much as fits into the preferences' shorter slot.
  for (size_t length : {size_t{254}, size_t{255}}) {
    const std::string folder = std::string(length - 1, 'f') + kPathSeparator;
    WriteFile("spt.spt", FileImage(1, RecordImage(folder.substr(0, 255), 80, 7)));
    ResetParameterState();
    CopyText(BrowseDirectory, kNameSize, "kept");
    Preferences.useLastPath = 0;
    ASSERT_EQ(LoadLastParameters(), 0);
    EXPECT_STREQ(BrowseDirectory, "kept");
    Preferences.useLastPath = 1;
    ASSERT_EQ(LoadLastParameters(), 0);
    EXPECT_EQ(std::string(BrowseDirectory), folder);
    EXPECT_EQ(std::string(Preferences.defaultBrowseDirectory), folder.substr(0, kPrefBrowseSlot - 1));
  }
}

TEST_F(ParameterFilesTest, UserFileBeforeAndAfterRemovingEntryB) {
  Preferences.createUserFiles = 1;
  std::string input = Folder("data") + "orders.txt";
  SaveSet(input, 80, 1);
  EXPECT_EQ(Outcome.newEntry, 1);
  EXPECT_EQ(Reported(), std::vector<std::string>{"orders_a"});
  SaveSet(input, 80, 2);
  EXPECT_EQ(Reported(), std::vector<std::string>{"orders_b"});
  SaveSet(input, 80, 3);
  EXPECT_EQ(Reported(), std::vector<std::string>{"orders_c"});
  std::string a = RecordImage(input, 80, 1), b = RecordImage(input, 80, 2), c = RecordImage(input, 80, 3);
  EXPECT_EQ(ReadFile("orders.spt"), FileImage(3, a + b + c));
  EXPECT_EQ(ReadFile("spt.spt"), FileImage(1, c));

  EXPECT_EQ(Remove("orders_b"), 0);
  EXPECT_EQ(ReadFile("orders.spt"), FileImage(2, a + c + c));  // the file keeps its length
  EXPECT_EQ(Reported(), (std::vector<std::string>{"orders_a", "orders_b"}));
  ASSERT_EQ(Load("orders_b"), 0);
  EXPECT_EQ(CurrentParameters.keys[0].position, 3);
  EXPECT_EQ(MessagesReported, 0);
  EXPECT_EQ(FakeMessageCount(), 0);

  // The last entry removed: saving its parameters again appends them anew, though its
  // bytes still lie behind the count.
  EXPECT_EQ(Remove("orders_b"), 0);
  EXPECT_EQ(ReadFile("orders.spt"), FileImage(1, a + c + c));
  SaveSet(input, 80, 3);
  EXPECT_EQ(ReadFile("orders.spt"), FileImage(2, a + c + c));
  EXPECT_EQ(Reported(), std::vector<std::string>{"orders_b"});

  // A later append overwrites the meaningless bytes behind the last counted entry; the same
  // parameters saved again (a title changed) are rewritten in place and leave the list alone.
  SaveSet(input, 80, 4);
  EXPECT_EQ(ReadFile("orders.spt"), FileImage(3, a + c + RecordImage(input, 80, 4)));
  CopyText(KeyTitles[0], kKeyTitleSize, "Customer:");
  SaveSet(input, 80, 1);
  const char *titles[kMaxKeys] = {"Customer:", "Key 2:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
  EXPECT_EQ(ReadFile("orders.spt"), FileImage(3, RecordImage(input, 80, 1, titles) + c + RecordImage(input, 80, 4)));
  EXPECT_EQ(Outcome.newEntry, 0);
  EXPECT_EQ(Outcome.identifierCount, 0);
  EXPECT_EQ(MessagesReported, 0);
}

TEST_F(ParameterFilesTest, EntriesPastTwentySixWarnAndAreListedUpToTilde) {
  Preferences.createUserFiles = 1;
  for (int i = 1; i <= 26; i++) SaveSet("orders", 80, i);
  EXPECT_EQ(MessagesReported, 0);
  SaveSet("orders", 80, 27);
  ASSERT_EQ(Outcome.messageCount, 1);
  ExpectReported(0, "Exceeded Max of 26 spt Entries!", "* * Warning * *");
  EXPECT_EQ(Outcome.newEntry, 1);
  EXPECT_EQ(Outcome.identifierCount, 0);
  EXPECT_EQ(ReadFile("orders.spt").substr(0, 4), std::string("\x1B\0\0\0", 4));
  Relist();
  EXPECT_EQ(Reported().back(), "orders_{");

  // Entries 31 and on are kept but have no identifier: none may pass '~'.
  for (int i = 28; i <= 32; i++) SaveSet("orders", 80, i);
  Relist();
  EXPECT_EQ(Reported().size(), 30u);
  EXPECT_EQ(Reported().back(), "orders_~");
  ASSERT_EQ(Load("orders_~"), 0);
  EXPECT_EQ(CurrentParameters.keys[0].position, 30);
  int reported = MessagesReported;
  EXPECT_EQ(Load("orders_\x7F"), 1);
  EXPECT_EQ(Load("orders_ab"), 1);
  EXPECT_EQ(Remove("orders_\x7F"), 1);
  EXPECT_EQ(MessagesReported, reported);
  EXPECT_EQ(ReadFile("orders.spt").substr(0, 4), std::string("\x20\0\0\0", 4));
}

TEST_F(ParameterFilesTest, ListingSkipsSptSptAndEmptyFilesAndGoesOnPastCorruptOnes) {
  WriteFile("spt.spt", FileImage(1, RecordImage("x", 80, 1)));
  WriteFile("empty.spt", "");
  WriteFile("bad.spt", FileImage(1, std::string(766, 'q')));
  WriteFile("good.spt", FileImage(2, RecordImage("good", 80, 1) + RecordImage("good", 80, 2)));
  WriteFile("another.spt", FileImage(1, RecordImage("another", 80, 1)));
  Relist();
  EXPECT_EQ(Reported(), (std::vector<std::string>{"another_a", "good_a", "good_b"}));
  ASSERT_EQ(Outcome.messageCount, 1);
  ExpectReported(0, "Corrupted SPT File!", "  * * ERROR * *");
  EXPECT_EQ(FakeMessageCount(), 0);  // storage shows nothing itself
}

TEST_F(ParameterFilesTest, LoadRefusesMissingShortAndCorruptEntriesAndBoundsWhatItTakes) {
  SaveSet("keep.txt", 80, 9);
  SortParameters before = CurrentParameters;
  EXPECT_EQ(Load("gone_a"), 1);
  ASSERT_EQ(Outcome.messageCount, 1);
  ExpectReported(0, "gone.spt", "Could Not Open File!");

  std::string entry = RecordImage("t", 80, 1);
  WriteFile("t.spt", FileImage(2, entry + entry.substr(0, 765)));
  for (const char *identifier : {"t_b", "t_c"}) {  // short, behind the count
    EXPECT_EQ(Load(identifier), 1);
    ASSERT_EQ(Outcome.messageCount, 1);
    ExpectReported(0, "(b) Corrupted SPT File!", "  * * ERROR * *");
  }
  WriteFile("t.spt", FileImage(1, entry + entry));  // whole, but behind the count
  EXPECT_EQ(Load("t_b"), 1);
  WriteFile("t.spt", FileImage(1, std::string(4, '\0') + entry.substr(4)));
  EXPECT_EQ(Load("t_a"), 1);  // no magic
  ExpectReported(0, "(b) Corrupted SPT File!", "  * * ERROR * *");
  EXPECT_EQ(MessagesReported, 5);
  EXPECT_EQ(memcmp(&before, &CurrentParameters, sizeof before), 0);

  // Names filling their whole slots and titles of 30 characters come out bounded.
  std::string wild = entry;
  wild.replace(4, 510, std::string(510, 'n'));
  wild.replace(586, 180, std::string(180, 't'));
  WriteFile("t.spt", FileImage(1, wild));
  ASSERT_EQ(Load("t_a"), 0);
  EXPECT_EQ(std::string(CurrentParameters.inputName), std::string(255, 'n'));
  EXPECT_EQ(std::string(CurrentParameters.outputName), std::string(255, 'n'));
  EXPECT_EQ(std::string(KeyTitles[5]), std::string(25, 't'));
}

TEST_F(ParameterFilesTest, FailedWritesAreReportedAndLeaveTheFilesAsTheyWere) {
  Preferences.createUserFiles = 1;
  SaveSet("orders.txt", 80, 1);
  SaveSet("orders.txt", 80, 2);
  std::string user = ReadFile("orders.spt"), last = ReadFile("spt.spt");

  // Each save fails twice, in order: the user file, then "spt.spt".
  auto expectBothRefused = [] {
    ASSERT_EQ(Outcome.messageCount, 2);
    ExpectReported(0, kCannotOpen, "* * Warning * *");
    ExpectReported(1, kCannotOpen, "* * Warning * *");
    EXPECT_EQ(Outcome.identifierCount, 0);
  };
  SetFileFaultForTesting(1, 1);  // every file operation fails from the first on
  SaveSet("orders.txt", 80, 3);
  expectBothRefused();
  SetFileFaultForTesting(0);
  EXPECT_EQ(MessagesReported, 2);
  EXPECT_EQ(ReadFile("orders.spt"), user);
  EXPECT_EQ(ReadFile("spt.spt"), last);
  EXPECT_EQ(TemporaryFilesLeft(), 0);
  Relist();
  EXPECT_EQ(Reported(), (std::vector<std::string>{"orders_a", "orders_b"}));

  // A count the file cannot hold leaves no place to append to.
  WriteFile("orders.spt", FileImage(5, user.substr(4)));
  SaveSet("orders.txt", 80, 3);
  ASSERT_EQ(Outcome.messageCount, 1);
  ExpectReported(0, "File Position Failure!", "Internal Program Error");
  EXPECT_EQ(ReadFile("orders.spt"), FileImage(5, user.substr(4)));
}

TEST_F(ParameterFilesTest, BasesLongerThan125CharactersAreRefused) {
  Preferences.createUserFiles = 1;
  std::string longest(125, 'b');
  SaveSet(Folder("d") + longest + ".txt", 80, 1);
  EXPECT_EQ(Reported(), std::vector<std::string>{longest + "_a"});
  Relist();
  EXPECT_EQ(Reported(), std::vector<std::string>{longest + "_a"});
  ASSERT_EQ(Load(longest + "_a"), 0);

  std::string tooLong(126, 'b');
  SaveSet(Folder("d") + tooLong + ".txt", 80, 1);
  ASSERT_EQ(Outcome.messageCount, 1);
  ExpectReported(0, "Input Base Name Exceeds 125 Characters:\n  spt Entry NOT Saved!\n", "* * Warning * *");
  EXPECT_FALSE(FileExists((tooLong + ".spt").c_str()));
  EXPECT_EQ(ReadFile("spt.spt"), FileImage(1, RecordImage(Folder("d") + tooLong + ".txt", 80, 1)));
  EXPECT_EQ(Outcome.identifierCount, 0);
}
