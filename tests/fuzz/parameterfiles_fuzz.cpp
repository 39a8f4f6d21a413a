// Fuzz target: the parameter-file operations on arbitrary files in a private program
// directory. Each input writes up to three parameter files, then loads the last
// parameters, lists, loads an entry, removes one and saves, checking after each step:
//   byte 0     bit 0 user files on, bit 1 last path on, bits 2-3 which entry is loaded,
//              bits 4-5 which is removed, bit 6 no ab.spt, bit 7 no c_d.spt
//   byte 2     the saved set's input name: as loaded, ab.dat, x/c_d.dat, or a raw text
//   then       the identifiers and input name in raw form, and the three files' bytes
// A loaded entry's texts must be bounded and terminated, a failed load must leave the
// parameters as they were, and every file must afterwards hold its old bytes or the
// whole new content its operation describes, a save that could not write spt.spt must say
// so, and nothing else may be left in the folder.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "os/platform.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"
#include "tests/support/fakewinsys.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

const char *const kFiles[] = {"ab.spt", "c_d.spt", "spt.spt"};
constexpr size_t kMaxFile = 3 * 770;  // a count and three entries

enum Operation { kStart, kLoadLast, kList, kLoad, kRemove, kSave };

// The one place that calls storage; the lead adapts it when the interfaces change.
// kStart: start-up with the two preferences; kSave: the current parameters under
// inputName (empty: as they are) are saved. kList and kRemove fill listed with the
// saved list's identifiers. Returns the operation's result (0 for kStart and kList).
void Collect(void *listed, const char *identifier) {
  static_cast<std::vector<std::string> *>(listed)->push_back(identifier);
}

StorageOutcome outcome;  // what the last operation reported

int CallStorage(Operation operation, int userFiles, int lastPath, const std::string &text,
                std::vector<std::string> *listed) {
  switch (operation) {
    case kStart:
      FakeReset();
      LoadSettings();
      ResetParameterState();
      Preferences.createUserFiles = userFiles;
      Preferences.useLastPath = lastPath;
      return 0;
    case kLoadLast:
      return LoadLastParameters();
    case kList:
      listed->clear();
      ListUserEntries(&outcome, Collect, listed);
      return 0;
    case kLoad:
      return LoadUserEntry(text.c_str(), &outcome);
    case kRemove:
      listed->clear();
      return RemoveUserEntry(text.c_str(), &outcome, Collect, listed);
    case kSave:
      if (!text.empty()) CopyText(CurrentParameters.inputName, sizeof CurrentParameters.inputName, text.c_str());
      BuildParameterRecord();
      return SaveLastParameters(&outcome);
  }
  return 0;
}

int32_t Count(const std::string &bytes) {
  if (bytes.size() < 4) return 0;
  uint32_t bits = 0;
  for (int i = 0; i < 4; i++) bits |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return static_cast<int32_t>(bits);
}

std::string CountBytes(int32_t count) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; i++) bytes[i] = static_cast<char>((static_cast<uint32_t>(count) >> (8 * i)) & 0xFF);
  return bytes;
}

size_t EntryAt(int64_t index) { return 4 + kParameterRecordSize * static_cast<size_t>(index); }

void CheckParametersBounded() {
  FUZZ_CHECK(Bounded(CurrentParameters.inputName, kNameSize, kNameSize - 1), "input name terminated");
  FUZZ_CHECK(Bounded(CurrentParameters.outputName, kNameSize, kNameSize - 1), "output name terminated");
  for (int k = 0; k < kMaxKeys; k++) FUZZ_CHECK(Bounded(KeyTitles[k], kKeyTitleSize, kKeyTitleMaxLength), "title bounded");
}

// Runs a loading operation: parameters bounded after a load, untouched after a refusal.
void CheckLoad(Operation operation, const std::string &identifier) {
  const SortParameters before = CurrentParameters;
  char titles[kMaxKeys][kKeyTitleSize];
  memcpy(titles, KeyTitles, sizeof titles);
  if (CallStorage(operation, 0, 0, identifier, nullptr) == 0) {
    CheckParametersBounded();
  } else {
    FUZZ_CHECK(memcmp(&before, &CurrentParameters, sizeof before) == 0, "a refused load keeps the parameters");
    FUZZ_CHECK(memcmp(titles, KeyTitles, sizeof titles) == 0, "a refused load keeps the titles");
  }
}

