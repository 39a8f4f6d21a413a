// The Sort dialog's portable logic: the current parameters shown in the fields and read
// back, the saved-parameters list kept from what storage reports, saved entries loaded
// and removed, and the SORT and Validate action, which pelmar-sort shares. Every call
// names the dialog; its controls are reached only through the window-system operations
// (windowing/winsys.h), so the same logic runs over Win32, the tests' fake and pelmar-sort's
// plain-text dialog.
//
// SORT and Validate: ValidateParameters (validation.h) with the dialog; on result 1 the
// whole ErrorText is shown captioned "  * * ERROR * *"; otherwise RunSortAction.
#ifndef PELMAR_DIALOGS_SORTDIALOG_H
#define PELMAR_DIALOGS_SORTDIALOG_H

#include "engine/runoptions.h"
#include "windowing/winsys.h"
#include "storage/parameterfiles.h"

extern const char kMessageSortDone[];  // "Sort Is Done!", the message of a successful sort
extern const char kCaptionStatus[];    // "Status", the caption of the dialog's notices

// Writes CurrentParameters into the fields: the names; the record size as a number, as
// "variable" for -1, empty for 0 (any other value leaves the field as it is); the
// statistics box checked when the flag is 1 (never unchecked here); each key's position
// and length as numbers or empty when 0, its type and sequence letters as one-character
// texts or empty when blank.
void FillDialogFields(WindowHandle dialog);

// Reads the fields back into CurrentParameters without checking them, when the dialog is
// left: names, record size ("var" up to "variable" give -1, else the field number), each
// key's position, length and letters as typed, the statistics box; sets ParametersLoaded.
// The key count and validation's variable-length flag are not touched.
void CaptureDialogFields(WindowHandle dialog);

// Shows storage's messages in order, each with OK only, owned by dialog.
void ShowStorageMessages(WindowHandle dialog, const StorageOutcome *outcome);

// The dialog opening with user parameter files on: shows the saved list, its label and
// the Remove button, and fills the list with every saved entry (focused).
void ShowSavedEntries(WindowHandle dialog);

// Makes the saved entry named by identifier the current parameters and shows them: the
// fields filled, the six key labels repainted, the focus on the saved list. Returns 0, or
// 1 when storage refused (its message shown; nothing changed).
int LoadSavedEntry(WindowHandle dialog, const char *identifier);

// The saved list's selection changed: LoadSavedEntry with the selected identifier.
void LoadSelectedEntry(WindowHandle dialog);

// The Remove command: refuses an empty selection and "spt_a", asks, and on OK removes
// the entry, refills the list and says "Identifiers have been Resequenced!"; a removal
// that failed shows only storage's messages. The current parameters and the fields stay
// as they are.
void RemoveSelectedEntry(WindowHandle dialog);

// 1 when RunSortAction's last save could not store the set everywhere it was to go (the
// reasons were shown); 0 after a save that stored it, and before any.
extern int ParametersSaveFailed;

// How RunSortAction differs between its callers: the Sort dialog's (sortdialogevents.cpp)
// and pelmar-sort's.
struct SortActionOptions {
  int saveParameters;         // 1: save the set (fixed-length before the sort and for
                              // Validate, variable-length after a successful sort); 0: never
  const char *bareNameFolder; // StatisticsDirectory for an input name without a separator
  const RunOptions *run;      // how the sort runs (threads, memory, run files, progress); null: every default
  void (*sortStarts)();       // called right before the sort runs; may be null
  // Shows the sort's result (SortRun's, its messages in the ErrorText, and its outcome).
  void (*showResult)(WindowHandle dialog, int result, const RunOutcome *outcome);
};

// The sort's result in a message box: the ErrorText captioned "  * * ERROR * *" after a
// failed sort, else "Sort Is Done!" captioned "Status".
void ShowSortResult(WindowHandle dialog, int result);

// After a passed validation: builds the parameter record, saves a fixed-length set, and
// then either says "Sort Parameters are Valid" (validateOnly 1) or sorts: the statistics
// folder is taken from the input name, the ErrorText emptied, SortRun run and its result
// shown; a variable-length set is saved only after a successful sort. Storage's messages
// are shown where they arise. Returns 1 when the dialog stays open because of it
// (validateOnly, or a failed sort), 0 after a successful sort.
int RunSortAction(WindowHandle dialog, int validateOnly, const SortActionOptions *options);

// ---- The dialog's events: opening, label painting, commands ----
// The dialog procedure hands each event to one of these; they reach the dialog only
// through windowing/winsys.h. The dialog is run modally from template 1, owned by the main
// window (the owner given at opening), with kSortDialogCalls.

constexpr int kBrowsePathSize = 260;  // the open-file dialog's room: a path of 259 characters

// Opening: the dialog placed 4 pixels right of and 22 below the owner's top-left corner,
// the owner minimised without activation, the title editor closed; with "Create User .spt
// Files" on the saved list (fields empty), otherwise the fields filled when parameters
// are loaded; the focus on the dialog.
void SortDialogOpen(WindowHandle dialog, WindowHandle owner);

// The text of an owner-drawn label (the key rows show the current key titles; the saved
// list's label only while user files are on), or null for one that is not painted.
const char *SortDialogLabelText(int control);

// A command from control with its notification code (kNotifyClicked, or
// kNotifySelectionChanged from the saved list). Returns 1 when handled, 0 when the
// command is left to the window system.
int SortDialogCommand(WindowHandle dialog, int control, int code);

// The open-file dialog for the input file, owned by owner (the Sort dialog, which takes
// no input meanwhile), starting in the browse directory. Returns 1 when a file was chosen (BrowsedInput set, the input name its full
// path, cut to the name's slot; the whole path, up to 259 characters, kept for the output
// name), 0 when cancelled (BrowsedInput cleared). With "Use Last Path for Browse" on, a
// new folder becomes the default browse directory, to be written at exit.
int BrowseInputFile(WindowHandle owner);

// The caption shown while a sort goes on: the program's title, the phase and how much of
// it is done, e.g. "      Pelmar v1.0 - Sorting: merging groups 45%".
void FormatSortProgress(int phase, uint64_t done, uint64_t total, char *text, size_t capacity);

// The dialog's handlers: SortDialogOpen, SortDialogCommand, SortDialogLabelText.
extern const DialogCalls kSortDialogCalls;

#endif
