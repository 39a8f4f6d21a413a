// The Sort dialog's events: opening, label texts and commands (Browse, key titles, SORT
// and Validate, Remove, Help, Return to Main), and the progress of a long sort.
#include <cstdio>
#include <cstring>

#include "engine/errortext.h"
#include "engine/progressthrottle.h"
#include "engine/sortrun.h"
#include "engine/sorttypes.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "dialogs/dialoggestures.h"
#include "dialogs/sortdialog.h"
#include "dialogs/validation.h"
#include "os/directory.h"
#include "storage/settings.h"

static const char kCaptionHelp[] = "  Quick Help Information";
static const char kCaptionStatistics[] = "Enable Sort Statistics Info";
static const char kMessageBadInputName[] = "Bad Input File Name";
static const char kMessageHelp[] =
    "Enter Required Fields\n  Input/Output File names, Record Length and Key 1:\n  Click on Sort Button.\n\n"
    "Input File:\n  Use Browse to find your File.\nOutput File:\n  Browse will make a default File Name.\n"
    "  Make any wanted changes.\n  Input and Output File Names cannot be the same!\n\n"
    "Record Size: Must be number from 1 to 4096.\n\n"
    "POSITION: Beginning Position of the Sort Field.\nLENGTH: Length in Bytes of the Field to Sort.\n"
    "Sort TYPES:\n  c = Character.\n  a = ASCII.\n  i = Interger Signed.\n  u = Interger Unsigned.\n"
    "  f = Floating Point.\n  Default is `c` (Character).\n\n"
    "SEQUENCE:\n  `a` = Ascending, `d` = Descending; Default is Ascending\n\n"
    "Key fields MUST be sequential.\n  You cannot enter `KEY 1:`,  Skip `Key 2:`,  then enter `Key 3`";
static const char kMessageStatistics[] =
    "If Checked, a File called `SortStat.txt` is Created\n  with Statistics on Memory Usage,\n"
    "  Run Time, Sort/Merge Compares, etc.";

// The open-file dialog's offer.
static const char kBrowseFilters[] =
    "All Files (*.*)\0*.*\0Text Files (*.txt)\0*.txt\0Doc Files (*.doc)\0*.doc\0";
static const char kBrowseTitle[] = "  Retrieve File Name";
static const char kBrowseExtension[] = "*";

constexpr size_t kOutputPathSize = kBrowsePathSize + kOfniSize;  // a browsed name with the OFNI
constexpr size_t kTitleReadSize = kKeyTitleMaxLength + 1;        // the title editor: 25 characters
constexpr size_t kCaptionSize = 128;

static const LabelText kLabels[] = {
    {IDC_INPUT_LABEL, "  Input File Name: "},
    {IDC_OUTPUT_LABEL, " Output File Name: "},
    {IDC_RECORD_SIZE_LABEL, "  Record Size: "},
    {IDC_KEY_HEADING, "  Position    Length    Type  Seq.  "},
};
static const char kSavedLabel[] = " Saved Sort Parameters ";

static WindowHandle Owner;         // the main window, the Sort dialog's owner
static char BrowsedPath[kBrowsePathSize];  // the whole path the last Browse chose
static int ValidateOnly;           // 1 while a Validate command runs
static int TitleEditorOpen;        // 1: the title editor is shown for TitleEditorKey
static int TitleEditorKey;         // 0 to 5
static int LastClickedLabel;       // the key label clicked last, 0 to 5

// The sort now running, for its progress.
static WindowHandle SortingDialog;
static ProgressThrottle CaptionShown;  // what its caption shows of the progress

static void RepaintKeyLabels(WindowHandle dialog) {
  for (int k = 0; k < kMaxKeys; k++) RepaintControl(dialog, IDC_KEY_TITLE_LABEL(k));
}

// Every way out: the fields kept for the next opening, the main window back.
static void ReturnToMain(WindowHandle dialog) {
  CaptureDialogFields(dialog);
  TitleEditorOpen = 0;
  EndModalDialog(dialog, 0);
  RestoreWindow(Owner);
}

// The default output name: the input name with the OFNI before its only '.'. Returns 1
// when the name has no '.' or several (the output then stays empty).
static int MakeOutputName(const char *input, char *output, size_t capacity) {
  output[0] = '\0';
  const char *dot = strchr(input, '.');
  if (dot == nullptr || strchr(dot + 1, '.') != nullptr) return 1;
  snprintf(output, capacity, "%.*s%s%s", static_cast<int>(dot - input), input, WorkingOfni, dot);
  return 0;
}

