// Fault simulation over the storage's writes: each file operation of a save, a removal
// and a settings write is made to fail in turn. Every file must then be either as it was
// or whole in its new form, nothing may be left behind, and a file that kept its old form
// must have been reported (a settings write reports by its result alone).
#include <functional>
#include <string>
#include <vector>

#include "os/platform.h"
#include "tests/storage/storagetest.h"

using StorageFaults = StorageTest;

static StorageOutcome Outcome;
static const char *const kWatched[] = {"orders.spt", "spt.spt", "Pelmar.ini"};

static std::vector<std::string> Snapshot() {
  std::vector<std::string> files;
  for (const char *name : kWatched) files.push_back(FileExists(name) ? ReadFileBytes(name) : "<absent>");
  return files;
}

// Returns the number of failure points tried.
static int FailEachOperationInTurn(const std::function<void()> &prepare, const std::function<int()> &operation) {
  prepare();
  EXPECT_EQ(operation(), 0);
  const std::vector<std::string> changed = Snapshot();
  int points = 0;
  for (uint64_t n = 1;; n++) {
    prepare();
    const std::vector<std::string> old = Snapshot();
    SetFileFaultForTesting(n);
    const int result = operation();
    const uint64_t counted = FileOperationsCounted();
    SetFileFaultForTesting(0);
    const std::vector<std::string> now = Snapshot();
    if (counted < n) {
      EXPECT_EQ(now, changed);
      return points;
    }
    points++;
    SCOPED_TRACE(testing::Message() << "failing operation " << n << " of " << counted);
    bool keptOld = false;
    for (size_t f = 0; f < now.size(); f++) {
      EXPECT_TRUE(now[f] == old[f] || now[f] == changed[f]) << kWatched[f];
      keptOld |= now[f] != changed[f];
    }
    EXPECT_TRUE(!keptOld || result != 0 || Outcome.messageCount > 0);
    EXPECT_EQ(TemporaryFilesLeft(), 0);
    if (::testing::Test::HasFailure()) return points;
  }
}

static void SetParameters(int32_t keyPosition) {
  ClearParameters();
  CopyText(CurrentParameters.inputName, kNameSize, "orders.txt");
  CopyText(CurrentParameters.outputName, kNameSize, "out.txt");
  CurrentParameters.recordLength = 80;
  CurrentParameters.keyCount = 1;
  CurrentParameters.keys[0] = KeyField{keyPosition, 5, 'a', 'a'};
  BuildParameterRecord();
}

static void Ignore(void *, const char *) {}

TEST_F(StorageFaults, SavesRemovalsAndSettingsWritesEndWholeOrUnchanged) {
  Preferences.createUserFiles = 1;
  // Two saved entries; the operations append a third, rewrite the first, remove one.
  auto twoEntries = [] {
    for (const char *name : kWatched) remove(name);
    SetDefaultKeyTitles();
    SetParameters(1);
    SaveLastParameters(&Outcome);
    SetParameters(2);
    SaveLastParameters(&Outcome);
  };
  int points = 0;
  points += FailEachOperationInTurn(twoEntries, [] {
    SetParameters(3);
    return SaveLastParameters(&Outcome);
  });
  points += FailEachOperationInTurn(twoEntries, [] {
    CopyText(KeyTitles[0], kKeyTitleSize, "Renamed:");
    SetParameters(1);
    return SaveLastParameters(&Outcome);
  });
  points += FailEachOperationInTurn(twoEntries, [] { return RemoveUserEntry("orders_a", &Outcome, Ignore, nullptr); });
  auto oneEntry = [] {
    for (const char *name : kWatched) remove(name);
    SetDefaultKeyTitles();
    SetParameters(1);
    SaveLastParameters(&Outcome);
  };
  points += FailEachOperationInTurn(oneEntry, [] { return RemoveUserEntry("orders_a", &Outcome, Ignore, nullptr); });
  auto settings = [] {
    remove("Pelmar.ini");
    Preferences.goToSortDialog = 0;
    WriteSettingsRecord();
  };
  points += FailEachOperationInTurn(settings, [] {
    Outcome.messageCount = 0;
    Preferences.goToSortDialog = 1;
    return WriteSettings(WindowPlace{});
  });
  EXPECT_GE(points, 40);
}