// A listing gives, in any order, the identifiers of the entries of each user file whose
// base can form one (at most 125 characters) and that starts with a count and the magic:
// a on, up to its count, as many as it holds whole, at most 30 (all of them unless a file
// operation failed: whole is false).
void CheckListed(std::vector<std::string> listed, bool whole) {
  std::vector<std::string> expected;
  for (const std::string &name : FolderNames()) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".spt") != 0 || name == "spt.spt") continue;
    if (name.size() - 4 > static_cast<size_t>(kMaxBaseLength)) continue;
    const std::string bytes = ReadWholeFile(name);
    const int64_t count = Count(bytes), held = bytes.size() < 4 ? 0 : (bytes.size() - 4) / kParameterRecordSize;
    if (count <= 0 || held == 0 || bytes.compare(4, 4, std::string("plm\0", 4)) != 0) continue;
    for (int64_t i = 0; i < std::min({count, held, int64_t{kAddressableEntries}}); i++) {
      expected.push_back(name.substr(0, name.size() - 4) + "_" + static_cast<char>('a' + i));
    }
  }
  std::sort(expected.begin(), expected.end());
  std::sort(listed.begin(), listed.end());
  if (!whole) {  // a failed file operation may leave files out, never add any
    FUZZ_CHECK(std::includes(expected.begin(), expected.end(), listed.begin(), listed.end()), "a listing adds nothing");
    return;
  }
  FUZZ_CHECK(listed == expected, "a listing gives every whole, counted entry of the user files");
}

// The file an identifier names and the entry index, as the layout describes identifiers.
bool NamedEntry(const std::string &identifier, std::string *file, int *index) {
  const size_t underscore = identifier.rfind('_');
  if (underscore == std::string::npos || underscore + 2 != identifier.size()) return false;
  *file = identifier.substr(0, underscore) + ".spt";
  *index = static_cast<unsigned char>(identifier.back()) - 'a';
  return *index >= 0 && *index < kAddressableEntries;
}

// A removal leaves every file as it was, or the named file without the entry: the last
// entry in its place, the count one lower, the length kept; or no file for its only entry.
void CheckRemove(const std::string &identifier, int failing) {
  std::vector<std::string> before;
  for (const char *name : kFiles) before.push_back(ReadWholeFile(name));
  std::string file;
  int index = -1;
  const bool named = NamedEntry(identifier, &file, &index);
  const std::string old = named ? ReadWholeFile(file) : "";
  std::vector<std::string> listed;
  SetFileFaultForTesting(failing);
  const int result = CallStorage(kRemove, 0, 0, identifier, &listed);
  const bool failed = failing > 0 && FileOperationsCounted() >= static_cast<uint64_t>(failing);
  SetFileFaultForTesting(0);
  CheckListed(listed, !failed);
  for (size_t f = 0; f < before.size(); f++) {
    if (result != 0 || kFiles[f] != file) FUZZ_CHECK(ReadWholeFile(kFiles[f]) == before[f], "other files untouched");
  }
  if (result != 0) return;
  FUZZ_CHECK(named && file != "spt.spt", "only a user file's entry is removed");
  const int32_t count = Count(old);
  FUZZ_CHECK(index < count, "the removed entry was counted");
  bool found = false;
  const std::string now = ReadWholeFile(file, &found);
  if (count == 1) {
    FUZZ_CHECK(!found, "removing the only entry removes the file");
    return;
  }
  std::string expected = CountBytes(count - 1) + old.substr(4);
  if (index != count - 1) {
    FUZZ_CHECK(old.size() >= EntryAt(count), "the moved entry was whole");
    expected.replace(EntryAt(index), kParameterRecordSize, old.substr(EntryAt(count - 1), kParameterRecordSize));
  }
  FUZZ_CHECK(found && now == expected, "the entry is replaced by the last one and the count lowered");
}

// A user file after a save: as it was; or with the record rewritten in place of a counted
// entry; or appended behind the counted entries, the count one higher. Every other byte
// stays as it was.
void CheckUserFile(const std::string &old, bool existed, const std::string &now, bool exists, const std::string &record) {
  if (exists == existed && now == old) return;  // as it was
  FUZZ_CHECK(exists, "a save never removes a user file");
  const int32_t oldCount = Count(old), count = Count(now);
  const bool appended = int64_t{count} == int64_t{oldCount} + 1;
  FUZZ_CHECK(appended || count == oldCount, "the count is kept or one higher");
  for (int32_t i = appended ? count - 1 : 0; i < count; i++) {
    if (now.size() < EntryAt(i + 1) || now.compare(EntryAt(i), kParameterRecordSize, record) != 0) continue;
    std::string rest = now, oldRest = old;
    oldRest.resize(std::max(old.size(), EntryAt(i + 1)), '\0');
    rest.replace(EntryAt(i), kParameterRecordSize, kParameterRecordSize, '\0').replace(0, 4, 4, '\0');
    oldRest.replace(EntryAt(i), kParameterRecordSize, kParameterRecordSize, '\0').replace(0, 4, 4, '\0');
    FUZZ_CHECK(rest == oldRest, "a save changes only the count and its entry");
    return;
  }
  FUZZ_CHECK(false, "a changed user file holds the saved record in a counted entry");
}

