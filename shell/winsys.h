// The window-system and file-system operations that the program's logic calls, and what
// each caller relies on. One implementation is linked per executable: the Win32 one in
// the Windows program, a small POSIX one in the native command-line runner, and a
// recording fake in the tests. This header includes nothing of ours.
#ifndef PELMAR_SHELL_WINSYS_H
#define PELMAR_SHELL_WINSYS_H

#include <cstddef>
#include <cstdint>

// A window or dialog; null names no window. Controls are named by their identifiers in
// resources/resource.h together with the dialog that holds them.
typedef void *WindowHandle;

// A window's outer rectangle in screen coordinates, pixels.
struct ScreenRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Buttons of a message box, and the answers.
constexpr int kButtonsOk = 0;        // OK only
constexpr int kButtonsOkCancel = 1;  // OK and Cancel
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;

// Message box: shows text under caption, modal to owner, and returns when the user has
// answered: kAnswerOk, or kAnswerCancel (only with kButtonsOkCancel).
int ShowMessageBox(WindowHandle owner, const char *text, const char *caption, int buttons);

// List box control of a dialog. Items are kept in alphabetical order whatever order they
// are added in. GetListSelection gives the selected item's text, cut to capacity - 1
// characters and always terminated; the text is empty when nothing is selected.
void AddListItem(WindowHandle dialog, int control, const char *text);
void ResetList(WindowHandle dialog, int control);
void GetListSelection(WindowHandle dialog, int control, char *text, size_t capacity);
void ClearListSelection(WindowHandle dialog, int control);  // no item selected afterwards

// Moves the keyboard focus to a control of a dialog.
void FocusControl(WindowHandle dialog, int control);

// The process's current directory, at most 255 characters. GetWorkingDirectory returns 0,
// or 1 when the directory cannot be read or is longer (path is empty then).
// SetWorkingDirectory returns 0, or 1 when the directory cannot be entered (unchanged then).
int GetWorkingDirectory(char *path, size_t capacity);
int SetWorkingDirectory(const char *path);

// Directory search for parameter files: the regular files of the current directory whose
// names end in ".spt", in whatever order the system gives them. BeginSptSearch returns
// null when the directory cannot be read. NextSptFile returns 1 with the next name, or 0
// when the search is exhausted; a name that does not fit in capacity is passed over.
// Every search that began is ended with EndSptSearch.
typedef void *SptSearch;
SptSearch BeginSptSearch();
int NextSptFile(SptSearch search, char *name, size_t capacity);
void EndSptSearch(SptSearch search);

// Puts the file temporary in the place of target, replacing target if it exists, in one
// step: afterwards target holds either its old content or the whole new one. Both name
// files in the same directory. Returns 0, or 1 when nothing was replaced.
int MoveFileOver(const char *temporary, const char *target);

// The outer rectangle of a top-level window in screen coordinates; all zero when there
// is no such window.
void GetWindowRectangle(WindowHandle window, ScreenRect *rect);

#endif
