#include "storage/settings.h"

#include <cstdio>
#include <cstring>

#include "os/directory.h"
#include "os/platform.h"
#include "engine/scanner.h"
#include "storage/storagefile.h"

static const unsigned char kMagic[4] = {'p', 'l', 'm', 0};
static const char kSettingsFileName[] = "Pelmar.ini";

PreferenceRecord Preferences;
char ProgramDirectory[kNameSize];
char SettingsPath[kSettingsPathSize];
char BrowseDirectory[kNameSize] = "C:\\";
char WorkingOfni[kOfniSize] = "Srt";
int SettingsChanged = 0;

// Copies a text into a stored slot: at most slotSize bytes of it, zeros behind.
static void PutSlot(unsigned char *slot, size_t slotSize, const char *text, size_t maxLength) {
  size_t length = strnlen(text, maxLength);
  memcpy(slot, text, length);
  memset(slot + length, 0, slotSize - length);
}

// Copies a stored slot into a text: at most maxLength characters, up to the first NUL.
static void GetSlot(char *text, size_t capacity, const unsigned char *slot, size_t maxLength) {
  size_t length = strnlen(reinterpret_cast<const char *>(slot), maxLength);
  memcpy(text, slot, length);
  memset(text + length, 0, capacity - length);
}

void SetDefaultPreferences(PreferenceRecord *record) {
  memset(record, 0, sizeof *record);
  CopyText(record->defaultBrowseDirectory, sizeof record->defaultBrowseDirectory, kInitialBrowseDirectory);
  CopyText(record->ofni, sizeof record->ofni, kInitialOfni);
}

void EncodePreferenceRecord(const PreferenceRecord *record, unsigned char bytes[kPreferenceRecordSize]) {
  memcpy(bytes + kPrefMagicOffset, kMagic, 4);
  PutSlot(bytes + kPrefBrowseOffset, kPrefBrowseSlot, record->defaultBrowseDirectory, kPrefBrowseSlot - 1);
  PutSlot(bytes + kPrefOfniOffset, kPrefOfniSlot, record->ofni, kPrefOfniSlot);
  PutInt32(bytes + kPrefGoToSortOffset, record->goToSortDialog);
  PutInt32(bytes + kPrefUserFilesOffset, record->createUserFiles);
  PutInt32(bytes + kPrefStayOffset, record->stayInSortDialog);
  PutInt32(bytes + kPrefWindowTopOffset, record->windowTop);
  PutInt32(bytes + kPrefWindowBottomOffset, record->windowBottom);
  PutInt32(bytes + kPrefWindowLeftOffset, record->windowLeft);
  PutInt32(bytes + kPrefWindowRightOffset, record->windowRight);
  PutInt32(bytes + kPrefLastPathOffset, record->useLastPath);
  PutInt32(bytes + kPrefDelimiterOffset, record->delimiter);
  PutInt32(bytes + kPrefKeyTitlingOffset, record->enableKeyTitling);
}

int DecodePreferenceRecord(const unsigned char bytes[kPreferenceRecordSize], PreferenceRecord *record) {
  if (memcmp(bytes + kPrefMagicOffset, kMagic, 4) != 0) return 1;
  GetSlot(record->defaultBrowseDirectory, sizeof record->defaultBrowseDirectory, bytes + kPrefBrowseOffset,
          kPrefBrowseSlot - 1);
  GetSlot(record->ofni, sizeof record->ofni, bytes + kPrefOfniOffset, kPrefOfniSlot);
  record->goToSortDialog = GetInt32(bytes + kPrefGoToSortOffset);
  record->createUserFiles = GetInt32(bytes + kPrefUserFilesOffset);
  record->stayInSortDialog = GetInt32(bytes + kPrefStayOffset);
  record->windowTop = GetInt32(bytes + kPrefWindowTopOffset);
  record->windowBottom = GetInt32(bytes + kPrefWindowBottomOffset);
  record->windowLeft = GetInt32(bytes + kPrefWindowLeftOffset);
  record->windowRight = GetInt32(bytes + kPrefWindowRightOffset);
  record->useLastPath = GetInt32(bytes + kPrefLastPathOffset);
  record->delimiter = GetInt32(bytes + kPrefDelimiterOffset);
  record->enableKeyTitling = GetInt32(bytes + kPrefKeyTitlingOffset);
  return 0;
}

void LoadSettings() {
  CopyText(BrowseDirectory, sizeof BrowseDirectory, kInitialBrowseDirectory);
  CopyText(WorkingOfni, sizeof WorkingOfni, kInitialOfni);
  SettingsChanged = 0;

  if (GetWorkingDirectory(ProgramDirectory, sizeof ProgramDirectory) != 0) ProgramDirectory[0] = '\0';
  if (ProgramDirectory[0] == '\0') {
    CopyText(SettingsPath, sizeof SettingsPath, kSettingsFileName);
  } else {
    snprintf(SettingsPath, sizeof SettingsPath, "%s%c%s", ProgramDirectory, kPathSeparator, kSettingsFileName);
  }

  // The file's bytes go over the encoded defaults, so a short file keeps the defaults
  // for the fields it lacks; its own bytes must hold the magic.
  PreferenceRecord defaults;
  SetDefaultPreferences(&defaults);
  unsigned char bytes[kPreferenceRecordSize];
  EncodePreferenceRecord(&defaults, bytes);
  size_t got = 0;
  FILE *file = OpenStorageFile(SettingsPath, "rb");
  if (file != nullptr) {
    got = FileOperationFails(kFileRead) ? 0 : fread(bytes, 1, sizeof bytes, file);
    CloseStorageFile(file);
  }
  Preferences = defaults;
  if (got >= 4 && DecodePreferenceRecord(bytes, &Preferences) == 0) {
    CopyText(WorkingOfni, sizeof WorkingOfni, Preferences.ofni);
    if (Preferences.useLastPath == 0) {
      CopyText(BrowseDirectory, sizeof BrowseDirectory, Preferences.defaultBrowseDirectory);
    } else {
      CopyText(Preferences.defaultBrowseDirectory, sizeof Preferences.defaultBrowseDirectory, BrowseDirectory);
    }
  } else {
    Preferences = defaults;
  }

  // A delimiter the scanner does not know falls back to CR LF; the record keeps the
  // stored value, so the file is not changed behind the user's back.
  int delimiter = Preferences.delimiter;
  DelimiterMode = delimiter == kDelimiterCr || delimiter == kDelimiterLf ? delimiter : kDelimiterBoth;
}

int WriteSettings(WindowPlace place) {
  Preferences.windowTop = place.top;
  Preferences.windowBottom = place.bottom;
  Preferences.windowLeft = place.left;
  Preferences.windowRight = place.right;
  return WriteSettingsRecord();
}

int WriteSettingsRecord() {
  unsigned char bytes[kPreferenceRecordSize];
  EncodePreferenceRecord(&Preferences, bytes);
  FilePatch whole = {0, bytes, sizeof bytes};
  return RewriteFile(SettingsPath, 0, &whole, 1);
}

void RememberBrowseFolder(const char *folder, size_t length) {
  char text[kNameSize];
  length = strnlen(folder, length < sizeof text ? length : sizeof text - 1);
  memcpy(text, folder, length);
  text[length] = '\0';
  CopyText(BrowseDirectory, sizeof BrowseDirectory, text);
  CopyText(Preferences.defaultBrowseDirectory, sizeof Preferences.defaultBrowseDirectory, text);
  SettingsChanged = 1;
}
