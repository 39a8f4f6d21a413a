#include "storage/parameterfiles.h"

#include <cstdio>
#include <cstring>

#include "os/platform.h"
#include "os/directory.h"
#include "storage/settings.h"
#include "storage/storagefile.h"

static const char kLastParametersFile[] = "spt.spt";  // the program's own parameter file
static const char kFileExtension[] = ".spt";          // of every parameter file
constexpr size_t kExtensionLength = 4;
constexpr long kCountSize = 4;                        // the entry count at the start of a file
constexpr size_t kFileNameSize = kNameSize + 8;       // a base of up to 255 characters, ".spt", NUL

static const char kMessageCannotOpen[] = "Internal Program Error:\n  Could NOT Open SPT File!\n";
static const char kMessagePosition[] = "File Position Failure!";
static const char kMessageTooMany[] = "Exceeded Max of 26 spt Entries!";
static const char kMessageCorrupted[] = "Corrupted SPT File!";
static const char kMessageCorruptedEntry[] = "(b) Corrupted SPT File!";
static const char kMessageBaseTooLong[] = "Input Base Name Exceeds 125 Characters:\n  spt Entry NOT Saved!\n";
static const char kDefaultKeyTitles[kMaxKeys][kKeyTitleSize] = {"Key 1:", "Key 2:", "Key 3:",
                                                               "Key 4:", "Key 5:", "Key 6:"};