// Returns the name of the user file the save was meant for.
std::string CheckSave(const std::string &inputName, bool userFiles, int failing) {
  char base[kNameSize];
  CopyText(base, sizeof base, inputName.empty() ? CurrentParameters.inputName : inputName.c_str());
  std::string name = base;
  if (name.rfind('/') != std::string::npos) name = name.substr(name.rfind('/') + 1);
  if (name.rfind('.') != std::string::npos) name = name.substr(0, name.rfind('.'));
  const std::string userFile = name + ".spt";
  bool existed = false;
  const std::string oldUser = ReadWholeFile(userFile, &existed);
  const std::string oldLast = ReadWholeFile("spt.spt");
  std::vector<std::string> others;
  for (const char *file : kFiles) others.push_back(ReadWholeFile(file));

  SetFileFaultForTesting(failing);
  const int result = CallStorage(kSave, 0, 0, inputName, nullptr);
  SetFileFaultForTesting(0);
  const bool reported = result != 0 || outcome.messageCount > 0;

  unsigned char encoded[kParameterRecordSize];
  EncodeParameterRecord(&JobRecord, encoded);
  const std::string record(reinterpret_cast<const char *>(encoded), sizeof encoded);
  const std::string last = ReadWholeFile("spt.spt");
  FUZZ_CHECK(last == CountBytes(1) + record || (reported && last == oldLast),
             "spt.spt is the saved one, or the old one and the save says so");
  if (userFile == "spt.spt") return userFile;  // a user file of that name is overwritten by the last parameters
  bool exists = false;
  const std::string now = ReadWholeFile(userFile, &exists);
  if (!userFiles) FUZZ_CHECK(exists == existed && now == oldUser, "no user file without user files");
  else CheckUserFile(oldUser, existed, now, exists, record);
  for (size_t f = 0; f < others.size(); f++) {
    if (kFiles[f] != userFile && std::string(kFiles[f]) != "spt.spt") {
      FUZZ_CHECK(ReadWholeFile(kFiles[f]) == others[f], "other files untouched");
    }
  }
  return userFile;
}

// An identifier: the first or a chosen listed one, a raw text, or an entry of ab.spt.
std::string ChooseIdentifier(int mode, uint8_t pick, const std::string &raw, const std::vector<std::string> &listed) {
  if (mode == 0 && !listed.empty()) return listed[0];
  if (mode == 1 && !listed.empty()) return listed[pick % listed.size()];
  if (mode == 2) return raw;
  return std::string("ab_") + static_cast<char>('a' + pick % 32);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  FuzzReader reader = {data, size};
  const uint8_t failing = reader.Byte();
  const uint8_t flags = reader.Byte();
  const uint8_t saveChoice = reader.Byte();
  const bool userFiles = flags & 1;
  const std::string rawName = reader.Text(255);
  const uint8_t loadPick = reader.Byte(), removePick = reader.Byte();
  const std::string rawLoad = reader.Text(140), rawRemove = reader.Text(140);
  for (int f = 0; f < 3; f++) {
    const std::string bytes = reader.Text(kMaxFile);
    if (!(f < 2 && (flags >> (6 + f)) & 1)) WriteFile(kFiles[f], bytes);
  }
  std::set<std::string> created;
  for (const std::string &name : FolderNames()) created.insert(name);

  CallStorage(kStart, userFiles, (flags >> 1) & 1, "", nullptr);
  CheckLoad(kLoadLast, "");
  std::vector<std::string> listed;
  CallStorage(kList, 0, 0, "", &listed);
  CheckListed(listed, true);
  CheckLoad(kLoad, ChooseIdentifier((flags >> 2) % 4, loadPick, rawLoad, listed));
  CheckRemove(ChooseIdentifier((flags >> 4) % 4, removePick, rawRemove, listed), failing % 16);

  const char *const kSaveNames[] = {"", "ab.dat", "x/c_d.dat"};
  std::string inputName = saveChoice % 4 < 3 ? kSaveNames[saveChoice % 4] : rawName;
  if (saveChoice % 4 == 3 && inputName.empty()) inputName = "raw.dat";
  created.insert(CheckSave(inputName, userFiles, failing / 16));
  created.insert("spt.spt");

  // Nothing is left behind but the parameter files.
  for (const std::string &name : FolderNames()) {
    if (created.count(name) == 0) fprintf(stderr, "left behind: %s\n", name.c_str());
    FUZZ_CHECK(created.count(name) == 1, "no temporary file is left behind");
  }
  return 0;
}
