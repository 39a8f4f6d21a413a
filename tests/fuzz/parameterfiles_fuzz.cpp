// Fuzz target: the parameter-file operations on arbitrary files in a private program
// directory. Each input writes up to three parameter files, then starts up (restoring the
// last parameters), lists, loads an entry, removes one and saves, checking after each:
//   byte 0     bits 0-3 the removal's file operation that fails, bits 4-7 the save's
//   byte 1     bit 0 user files on, bit 1 last path on, bits 2-3 which entry is loaded,
//              bits 4-5 which is removed, bit 6 no ab.spt, bit 7 no c_d.spt
//   byte 2     the saved set's input name: as loaded, ab.dat, x/c_d.dat, or a raw text
//   then       the raw input name and identifiers, and the three files' bytes
// Each operation does exactly what the files it finds call for (a load takes the entry as
// it is stored, a removal moves the last entry into its place, a save rewrites the entry
// with the same parameters or appends), or, where that cannot be done or a file operation
// failed, leaves every file as it was and says why; nothing else is left in the folder.
#include <strings.h>

#include <cstdint>
#include <string>
#include <vector>

#include "os/platform.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/storage/storageimages.h"

namespace {

const std::string kMagic("plm\0", 4);
StorageOutcome outcome;  // what the last operation reported

void Collect(void *listed, const char *identifier) { static_cast<std::vector<std::string> *>(listed)->push_back(identifier); }

int32_t Count(const std::string &bytes) { return bytes.size() < 4 ? 0 : GetLe32(bytes, 0); }
size_t EntryAt(int64_t index) { return 4 + kParameterRecordSize * static_cast<size_t>(index); }
std::string Current() { return RecordImage(CurrentParameters, KeyTitles); }

// Every file of the folder, as name:bytes.
std::vector<std::string> Folder() {
  std::vector<std::string> files;
  for (const std::string &name : FolderNames()) files.push_back(name + ":" + ReadWholeFile(name));
  return files;
}

// 1 when the fault chosen by failing (0: none) struck; the fault is taken away.
bool Struck(int failing) {
  const bool struck = failing > 0 && FileOperationsCounted() >= static_cast<uint64_t>(failing);
  SetFileFaultForTesting(0);
  return struck;
}

// The file an identifier names and the entry index: a base of at most 125 characters
// without a separator, an underscore, and one character from 'a' to '~'.
bool NamedEntry(const std::string &identifier, std::string *file, int *index) {
  const size_t underscore = identifier.rfind('_');
  if (underscore == std::string::npos || underscore + 2 != identifier.size() || underscore > 125) return false;
  *file = identifier.substr(0, underscore) + ".spt";
  *index = static_cast<unsigned char>(identifier.back()) - 'a';
  return identifier.find('/') == std::string::npos && *index >= 0 && *index < kAddressableEntries;
}

// A load takes the named entry when its file counts it, holds it whole and it has the
// magic; otherwise it says why (nothing for a text that is no identifier) and leaves the
// parameters and titles as they were.
void CheckLoad(const std::string &identifier) {
  std::string file;
  int index = 0;
  bool found = false;
  const bool named = NamedEntry(identifier, &file, &index);
  const std::string bytes = named ? ReadWholeFile(file, &found) : "", before = Current();
  const bool whole = found && index < Count(bytes) && bytes.size() >= EntryAt(index + 1) &&
                     bytes.compare(EntryAt(index), 4, kMagic) == 0;
  FUZZ_CHECK(IsEntryIdentifier(identifier.c_str()) == named, "identifiers as the saved list names entries");
  FUZZ_CHECK(LoadUserEntry(identifier.c_str(), &outcome) == !whole, "an entry loads exactly when it is there whole");
  FUZZ_CHECK(Current() == (whole ? LoadedRecord(bytes.substr(EntryAt(index), kParameterRecordSize)) : before),
             "a load takes the entry as it is stored, a refused one nothing");
  FUZZ_CHECK(!CurrentParameters.inputName[kNameSize - 1] && !CurrentParameters.outputName[kNameSize - 1], "names ended");
  const std::string why = outcome.messageCount == 0 ? "" : std::to_string(outcome.messages[0].caption) + "|" + outcome.messages[0].text;
  FUZZ_CHECK(why == (whole || !named ? ""
                     : !found ? std::to_string(kStorageCaptionCannotOpen) + "|" + file
                              : std::to_string(kStorageCaptionError) + "|(b) Corrupted SPT File!"),
             "a refused load says why");
}

// A removal takes a counted entry out of a user file: the last entry takes its place, the
// count is one lower, the length kept; the file goes with its only entry.
void CheckRemove(const std::string &identifier, int failing) {
  std::string file;
  int index = 0;
  bool found = false;
  const bool named = NamedEntry(identifier, &file, &index) && strcasecmp(file.c_str(), "spt.spt") != 0;
  const std::string old = named ? ReadWholeFile(file, &found) : "";
  const int32_t count = Count(old);
  const bool removable = found && index < count && (index == count - 1 || old.size() >= EntryAt(count));
  std::string expected = removable && count > 1 ? ParameterFileImage(count - 1, old.substr(4)) : "";
  if (removable && index != count - 1) expected.replace(EntryAt(index), kParameterRecordSize, old, EntryAt(count - 1), kParameterRecordSize);
  const std::vector<std::string> before = Folder();
  std::vector<std::string> listed;
  SetFileFaultForTesting(failing);
  const int result = RemoveUserEntry(identifier.c_str(), &outcome, Collect, &listed);
  FUZZ_CHECK(Struck(failing) || result == !removable, "a removal fails only where the entry is not there whole");
  FUZZ_CHECK(result == 0 ? ReadWholeFile(file, &found) == expected && found == (count > 1) : Folder() == before,
             "the last entry takes the removed one's place, or every file stays as it was");
}

// What a save makes of a user file: the record over the counted entry with the same
// parameters (titles aside), else behind the counted entries; empty when its count
// leaves no place to append to.
std::string SavedUserFile(std::string old, bool found, const std::string &record) {
  if (!found) return ParameterFileImage(1, record);
  const int32_t count = Count(old);
  for (int32_t i = 0; i < count && old.size() >= EntryAt(i + 1); i++) {
    if (LoadedRecord(old.substr(EntryAt(i), kParameterRecordSize)).compare(0, 586, record, 0, 586) == 0) {
      return old.replace(EntryAt(i), kParameterRecordSize, record);
    }
  }
  if (old.size() >= 4 && (count < 0 || EntryAt(count) > old.size())) return "";
  old.resize(std::max(old.size(), EntryAt(count + 1)), '\0');
  PutLe32(old, 0, count + 1);
  return old.replace(EntryAt(count), kParameterRecordSize, record);
}

// A save writes spt.spt whole and, with user files on, the user file of the input's base
// (at most 125 characters); each holds the set afterwards or is as it was, and a save
// that did not store the set everywhere says so.
void CheckSave(const std::string &inputName, bool userFiles, int failing) {
  if (!inputName.empty()) CopyText(CurrentParameters.inputName, kNameSize, inputName.c_str());
  std::string base = CurrentParameters.inputName;
  base = base.substr(base.rfind('/') == std::string::npos ? 0 : base.rfind('/') + 1);
  base = base.substr(0, base.rfind('.'));
  BuildParameterRecord();
  const std::string userFile = base + ".spt", record = Current();
  bool existed = false, exists = false;
  const std::string oldUser = ReadWholeFile(userFile, &existed), oldLast = ReadWholeFile("spt.spt");
  const std::string expected = SavedUserFile(oldUser, existed, record);
  const bool storable = !userFiles || (base.size() <= 125 && !expected.empty());
  SetFileFaultForTesting(failing);
  const int result = SaveLastParameters(&outcome);
  FUZZ_CHECK(Struck(failing) || result == !storable, "a save fails only where the user file cannot take the set");
  FUZZ_CHECK(result == 0 || outcome.messageCount > 0, "a save that did not store the set says so");
  FUZZ_CHECK(ReadWholeFile("spt.spt") == ParameterFileImage(1, record) || (result != 0 && ReadWholeFile("spt.spt") == oldLast),
             "spt.spt holds the set, or is as it was");
  if (userFile == "spt.spt") return;  // the last parameters are written over it
  const std::string now = ReadWholeFile(userFile, &exists);
  FUZZ_CHECK((userFiles && storable && exists && now == expected) || ((result != 0 || !userFiles) && exists == existed && now == oldUser),
             "the user file holds the set, or is as it was");
}

// An identifier: the first or a chosen listed one, a raw text, or an entry of ab.spt.
std::string ChooseIdentifier(int mode, uint8_t pick, const std::string &raw, const std::vector<std::string> &listed) {
  if (mode < 2 && !listed.empty()) return listed[mode == 0 ? 0 : pick % listed.size()];
  return mode == 2 ? raw.c_str() : std::string("ab_") + static_cast<char>('a' + pick % 32);
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
  const char *const files[] = {"ab.spt", "c_d.spt", "spt.spt"};
  for (int f = 0; f < 3; f++) {
    const std::string bytes = reader.Text(3 * 770);  // a count and three entries
    if (!(f < 2 && (flags >> (6 + f)) & 1)) WriteFile(files[f], bytes);
  }

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
  const char *slash = strrchr(CurrentParameters.inputName, '/');
  const std::string folder = restorable && lastPath && slash ? std::string(CurrentParameters.inputName).substr(0, slash + 1 - CurrentParameters.inputName) : "C:\\";
  FUZZ_CHECK(BrowseDirectory == folder && Preferences.defaultBrowseDirectory == folder.substr(0, 253) &&
                 SettingsChanged == (folder != "C:\\"), "the browse folder, to be saved at the end");

  std::vector<std::string> listed;
  ListUserEntries(&outcome, Collect, &listed);
  CheckLoad(ChooseIdentifier((flags >> 2) % 4, loadPick, rawLoad, listed));
  CheckRemove(ChooseIdentifier((flags >> 4) % 4, removePick, rawRemove, listed), failing % 16);
  const char *const kSaveNames[] = {"", "ab.dat", "x/c_d.dat"};
  const std::string inputName = saveChoice % 4 < 3 ? kSaveNames[saveChoice % 4] : rawName.c_str();
  CheckSave(saveChoice % 4 == 3 && inputName.empty() ? "raw.dat" : inputName, userFiles, failing / 16);
  for (const std::string &name : FolderNames()) {
    FUZZ_CHECK(name.size() >= 4 && name.compare(name.size() - 4, 4, ".spt") == 0, "nothing is left but parameter files");
  }
  return 0;
}