SortParameters CurrentParameters;
char KeyTitles[kMaxKeys][kKeyTitleSize] = {"Key 1:", "Key 2:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
int ParametersLoaded = 0;
ParameterRecord JobRecord;

// 1 when two file names are the same but for the letter case of A to Z: Windows takes
// them for one file, so "SPT.SPT" is the program's own file there and "ORDERS.SPT" a
// parameter file.
static int SameNameAnyCase(const char *a, const char *b) {
  for (;; a++, b++) {
    const char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
    const char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return 0;
    if (x == '\0') return 1;
  }
}

// Offset of entry index in a parameter file.
static long long EntryOffset(long long index) {
  return kCountSize + static_cast<long long>(kParameterRecordSize) * index;
}

// Every file is named relative to the program directory. With no program directory
// (the current directory could not be read at start-up) the current one serves.
static int EnterProgramDirectory() {
  return ProgramDirectory[0] == '\0' ? 0 : SetWorkingDirectory(ProgramDirectory);
}

// Empties an outcome before an operation reports into it.
static void ClearOutcome(StorageOutcome *outcome) {
  outcome->newEntry = 0;
  outcome->identifierCount = 0;
  outcome->messageCount = 0;
  outcome->truncated = 0;
}

// Adds a message to show under a caption of kind caption; one that does not fit is left
// out and the outcome marked truncated.
static void Report(StorageOutcome *outcome, const char *text, int caption) {
  if (outcome->messageCount == kOutcomeMessages) {
    outcome->truncated = 1;
    return;
  }
  StorageMessage *message = &outcome->messages[outcome->messageCount++];
  CopyText(message->text, sizeof message->text, text);
  message->caption = caption;
}

// The base of an input file name: its last path component up to the component's last
// '.', or the whole component when it has none. Returns the base's length.
static size_t InputBase(const char *inputName, char *base, size_t capacity) {
  char name[kNameSize];
  CopyText(name, sizeof name, inputName);
  const char *separator = FindLastSeparator(name);
  const char *component = separator == nullptr ? name : separator + 1;
  const char *dot = strrchr(component, '.');
  size_t length = dot == nullptr ? strlen(component) : static_cast<size_t>(dot - component);
  if (length >= capacity) length = capacity - 1;
  memcpy(base, component, length);
  base[length] = '\0';
  return length;
}

// The identifier of entry index (below kAddressableEntries) of a base of at most
// kMaxBaseLength characters.
static void MakeIdentifier(const char *base, size_t baseLength, int index, char identifier[kIdentifierSize]) {
  snprintf(identifier, kIdentifierSize, "%.*s_%c", static_cast<int>(baseLength), base, 'a' + index);
}

// Reads an identifier back: the file is the text before its last underscore and ".spt",
// the index the code of the one character behind it less 'a'. Returns 0, or 1 when it
// is no identifier: too long, no underscore, not exactly one character behind the last
// one, a character outside 'a' to '~', a base over kMaxBaseLength or holding a separator.
static int ParseIdentifier(const char *identifier, char fileName[kFileNameSize], int *index) {
  size_t length = strnlen(identifier, kIdentifierSize);
  if (length == kIdentifierSize) return 1;
  const char *underscore = strrchr(identifier, '_');
  if (underscore == nullptr || underscore + 2 != identifier + length) return 1;
  int letter = static_cast<unsigned char>(underscore[1]);
  if (letter < 'a' || letter >= 'a' + kAddressableEntries) return 1;
  size_t baseLength = static_cast<size_t>(underscore - identifier);
  if (baseLength > static_cast<size_t>(kMaxBaseLength)) return 1;
  for (size_t i = 0; i < baseLength; i++) {
    if (IsPathSeparator(identifier[i])) return 1;
  }
  snprintf(fileName, kFileNameSize, "%.*s%s", static_cast<int>(baseLength), identifier, kFileExtension);
  *index = letter - 'a';
  return 0;
}

// 1 when two records hold the same parameters; titles and unused slot bytes do not count.
static int SameParameters(const ParameterRecord *a, const ParameterRecord *b) {
  if (strcmp(a->inputName, b->inputName) != 0 || strcmp(a->outputName, b->outputName) != 0) return 0;
  if (a->recordLength != b->recordLength || a->keyCount != b->keyCount) return 0;
  if (a->statisticsFlag != b->statisticsFlag) return 0;
  for (int k = 0; k < kMaxKeys; k++) {
    const KeyField &x = a->keys[k];
    const KeyField &y = b->keys[k];
    if (x.position != y.position || x.length != y.length || x.type != y.type || x.sequence != y.sequence) return 0;
  }
  return 1;
}

// The current parameters and key titles take a decoded record's values.
static void TakeParameters(const ParameterRecord *record) {
  CopyText(CurrentParameters.inputName, sizeof CurrentParameters.inputName, record->inputName);
  CopyText(CurrentParameters.outputName, sizeof CurrentParameters.outputName, record->outputName);
  CurrentParameters.recordLength = record->recordLength;
  CurrentParameters.keyCount = record->keyCount;
  CurrentParameters.statisticsFlag = record->statisticsFlag;
  for (int k = 0; k < kMaxKeys; k++) {
    CurrentParameters.keys[k] = record->keys[k];
    CopyText(KeyTitles[k], kKeyTitleSize, record->keyTitles[k]);
  }
}

// Writes a parameter file whole: the count 1 and one record.
static int WriteSingleEntryFile(const char *fileName, const unsigned char record[kParameterRecordSize]) {
  unsigned char count[kCountSize];
  PutInt32(count, 1);
  FilePatch patches[2] = {{0, count, sizeof count}, {kCountSize, record, kParameterRecordSize}};
  return RewriteFile(fileName, 0, patches, 2);
}

// Hands found the identifiers of one opened user parameter file.
static void ListFileEntries(StorageOutcome *outcome, FILE *file, const char *base, size_t baseLength,
                            IdentifierFound found, void *context) {
  long length = FileLength(file);
  unsigned char count[kCountSize];
  if (length < kCountSize || ReadFileAt(file, 0, count, sizeof count) != 0) return;  // no entries
  int32_t entries = GetInt32(count);
  if (entries == 0) return;
  unsigned char magic[4];
  if (entries < 0 || length < EntryOffset(1) || ReadFileAt(file, kCountSize, magic, sizeof magic) != 0 ||
      memcmp(magic, "plm", 4) != 0) {
    Report(outcome, kMessageCorrupted, kStorageCaptionError);
    return;
  }
  // Only entries the file holds whole, and only those an identifier can name.
  long long present = (length - kCountSize) / static_cast<long long>(kParameterRecordSize);
  long long listed = entries < present ? entries : present;
  if (listed > kAddressableEntries) listed = kAddressableEntries;
  char identifier[kIdentifierSize];
  for (int i = 0; i < listed; i++) {
    MakeIdentifier(base, baseLength, i, identifier);
    found(context, identifier);
  }
}

// What a removal needs to know of a user file, read before the file is changed.
struct EntryRemoval {
  int32_t newCount;                          // entries left; 0: the file goes
  int moves;                                 // 1: the last entry moves into the removed one's place
  unsigned char last[kParameterRecordSize];  // that last entry's bytes, when it moves
};

// Opens the user file fileName, reads what removing entry index needs and closes the file
// again. Returns 0, or 1 when the file does not open, does not count the entry, or does
// not hold the last entry whole where that must move.
static int ReadRemoval(const char *fileName, int index, EntryRemoval *removal) {
  FILE *file = OpenStorageFile(fileName, "r+b");
  if (file == nullptr) return 1;
  const long length = FileLength(file);
  unsigned char count[kCountSize];
  int unreadable = ReadFileAt(file, 0, count, sizeof count) != 0 || index >= GetInt32(count);
  if (!unreadable) {
    removal->newCount = GetInt32(count) - 1;
    removal->moves = index != removal->newCount;
    const long long lastAt = EntryOffset(removal->newCount);
    unreadable = removal->moves && (lastAt + static_cast<long long>(kParameterRecordSize) > length ||
                                    ReadFileAt(file, static_cast<long>(lastAt), removal->last, sizeof removal->last) != 0);
  }
  CloseStorageFile(file);
  return unreadable;
}

// Deletes the file when its only entry goes; otherwise lowers the count and lays the last
// entry over entry index, keeping the file's length. Returns 0, or 1 when the file is as
// it was.
static int WriteRemoval(const char *fileName, int index, const EntryRemoval *removal) {
  if (removal->newCount == 0) return RemoveStorageFile(fileName);
  unsigned char count[kCountSize];
  PutInt32(count, removal->newCount);
  FilePatch patches[2] = {{0, count, sizeof count},
                          {static_cast<long>(EntryOffset(index)), removal->last, sizeof removal->last}};
  return RewriteFile(fileName, 1, patches, removal->moves ? 2 : 1);
}

// RemoveUserEntry without the relisting. An identifier that names no entry of a user
// file is refused silently (as is "spt.spt", the program's own file); only a write that
// failed is reported.
static int RemoveEntry(const char *identifier, StorageOutcome *outcome) {
  char fileName[kFileNameSize];
  int index = 0;
  EntryRemoval removal;
  const int refused = ParseIdentifier(identifier, fileName, &index) != 0 ||
                      SameNameAnyCase(fileName, kLastParametersFile) || EnterProgramDirectory() != 0 ||
                      ReadRemoval(fileName, index, &removal) != 0;
  const int failed = refused || WriteRemoval(fileName, index, &removal) != 0;
  if (failed && !refused) Report(outcome, kMessageCannotOpen, kStorageCaptionWarning);
  return failed;
}

// A save that left the user file as it was: the message to show and its caption's kind.
struct SaveFailure {
  const char *text;
  int caption;
};
static const SaveFailure kCannotWrite = {kMessageCannotOpen, kStorageCaptionWarning};
static const SaveFailure kBadPosition = {kMessagePosition, kStorageCaptionInternal};
static const SaveFailure kBaseTooLong = {kMessageBaseTooLong, kStorageCaptionWarning};

// What a save needs to know of an opened user file.
struct UserFileState {
  long length;    // bytes; -1 when it could not be told
  int32_t count;  // entries counted; 0 for a file too short for its count
  int32_t same;   // the counted entry that holds JobRecord's parameters, or -1
};

// Reads the count of an opened user file and looks for the entry with JobRecord's
// parameters (titles aside). Returns 0, or 1 when a count or an entry the file holds
// cannot be read: writing on would overwrite entries unseen.
static int ReadUserFile(FILE *file, UserFileState *state) {
  state->length = FileLength(file);
  state->count = 0;
  state->same = -1;
  if (state->length < kCountSize) return 0;  // no entries: the new one goes first
  unsigned char count[kCountSize];
  if (ReadFileAt(file, 0, count, sizeof count) != 0) return 1;
  state->count = GetInt32(count);
  const long long present = (state->length - kCountSize) / static_cast<long long>(kParameterRecordSize);
  unsigned char stored[kParameterRecordSize];
  for (int32_t i = 0; i < state->count && i < present; i++) {
    if (ReadFileAt(file, static_cast<long>(EntryOffset(i)), stored, sizeof stored) != 0) return 1;
    ParameterRecord entry;
    if (DecodeParameterRecord(stored, &entry) == 0 && SameParameters(&entry, &JobRecord)) {
      state->same = i;
      return 0;
    }
  }
  return 0;
}

// Writes record to the user file fileName of the current directory: over the entry with
// the same parameters (*appended -1), behind the counted entries, or as the only entry of
// a file that is not there (*appended the new entry's index). Returns null, or the
// failure of a save that left the file as it was.
static const SaveFailure *WriteUserEntry(const char *fileName, const unsigned char record[kParameterRecordSize],
                                         StorageOutcome *outcome, int32_t *appended) {
  *appended = -1;
  FILE *file = OpenStorageFile(fileName, "r+b");
  if (file == nullptr) {
    // Only a file that is not there is made anew: one that exists but did not open (in
    // use, not ours to write) keeps its entries.
    if (PathExists(fileName)) return &kCannotWrite;
    outcome->newEntry = 1;
    if (WriteSingleEntryFile(fileName, record) != 0) return &kCannotWrite;
    *appended = 0;
    return nullptr;
  }
  UserFileState state;
  const int unreadable = ReadUserFile(file, &state);
  CloseStorageFile(file);
  if (unreadable) return &kCannotWrite;
  if (state.same >= 0) {  // the same parameters, stored before: rewritten, new titles and all
    FilePatch patch = {static_cast<long>(EntryOffset(state.same)), record, kParameterRecordSize};
    return RewriteFile(fileName, 1, &patch, 1) == 0 ? nullptr : &kCannotWrite;
  }
  outcome->newEntry = 1;
  // The entries must end inside the file: a count the file cannot hold is a position the
  // append cannot reach.
  if (state.length < 0 ||
      (state.length >= kCountSize && (state.count < 0 || EntryOffset(state.count) > state.length))) {
    return &kBadPosition;
  }
  unsigned char count[kCountSize];
  PutInt32(count, state.count + 1);
  FilePatch patches[2] = {{0, count, sizeof count},
                          {static_cast<long>(EntryOffset(state.count)), record, kParameterRecordSize}};
  if (RewriteFile(fileName, 1, patches, 2) != 0) return &kCannotWrite;
  *appended = state.count;
  return nullptr;
}

// SaveUserEntry, reporting into an outcome that may already hold reports.
static int StoreUserEntry(StorageOutcome *outcome) {
  char base[kNameSize];
  const size_t baseLength = InputBase(CurrentParameters.inputName, base, sizeof base);
  char fileName[kFileNameSize];
  snprintf(fileName, sizeof fileName, "%s%s", base, kFileExtension);
  unsigned char record[kParameterRecordSize];
  EncodeParameterRecord(&JobRecord, record);

  int32_t appended = -1;
  const SaveFailure *failure = nullptr;
  if (baseLength > static_cast<size_t>(kMaxBaseLength)) {
    failure = &kBaseTooLong;
  } else if (EnterProgramDirectory() != 0) {
    failure = &kCannotWrite;
  } else {
    failure = WriteUserEntry(fileName, record, outcome, &appended);
  }
  if (failure != nullptr) {
    Report(outcome, failure->text, failure->caption);
    return 1;
  }
  if (appended >= kEntryWarningCount) {
    Report(outcome, kMessageTooMany, kStorageCaptionWarning);
  } else if (appended >= 0) {
    MakeIdentifier(base, baseLength, appended, outcome->identifiers[0]);
    outcome->identifierCount = 1;
  }
  return 0;
}

// ListUserEntries, reporting into an outcome that may already hold reports.
static void FindUserEntries(StorageOutcome *outcome, IdentifierFound found, void *context) {
  if (EnterProgramDirectory() != 0) return;
  SptSearch search = BeginSptSearch();
  if (search == nullptr) return;
  char name[kFileNameSize];
  while (NextSptFile(search, name, sizeof name)) {
    size_t length = strlen(name);
    if (SameNameAnyCase(name, kLastParametersFile)) continue;
    if (length < kExtensionLength || !SameNameAnyCase(name + length - kExtensionLength, kFileExtension)) continue;
    size_t baseLength = length - kExtensionLength;
    if (baseLength > static_cast<size_t>(kMaxBaseLength)) continue;  // no identifier can name it
    FILE *file = OpenStorageFile(name, "rb");
    if (file == nullptr) continue;
    ListFileEntries(outcome, file, name, baseLength, found, context);
    CloseStorageFile(file);
  }
  EndSptSearch(search);
}

void ResetParameterState() {
  memset(&CurrentParameters, 0, sizeof CurrentParameters);
  ClearParameters();
  memset(&JobRecord, 0, sizeof JobRecord);
  ParametersLoaded = 0;
  SetDefaultKeyTitles();
}

void ClearParameters() {
  memset(CurrentParameters.inputName, 0, sizeof CurrentParameters.inputName);
  memset(CurrentParameters.outputName, 0, sizeof CurrentParameters.outputName);
  CurrentParameters.recordLength = 0;
  for (int k = 0; k < kMaxKeys; k++) CurrentParameters.keys[k] = KeyField{0, 0, ' ', ' ', 0};
}

void SetDefaultKeyTitles() {
  for (int k = 0; k < kMaxKeys; k++) CopyText(KeyTitles[k], kKeyTitleSize, kDefaultKeyTitles[k]);
}

int BuildParameterRecord() {
  int result = EnterProgramDirectory();
  memset(&JobRecord, 0, sizeof JobRecord);
  CopyText(JobRecord.inputName, sizeof JobRecord.inputName, CurrentParameters.inputName);
  CopyText(JobRecord.outputName, sizeof JobRecord.outputName, CurrentParameters.outputName);
  JobRecord.recordLength = CurrentParameters.recordLength;
  JobRecord.keyCount = CurrentParameters.keyCount;
  JobRecord.statisticsFlag = CurrentParameters.statisticsFlag;
  for (int k = 0; k < kMaxKeys; k++) {
    JobRecord.keys[k] = CurrentParameters.keys[k];
    CopyText(JobRecord.keyTitles[k], kKeyTitleSize, KeyTitles[k]);
  }
  return result == 0 ? 0 : 1;
}

int SaveUserEntry(StorageOutcome *outcome) {
  ClearOutcome(outcome);
  return StoreUserEntry(outcome);
}

int SaveLastParameters(StorageOutcome *outcome) {
  ClearOutcome(outcome);
  const int userFailed = Preferences.createUserFiles != 0 && StoreUserEntry(outcome) != 0;
  unsigned char record[kParameterRecordSize];
  EncodeParameterRecord(&JobRecord, record);
  if (EnterProgramDirectory() != 0 || WriteSingleEntryFile(kLastParametersFile, record) != 0) {
    Report(outcome, kMessageCannotOpen, kStorageCaptionWarning);
    return 1;
  }
  return userFailed;
}

void ListUserEntries(StorageOutcome *outcome, IdentifierFound found, void *context) {
  ClearOutcome(outcome);
  FindUserEntries(outcome, found, context);
}

int LoadUserEntry(const char *identifier, StorageOutcome *outcome) {
  ClearOutcome(outcome);
  char fileName[kFileNameSize];
  int index;
  if (ParseIdentifier(identifier, fileName, &index) != 0) return 1;
  FILE *file = EnterProgramDirectory() == 0 ? OpenStorageFile(fileName, "rb") : nullptr;
  if (file == nullptr) {
    Report(outcome, fileName, kStorageCaptionCannotOpen);
    return 1;
  }
  // An entry behind the count, cut short or without the magic is corrupted; nothing of
  // it reaches the current parameters.
  unsigned char count[kCountSize];
  unsigned char bytes[kParameterRecordSize];
  ParameterRecord record;
  memset(&record, 0, sizeof record);
  int corrupted = ReadFileAt(file, 0, count, sizeof count) != 0 || index >= GetInt32(count) ||
                  ReadFileAt(file, static_cast<long>(EntryOffset(index)), bytes, sizeof bytes) != 0 ||
                  DecodeParameterRecord(bytes, &record) != 0;
  CloseStorageFile(file);
  if (corrupted) {
    Report(outcome, kMessageCorruptedEntry, kStorageCaptionError);
    return 1;
  }
  TakeParameters(&record);
  return 0;
}

int RemoveUserEntry(const char *identifier, StorageOutcome *outcome, IdentifierFound found, void *context) {
  ClearOutcome(outcome);
  int result = RemoveEntry(identifier, outcome);
  FindUserEntries(outcome, found, context);
  return result;
}

int IsEntryIdentifier(const char *text) {
  char fileName[kFileNameSize];
  int index;
  return ParseIdentifier(text, fileName, &index) == 0;
}

int LoadLastParameters() {
  char path[kSettingsPathSize];
  if (ProgramDirectory[0] == '\0') {
    CopyText(path, sizeof path, kLastParametersFile);
  } else {
    snprintf(path, sizeof path, "%s%c%s", ProgramDirectory, kPathSeparator, kLastParametersFile);
  }
  FILE *file = OpenStorageFile(path, "rb");
  if (file == nullptr) return 1;
  unsigned char bytes[kParameterRecordSize];
  ParameterRecord record;
  memset(&record, 0, sizeof record);
  int restored = Preferences.createUserFiles == 0 && ReadFileAt(file, kCountSize, bytes, sizeof bytes) == 0 &&
                 DecodeParameterRecord(bytes, &record) == 0;
  CloseStorageFile(file);
  if (!restored) return 1;
  TakeParameters(&record);
  ParametersLoaded = 1;
  const char *separator = FindLastSeparator(CurrentParameters.inputName);
  if (Preferences.useLastPath != 0 && separator != nullptr) {
    RememberBrowseFolder(CurrentParameters.inputName, static_cast<size_t>(separator - CurrentParameters.inputName) + 1);
  }
  return 0;
}
