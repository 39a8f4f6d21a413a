// The Preferences dialog's logic: the only editor of the preference record. Its check
// boxes change their switches at once; its three text fields (default browse folder,
// output file name identifier, line delimiter of text records) are checked and taken over
// by Done, which also writes the settings file, ends the dialog and has the Sort dialog
// opened next. The dialog is run with kPreferencesDialogCalls: the dialog procedure only
// hands its messages to these calls; they reach the dialog through windowing/winsys.h
// alone. Call order: PreferencesDialogOpen once, then PreferencesDialogCommand per command
// and PreferencesLabelText per label painting.
#ifndef PELMAR_DIALOGS_PREFERENCES_H
#define PELMAR_DIALOGS_PREFERENCES_H

#include "windowing/winsys.h"

// Places the dialog 4 pixels right of and 22 below the owner's top-left corner, fills the
// fields from the preference record and gives the focus to the dialog.
void PreferencesDialogOpen(WindowHandle dialog, WindowHandle owner);

// A command from control (a check box, or Done, which Escape gives too). Done writes the
// settings with the owner's normal rectangle. Returns 1 when handled, 0 for a command
// this dialog does not handle.
int PreferencesDialogCommand(WindowHandle dialog, WindowHandle owner, int control);

// The Done check, in order: the identifier (its errors are only reported), the default
// browse folder (only while "Use Last Path for Browse" is off), the delimiter. Each
// problem is shown in a message box owned by the dialog. Returns 0 when the delimiter was
// accepted, 1 when it was not (the dialog then stays open). What the first two steps took
// over stays in memory either way; nothing is written here.
int CheckPreferences(WindowHandle dialog);

// The text of an owner-drawn label, or null for a control that is not one of its labels.
const char *PreferencesLabelText(int control);

// The dialog's handlers: PreferencesDialogOpen, PreferencesDialogCommand (every command a
// click), PreferencesLabelText.
extern const DialogCalls kPreferencesDialogCalls;

#endif
