// The program-wide settings state and the operations on it alone. Kept apart from the
// file operations so that code which only reads or writes the state links without the
// window-system layer.
#include <cstring>

#include "storage/settings.h"

PreferenceRecord Preferences;
char ProgramDirectory[kNameSize];
char SettingsPath[kSettingsPathSize];
char BrowseDirectory[kNameSize] = "C:\\";
char WorkingOfni[kOfniSize] = "Srt";
int SettingsChanged = 0;

void SetDefaultPreferences(PreferenceRecord *record) {
  memset(record, 0, sizeof *record);
  CopyText(record->defaultBrowseDirectory, sizeof record->defaultBrowseDirectory, kInitialBrowseDirectory);
  CopyText(record->ofni, sizeof record->ofni, kInitialOfni);
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