static void Browse(WindowHandle dialog) {
  ClearParameters();
  // The open-file dialog is the Sort dialog's own: nothing behind it takes input.
  if (BrowseInputFile(dialog) == 0) {
    FillDialogFields(dialog);
    FocusWindow(dialog);
    return;
  }
  char output[kOutputPathSize] = "";
  if (BrowsedPath[0] != '\0') {
    memset(CurrentParameters.outputName, 0, sizeof CurrentParameters.outputName);
    if (MakeOutputName(BrowsedPath, output, sizeof output) != 0) {
      ShowMessage(dialog, kMessageBadInputName, kCaptionError);
    }
    CopyText(CurrentParameters.outputName, sizeof CurrentParameters.outputName, output);
  }
  ClearListSelection(dialog, IDC_SAVED_LIST);
  SetDefaultKeyTitles();
  RepaintKeyLabels(dialog);
  FillDialogFields(dialog);
  // The fields show the names whole; validation reads them bounded and refuses names
  // over 250 characters, so a long path is shown, never cut silently and then sorted.
  WriteFieldText(dialog, IDC_INPUT_NAME, BrowsedPath);
  WriteFieldText(dialog, IDC_OUTPUT_NAME, output);
  FocusControl(dialog, IDC_RECORD_SIZE);
}

// A click on the label of key k: opens the title editor, or closes it storing its text.
static void EditKeyTitle(WindowHandle dialog, int k) {
  LastClickedLabel = k;
  if (Preferences.enableKeyTitling != 1) return;
  if (!TitleEditorOpen) {
    TitleEditorOpen = 1;
    TitleEditorKey = k;
    WriteFieldText(dialog, IDC_TITLE_EDITOR, KeyTitles[k]);
    ShowControl(dialog, IDC_TITLE_EDITOR, 1);
    FocusControl(dialog, IDC_TITLE_EDITOR);
    return;
  }
  const int j = TitleEditorKey;
  char title[kTitleReadSize];
  if (ReadFieldText(dialog, IDC_TITLE_EDITOR, title, sizeof title) > 0) {
    CopyText(KeyTitles[j], sizeof KeyTitles[j], title);  // the whole slot, zero behind the text
    WriteFieldText(dialog, IDC_TITLE_EDITOR, "");
    RepaintControl(dialog, IDC_KEY_TITLE_LABEL(j));
  }
  TitleEditorOpen = 0;
  ShowControl(dialog, IDC_TITLE_EDITOR, 0);
  FocusControl(dialog, IDC_KEY_POSITION(j));
}

// Once the sort is no longer short, every report lets the windows paint; the caption is
// redrawn only when it changes.
static void ShowSortProgress(int phase, uint64_t done, uint64_t total) {
  const int shown = ThrottleProgress(&CaptionShown, phase, done, total);
  if (shown == kProgressHidden) return;
  if (shown == kProgressChanged) {
    char caption[kCaptionSize];
    FormatSortProgress(phase, done, total, caption, sizeof caption);
    WriteWindowTitle(SortingDialog, caption);
  }
  PaintWaitingWindows(SortingDialog);
}

static void SortStarts() { StartProgressThrottle(&CaptionShown); }

// The sort has ended: the dialog's own caption back, then the result.
static void SortEnds(WindowHandle dialog, int result, const RunOutcome *) {
  if (CaptionShown.shownPhase >= 0) WriteWindowTitle(dialog, PELMAR_SORT_DIALOG_CAPTION);
  CaptionShown.shownPhase = -1;
  ShowSortResult(dialog, result);
}

// The dialog's sorts: the default threads, memory and run-file folder; progress in the caption.
static const RunOptions kSortDialogRun = {0, 0, "", ShowSortProgress, {0, kFieldsNone, 0}, {nullptr, 0, 0, kRunSort, 0, kLineEndCrLf}};
static const SortActionOptions kSortDialogAction = {1, "", &kSortDialogRun, SortStarts, SortEnds};

// SORT (validateOnly 0) and Validate (1).
static void SortOrValidate(WindowHandle dialog, int validateOnly) {
  ValidateOnly = validateOnly;
  if (ValidateParameters(dialog) != 0) {
    ShowMessage(dialog, ErrorText, kCaptionError);
    ValidateOnly = 0;
    return;
  }
  SortingDialog = dialog;
  const int stay = RunSortAction(dialog, ValidateOnly, &kSortDialogAction);
  ValidateOnly = 0;
  FocusWindow(dialog);
  if (stay != 0 || Preferences.stayInSortDialog == 1) return;
  ReturnToMain(dialog);
}

