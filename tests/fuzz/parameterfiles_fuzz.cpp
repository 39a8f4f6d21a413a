// Fuzz target: the parameter-file operations on arbitrary files in a private program
// directory. Each input writes up to three parameter files, then starts up (restoring the
// last parameters), lists, loads an entry, removes one and saves, checking after each:
//   byte 0     bits 0-3 the removal's file operation that fails, bits 4-7 the save's
//   byte 1     bit 0 user files on, bit 1 last path on, bits 2-3 which entry is loaded,
//              bits 4-5 which is removed, bit 6 no ab.spt, bit 7 no c_d.spt
//   byte 2     the saved set's input name: as loaded, ab.dat, x/c_d.dat, or a raw text
//   then       the raw input name and identifiers, and the three files' bytes
// A load takes exactly the entry the files hold, or reports why and changes nothing; a
// listing names every whole, counted entry; every file afterwards holds its old bytes or
// the whole new content its operation describes; a save that did not store the set says
// so; and nothing else is left in the folder.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "os/platform.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/storage/storageimages.h"

namespace {

const char *const kFiles[] = {"ab.spt", "c_d.spt", "spt.spt"};
const std::string kMagic("plm\0", 4);
StorageOutcome outcome;  // what the last operation reported

void Collect(void *listed, const char *identifier) {
  static_cast<std::vector<std::string> *>(listed)->push_back(identifier);
}

int32_t Count(const std::string &bytes) { return bytes.size() < 4 ? 0 : GetLe32(bytes, 0); }
size_t EntryAt(int64_t index) { return 4 + kParameterRecordSize * static_cast<size_t>(index); }
std::string Current() { return RecordImage(CurrentParameters, KeyTitles); }

// The first message reported, as caption|text; empty when there is none.
std::string FirstReport() {
  return outcome.messageCount == 0 ? "" : std::string(outcome.messages[0].caption) + "|" + outcome.messages[0].text;
}

// The file an identifier names and the entry index: a base of at most 125 characters
// without a separator, an underscore, and one character from 'a' to '~'.
bool NamedEntry(const std::string &identifier, std::string *file, int *index) {
  const size_t underscore = identifier.rfind('_');
  if (underscore == std::string::npos || underscore + 2 != identifier.size() || underscore > 125) return false;
  if (identifier.find('/') != std::string::npos) return false;
  *file = identifier.substr(0, underscore) + ".spt";
  *index = static_cast<unsigned char>(identifier.back()) - 'a';
  return *index >= 0 && *index < kAddressableEntries;
}

// A load takes the named entry when its file counts it, holds it whole and it has the
// magic; otherwise it reports why (nothing for a text that is no identifier) and leaves
// the parameters and titles as they were.
void CheckLoad(const std::string &identifier) {
  std::string file;
  int index = 0;
  bool found = false;
  const bool named = NamedEntry(identifier, &file, &index);
  const std::string bytes = named ? ReadWholeFile(file, &found) : "";
  const bool whole = found && index < Count(bytes) && bytes.size() >= EntryAt(index + 1) &&
                     bytes.compare(EntryAt(index), 4, kMagic) == 0;
  const std::string before = Current();
  const SortParameters parameters = CurrentParameters;
  FUZZ_CHECK(LoadUserEntry(identifier.c_str(), &outcome) == !whole, "an entry loads exactly when it is there whole");
  if (whole) {
    FUZZ_CHECK(Current() == LoadedRecord(bytes.substr(EntryAt(index), kParameterRecordSize)), "a load takes the entry");
    FUZZ_CHECK(CurrentParameters.inputName[kNameSize - 1] == '\0' && CurrentParameters.outputName[kNameSize - 1] == '\0',
               "the names are terminated");
    return;
  }
  FUZZ_CHECK(Current() == before && memcmp(&parameters, &CurrentParameters, sizeof parameters) == 0,
             "a refused load keeps the parameters and titles");
  FUZZ_CHECK(FirstReport() == (!named ? "" : !found ? "Could Not Open File!|" + file : "  * * ERROR * *|(b) Corrupted SPT File!"),
             "a refused load says why");
}

// A listing gives, in any order, the identifiers of the entries of each user file whose
// base can form one and that starts with a count and the magic: a on, up to its count,
// as many as it holds whole, at most 30 (all of them unless a file operation failed).
void CheckListed(std::vector<std::string> listed, bool whole) {
  std::vector<std::string> expected;
  for (const std::string &name : FolderNames()) {
    if (name.size() < 4 || name.size() - 4 > 125 || name.compare(name.size() - 4, 4, ".spt") != 0 || name == "spt.spt") continue;
    const std::string bytes = ReadWholeFile(name);
    const int64_t count = Count(bytes), held = bytes.size() < 4 ? 0 : (bytes.size() - 4) / kParameterRecordSize;
    if (count <= 0 || held == 0 || bytes.compare(4, 4, kMagic) != 0) continue;
    for (int64_t i = 0; i < std::min({count, held, int64_t{kAddressableEntries}}); i++) {
      expected.push_back(name.substr(0, name.size() - 4) + "_" + static_cast<char>('a' + i));
    }
  }
  std::sort(expected.begin(), expected.end());
  std::sort(listed.begin(), listed.end());
  FUZZ_CHECK(whole ? listed == expected : std::includes(expected.begin(), expected.end(), listed.begin(), listed.end()),
             "a listing gives every whole, counted entry of the user files (a failed one adds none)");
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
  const int result = RemoveUserEntry(identifier.c_str(), &outcome, Collect, &listed);
  const bool failed = failing > 0 && FileOperationsCounted() >= static_cast<uint64_t>(failing);
  SetFileFaultForTesting(0);
  CheckListed(listed, !failed);
  for (size_t f = 0; f < before.size(); f++) {
    if (result != 0 || kFiles[f] != file) FUZZ_CHECK(ReadWholeFile(kFiles[f]) == before[f], "other files untouched");
  }
  if (result != 0) return;
  FUZZ_CHECK(named && file != "spt.spt" && index < Count(old), "only a counted entry of a user file is removed");
  bool found = false;
  const std::string now = ReadWholeFile(file, &found);
  std::string expected = ParameterFileImage(Count(old) - 1, old.substr(4));
  if (index != Count(old) - 1) {
    FUZZ_CHECK(old.size() >= EntryAt(Count(old)), "the moved entry was whole");
    expected.replace(EntryAt(index), kParameterRecordSize, old.substr(EntryAt(Count(old) - 1), kParameterRecordSize));
  }
  FUZZ_CHECK(Count(old) == 1 ? !found : found && now == expected, "the entry is replaced by the last one, the count lowered");
}

// A user file after a save: as it was; or with the record rewritten in place of a counted
// entry; or appended behind the counted entries, the count one higher. Every other byte
// stays as it was.
void CheckUserFile(const std::string &old, bool existed, const std::string &now, bool exists, const std::string &record) {
  if (exists == existed && now == old) return;
  FUZZ_CHECK(exists, "a save never removes a user file");
  const int32_t count = Count(now);
  const bool appended = int64_t{count} == int64_t{Count(old)} + 1;
  FUZZ_CHECK(appended || count == Count(old), "the count is kept or one higher");
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

// Saves the current parameters under inputName (empty: as they are). Returns the name of
// the user file the save was meant for.
std::string CheckSave(const std::string &inputName, bool userFiles, int failing) {
  if (!inputName.empty()) CopyText(CurrentParameters.inputName, kNameSize, inputName.c_str());
  std::string base = CurrentParameters.inputName;
  if (base.rfind('/') != std::string::npos) base = base.substr(base.rfind('/') + 1);
  const std::string userFile = base.substr(0, base.rfind('.')) + ".spt";
  bool existed = false;
  const std::string oldUser = ReadWholeFile(userFile, &existed), oldLast = ReadWholeFile("spt.spt");
  std::vector<std::string> others;
  for (const char *file : kFiles) others.push_back(ReadWholeFile(file));

  BuildParameterRecord();
  SetFileFaultForTesting(failing);
  const int result = SaveLastParameters(&outcome);
  SetFileFaultForTesting(0);
  FUZZ_CHECK(result == 0 || outcome.messageCount > 0, "a save that did not store the set says so");
  const std::string record = Current(), last = ReadWholeFile("spt.spt");
  FUZZ_CHECK(last == ParameterFileImage(1, record) || (result != 0 && last == oldLast),
             "spt.spt is the saved one, or the old one and the save says so");
  if (userFile == "spt.spt") return userFile;  // a user file of that name is overwritten by the last parameters
  bool exists = false;
  const std::string now = ReadWholeFile(userFile, &exists);
  if (!userFiles) FUZZ_CHECK(exists == existed && now == oldUser, "no user file without user files");
  else CheckUserFile(oldUser, existed, now, exists, record);
  bool held = false;
  for (int32_t i = 0; i < Count(now) && now.size() >= EntryAt(i + 1); i++) held |= now.compare(EntryAt(i), kParameterRecordSize, record) == 0;
  FUZZ_CHECK(result != 0 || !userFiles || held, "a save that says it stored the set holds it in a counted entry");
  for (size_t f = 0; f < others.size(); f++) {
    if (kFiles[f] != userFile && kFiles[f] != std::string("spt.spt")) FUZZ_CHECK(ReadWholeFile(kFiles[f]) == others[f], "other files untouched");
  }
  return userFile;
}

// An identifier: the first or a chosen listed one, a raw text, or an entry of ab.spt.
std::string ChooseIdentifier(int mode, uint8_t pick, const std::string &raw, const std::vector<std::string> &listed) {
  if (mode == 0 && !listed.empty()) return listed[0];
  if (mode == 1 && !listed.empty()) return listed[pick % listed.size()];
  if (mode == 2) return raw.c_str();
  return std::string("ab_") + static_cast<char>('a' + pick % 32);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  FuzzReader reader = {data, size};
  const uint8_t failing = reader.Byte(), flags = reader.Byte(), saveChoice = reader.Byte();
  const bool userFiles = flags & 1, lastPath = flags & 2;
  const std::string rawName = reader.Text(255);
  const uint8_t loadPick = reader.Byte(), removePick = reader.Byte();
  const std::string rawLoad = reader.Text(140), rawRemove = reader.Text(140);
  for (int f = 0; f < 3; f++) {
    const std::string bytes = reader.Text(3 * 770);  // a count and three entries
    if (!(f < 2 && (flags >> (6 + f)) & 1)) WriteFile(kFiles[f], bytes);
  }
  std::set<std::string> created;
  for (const std::string &name : FolderNames()) created.insert(name);

  // Start-up restores spt.spt's entry when user files are off and it holds one whole,
  // with the magic; with "last path" on, its input's folder becomes the browse folder.
  LoadSettings();
  ResetParameterState();
  Preferences.createUserFiles = userFiles;
  Preferences.useLastPath = lastPath;
  const std::string start = Current(), last = ReadWholeFile("spt.spt");
  const bool restorable = !userFiles && last.size() >= EntryAt(1) && last.compare(4, 4, kMagic) == 0;
  FUZZ_CHECK(LoadLastParameters() == !restorable && ParametersLoaded == restorable, "start-up restores a whole entry");
  FUZZ_CHECK(Current() == (restorable ? LoadedRecord(last.substr(4, kParameterRecordSize)) : start), "as it is stored");
  const char *separator = strrchr(CurrentParameters.inputName, '/');
  const std::string folder = restorable && lastPath && separator ? std::string(CurrentParameters.inputName, separator + 1 - CurrentParameters.inputName) : "C:\\";
  FUZZ_CHECK(BrowseDirectory == folder && Preferences.defaultBrowseDirectory == folder.substr(0, 253), "the browse folder");

  std::vector<std::string> listed;
  ListUserEntries(&outcome, Collect, &listed);
  CheckListed(listed, true);
  CheckLoad(ChooseIdentifier((flags >> 2) % 4, loadPick, rawLoad, listed));
  CheckRemove(ChooseIdentifier((flags >> 4) % 4, removePick, rawRemove, listed), failing % 16);

  const char *const kSaveNames[] = {"", "ab.dat", "x/c_d.dat"};
  std::string inputName = saveChoice % 4 < 3 ? kSaveNames[saveChoice % 4] : rawName.c_str();
  if (saveChoice % 4 == 3 && inputName.empty()) inputName = "raw.dat";
  created.insert(CheckSave(inputName, userFiles, failing / 16));
  created.insert("spt.spt");

  for (const std::string &name : FolderNames()) FUZZ_CHECK(created.count(name) == 1, "nothing is left behind");
  return 0;
}
