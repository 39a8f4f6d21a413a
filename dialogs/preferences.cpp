#include "dialogs/preferences.h"

#include <cstring>

#include "engine/scanner.h"
#include "engine/sorttypes.h"
#include "resources/resource.h"
#include "dialogs/dialoggestures.h"
#include "dialogs/validation.h"
#include "storage/settings.h"

static const char kOfniTooLong[] = "O F N I > 4 Characters!";
static const char kOfniInvalid[] = "Invalid Characters in O F N I!";
static const char kDelimiterInvalid[] = "Invalid Entry in\nVariable Length Record Delimeter Field!";

constexpr size_t kOfniReadSize = 6;       // the identifier field: its first 5 characters
constexpr size_t kBrowseReadSize = 160;   // the browse folder field: its first 159 characters
constexpr size_t kShortestBrowseFolder = 3;  // shorter folders ("D:") are ignored
constexpr size_t kDelimiterReadSize = 12;    // the delimiter field: its first 11 characters

// The delimiter texts the field shows, by the record's value.
static const char *const kDelimiterTexts[] = {"both cr/lf", "cr only", "lf only"};

// A check box and the switch of the preference record it sets.
struct SwitchBox {
  int control;
  int32_t PreferenceRecord::*field;
};
static const SwitchBox kSwitchBoxes[] = {
    {IDC_PREF_GO_TO_SORT, &PreferenceRecord::goToSortDialog},
    {IDC_PREF_USER_FILES, &PreferenceRecord::createUserFiles},
    {IDC_PREF_STAY, &PreferenceRecord::stayInSortDialog},
    {IDC_PREF_LAST_PATH, &PreferenceRecord::useLastPath},
    {IDC_PREF_KEY_TITLING, &PreferenceRecord::enableKeyTitling},
};

static const LabelText kLabels[] = {
    {IDC_PREF_HEADING, "  Preference Settings "},
    {IDC_PREF_BROWSE_LABEL, " Default Browse Directory:"},
    {IDC_PREF_LAST_PATH_LABEL, " Use Last Path for Browse:"},
    {IDC_PREF_OFNI_LABEL, " Output File Name Identifier:"},
    {IDC_PREF_GO_TO_SORT_LABEL, " Go to Sort Dialog on Startup:"},
    {IDC_PREF_KEY_TITLING_LABEL, " Enable Key Titling:"},
    {IDC_PREF_USER_FILES_LABEL, " Create User .spt Files:"},
    {IDC_PREF_STAY_LABEL, " Stay in Sort Dialog After Sort:"},
    {IDC_PREF_DELIMITER_LABEL, " Variable Record Delimiter:"},
};

static bool OfniCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_' ||
         c == '~';
}

// The identifier: an empty field leaves it as it is; a wrong one is reported, not taken.
static void CheckOfni(WindowHandle dialog) {
  char text[kOfniReadSize];
  ReadFieldText(dialog, IDC_PREF_OFNI, text, sizeof text);
  const size_t length = TrimBlanks(text);
  if (length == 0) return;
  bool valid = true;
  if (length > kOfniSize - 1) {
    ShowMessage(dialog, kOfniTooLong, kCaptionError);
    valid = false;
  }
  for (size_t i = 0; i < length; i++) {
    if (!OfniCharacter(text[i])) {
      ShowMessage(dialog, kOfniInvalid, kCaptionError);
      valid = false;
      break;
    }
  }
  if (!valid) return;
  CopyText(Preferences.ofni, sizeof Preferences.ofni, text);
  CopyText(WorkingOfni, sizeof WorkingOfni, text);
}

// The default browse folder, as typed; only while the last path does not decide it.
static void CheckBrowseFolder(WindowHandle dialog) {
  if (Preferences.useLastPath != 0) return;
  char text[kBrowseReadSize];
  if (ReadFieldText(dialog, IDC_PREF_BROWSE_DIR, text, sizeof text) < kShortestBrowseFolder) return;
  CopyText(Preferences.defaultBrowseDirectory, sizeof Preferences.defaultBrowseDirectory, text);
  CopyText(BrowseDirectory, sizeof BrowseDirectory, text);
}

// The delimiter, by the start of its text in any letter case. Returns 0 when accepted.
static int CheckDelimiter(WindowHandle dialog) {
  char text[kDelimiterReadSize];
  ReadFieldText(dialog, IDC_PREF_DELIMITER, text, sizeof text);
  TrimBlanks(text);
  for (char *c = text; *c != '\0'; c++) {
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  int delimiter = -1;
  if (strncmp(text, "bo", 2) == 0) delimiter = kDelimiterBoth;
  if (strncmp(text, "cr", 2) == 0) delimiter = kDelimiterCr;
  if (strncmp(text, "lf", 2) == 0) delimiter = kDelimiterLf;
  if (delimiter < 0) {
    ShowMessage(dialog, kDelimiterInvalid, kCaptionError);
    return 1;
  }
  Preferences.delimiter = delimiter;
  return 0;
}

void PreferencesDialogOpen(WindowHandle dialog, WindowHandle owner) {
  PlaceBesideOwner(dialog, owner);
  WriteFieldText(dialog, IDC_PREF_BROWSE_DIR, Preferences.defaultBrowseDirectory);
  WriteFieldText(dialog, IDC_PREF_OFNI, Preferences.ofni);
  for (const SwitchBox &box : kSwitchBoxes) {
    if (Preferences.*box.field == 1) WriteCheckBox(dialog, box.control, 1);
  }
  // A stored delimiter the scanner does not know shows as the one it uses instead.
  const int delimiter = Preferences.delimiter == kDelimiterCr || Preferences.delimiter == kDelimiterLf
                            ? Preferences.delimiter
                            : kDelimiterBoth;
  WriteFieldText(dialog, IDC_PREF_DELIMITER, kDelimiterTexts[delimiter]);
  FocusWindow(dialog);
}

int CheckPreferences(WindowHandle dialog) {
  CheckOfni(dialog);
  CheckBrowseFolder(dialog);
  return CheckDelimiter(dialog);
}

int PreferencesDialogCommand(WindowHandle dialog, WindowHandle owner, int control) {
  for (const SwitchBox &box : kSwitchBoxes) {
    if (box.control == control) {
      Preferences.*box.field = ReadCheckBox(dialog, control);
      return 1;
    }
  }
  if (control != IDC_PREF_DONE) return 0;
  if (CheckPreferences(dialog) != 0) return 1;
  ScreenRect rect;
  GetNormalWindowRectangle(owner, &rect);
  WriteSettings(WindowPlace{rect.left, rect.top, rect.right, rect.bottom});
  SettingsChanged = 0;
  EndModalDialog(dialog, 0);
  PostCommand(owner, IDM_SORT_DIALOG);
  return 1;
}

const char *PreferencesLabelText(int control) {
  return FindLabelText(kLabels, sizeof kLabels / sizeof kLabels[0], control);
}

// The dialog procedure's command carries a notification code: every command of this
// dialog is a click.
static int PreferencesCommand(WindowHandle dialog, WindowHandle owner, int control, int) {
  return PreferencesDialogCommand(dialog, owner, control);
}

const DialogCalls kPreferencesDialogCalls = {PreferencesDialogOpen, PreferencesCommand, PreferencesLabelText};