void SortDialogOpen(WindowHandle dialog, WindowHandle owner) {
  Owner = owner;
  PlaceBesideOwner(dialog, owner);
  MinimizeWindow(owner);
  TitleEditorOpen = 0;
  if (Preferences.createUserFiles == 1) {
    ShowSavedEntries(dialog);
  } else if (ParametersLoaded) {
    FillDialogFields(dialog);
  }
  FocusWindow(dialog);
}

const char *SortDialogLabelText(int control) {
  const char *text = FindLabelText(kLabels, sizeof kLabels / sizeof kLabels[0], control);
  if (text != nullptr) return text;
  if (control >= IDC_KEY_TITLE_LABEL(0) && control <= IDC_KEY_TITLE_LABEL(kMaxKeys - 1)) {
    return KeyTitles[control - IDC_KEY_TITLE_LABEL(0)];
  }
  if (control == IDC_SAVED_LABEL && Preferences.createUserFiles == 1) return kSavedLabel;
  return nullptr;
}

int SortDialogCommand(WindowHandle dialog, int control, int code) {
  if (control == IDC_SAVED_LIST) {
    if (code != kNotifySelectionChanged) return 0;
    LoadSelectedEntry(dialog);
    return 1;
  }
  if (code != kNotifyClicked) return 0;
  if (control >= IDC_KEY_TITLE_LABEL(0) && control <= IDC_KEY_TITLE_LABEL(kMaxKeys - 1)) {
    EditKeyTitle(dialog, control - IDC_KEY_TITLE_LABEL(0));
    return 1;
  }
  switch (control) {
    case IDC_HELP_BUTTON:
      ShowMessage(dialog, kMessageHelp, kCaptionHelp);
      return 1;
    case IDC_BROWSE:
      Browse(dialog);
      return 1;
    case IDC_STATISTICS:
      return 1;  // the box checks and unchecks itself
    case IDC_STATISTICS_CAPTION:
      ShowMessage(dialog, kMessageStatistics, kCaptionStatistics);
      return 1;
    case IDC_VALIDATE:
      SortOrValidate(dialog, 1);
      return 1;
    case IDC_SORT:
      SortOrValidate(dialog, 0);
      return 1;
    case IDC_RETURN_TO_MAIN:
      ReturnToMain(dialog);
      return 1;
    case IDC_REMOVE_ENTRY:
      RemoveSelectedEntry(dialog);
      return 1;
    default:
      return 0;
  }
}

int BrowseInputFile(WindowHandle owner) {
  BrowsedInput = 0;
  BrowsedPath[0] = '\0';
  const OpenFileRequest request = {kBrowseFilters, BrowseDirectory, kBrowseTitle, kBrowseExtension};
  char path[kBrowsePathSize];
  if (ChooseOpenFile(owner, &request, path, sizeof path) == 0) return 0;
  memset(CurrentParameters.inputName, 0, sizeof CurrentParameters.inputName);
  char folder[kNameSize];
  if (GetWorkingDirectory(folder, sizeof folder) != 0) folder[0] = '\0';
  if (Preferences.useLastPath == 1 && folder[0] != '\0' &&
      strcmp(Preferences.defaultBrowseDirectory, folder) != 0) {
    RememberBrowseFolder(folder, strlen(folder));
  }
  CopyText(BrowsedPath, sizeof BrowsedPath, path);
  CopyText(CurrentParameters.inputName, sizeof CurrentParameters.inputName, path);
  BrowsedInput = 1;
  return 1;
}

void FormatSortProgress(int phase, uint64_t done, uint64_t total, char *text, size_t capacity) {
  const PhaseNames *names = FindPhaseNames(phase);
  snprintf(text, capacity, "%s - Sorting: %s %d%%", PELMAR_WINDOW_TITLE, names == nullptr ? "working" : names->caption,
           ProgressPercent(done, total));
}

// The dialog procedure gives the owner with every command; the dialog keeps the one it
// was opened by.
static int SortCommand(WindowHandle dialog, WindowHandle, int control, int code) {
  return SortDialogCommand(dialog, control, code);
}

const DialogCalls kSortDialogCalls = {SortDialogOpen, SortCommand, SortDialogLabelText};
