// The window-system operations that the program's logic calls, and what each caller
// relies on. This is the one door between the portable logic (the dialogs' logic, the
// main window's logic) and the window system: a dialog is a window
// handle and its controls are named by their identifiers (resources/resource.h).
//
// One implementation of the dialog operations is linked per executable: the Win32 one
// in the Windows program, a plain-text one in pelmar-sort (an in-memory dialog whose
// message boxes go to the terminal), and a recording fake in the tests. The door never
// names the program: a modal dialog is run with the handlers it is handed (DialogCalls).
// This header includes nothing of ours.
#ifndef PELMAR_WINDOWING_WINSYS_H
#define PELMAR_WINDOWING_WINSYS_H

#include <cstddef>
#include <cstdint>

// A window or dialog (on Win32 an HWND); null names no window.
typedef void *WindowHandle;

// A window's outer rectangle in screen coordinates, pixels.
struct ScreenRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// ---- Message box ----

// Buttons of a message box, and the answers.
constexpr int kButtonsOk = 0;        // OK only
constexpr int kButtonsOkCancel = 1;  // OK and Cancel
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;

// Shows text under caption, modal to owner, and returns when the user has answered:
// kAnswerOk, or kAnswerCancel (only with kButtonsOkCancel).
int ShowMessageBox(WindowHandle owner, const char *text, const char *caption, int buttons);

// The message box of every notice and error: OK only.
inline void ShowMessage(WindowHandle owner, const char *text, const char *caption) {
  ShowMessageBox(owner, text, caption, kButtonsOk);
}

// ---- DialogFields: the fields of a dialog, by control identifier ----
// Validation and the dialogs' logic reach edit fields and check boxes only through these.
// A control the dialog does not have reads as an empty text, the number 0 and an
// unchecked box, and ignores writes.

// Copies at most capacity-1 characters of the field's text into text and terminates it;
// returns the number of characters copied. Nothing is written when capacity is 0.
size_t ReadFieldText(WindowHandle dialog, int control, char *text, size_t capacity);

// The field number (FieldNumber below) of the field's whole text.
int32_t ReadFieldNumber(WindowHandle dialog, int control);

// Replaces the field's text; a null text empties the field.
void WriteFieldText(WindowHandle dialog, int control, const char *text);

// Replaces the field's text by value in plain decimal digits.
void WriteFieldNumber(WindowHandle dialog, int control, uint32_t value);

// 1 when the check box is checked, else 0.
int ReadCheckBox(WindowHandle dialog, int control);

// Checks (1) or unchecks (0) the check box.
void WriteCheckBox(WindowHandle dialog, int control, int checked);

// The field number of a text: the value of the decimal digits at its start after any
// leading blanks (spaces), reading up to the first character that is not a digit; 0 when
// there are none. So "12  " is 12, "12x" is 12 and "x12" is 0. A value above 2147483647
// gives 2147483647: a field number is never negative, so a typed number can never turn
// into the record length -1 of variable-length records or a position before a record.
// Every implementation of ReadFieldNumber gives exactly this.
inline int32_t FieldNumber(const char *text) {
  constexpr uint32_t kLargest = 2147483647;
  while (*text == ' ') text++;
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    uint32_t digit = static_cast<uint32_t>(*text - '0');
    value = value > (kLargest - digit) / 10 ? kLargest : value * 10 + digit;  // saturates
  }
  return static_cast<int32_t>(value);
}

// ---- List box ----
// Items are kept in alphabetical order whatever order they are added in.

void AddListItem(WindowHandle dialog, int control, const char *text);
void ResetList(WindowHandle dialog, int control);  // no items, no selection afterwards

// The selected item's text, cut to capacity-1 characters and always terminated; empty
// when nothing is selected.
void GetListSelection(WindowHandle dialog, int control, char *text, size_t capacity);

void ClearListSelection(WindowHandle dialog, int control);  // no item selected afterwards

// ---- Focus, visibility, owner-drawn labels ----

// Moves the keyboard focus to a control of a dialog.
void FocusControl(WindowHandle dialog, int control);

// Moves the keyboard focus to a window or dialog itself.
void FocusWindow(WindowHandle window);

// Shows (1) a control without activating it, or hides it (0).
void ShowControl(WindowHandle dialog, int control, int shown);

// Asks for an owner-drawn label to be painted again; it is then painted with whatever
// text the dialog's logic gives it at that time.
void RepaintControl(WindowHandle dialog, int control);

// How a control reported a command, as the dialog's logic is given it.
constexpr int kNotifyClicked = 0;           // a button was clicked (also Escape, closing)
constexpr int kNotifySelectionChanged = 1;  // a list box's selection changed

// What a dialog procedure hands its logic to paint one owner-drawn label (on Win32 the
// WM_DRAWITEM record).
typedef void *LabelPaint;

// Fills the label's rectangle with the system's active-border colour and draws text in
// it, right-aligned and centred vertically, on that same colour.
void PaintLabel(LabelPaint paint, const char *text);

// ---- Windows and modal dialogs ----

// The outer rectangle of a window in screen coordinates, where it is now; all zero when
// there is none. A minimised window's is its icon's place, off the screen on Windows.
void GetWindowRectangle(WindowHandle window, ScreenRect *rect);

// The outer rectangle a window has when shown normally (screen coordinates): for a
// minimised window the one it is restored to, otherwise where it is now; all zero when
// there is none. The place to keep for the next start.
void GetNormalWindowRectangle(WindowHandle window, ScreenRect *rect);

// Moves a window so that its top-left corner is at left, top (screen pixels); its size
// and stacking order stay.
void MoveWindowTo(WindowHandle window, int32_t left, int32_t top);

// Minimises a top-level window without activating it; restores it.
void MinimizeWindow(WindowHandle window);
void RestoreWindow(WindowHandle window);

// What a dialog procedure hands a modal dialog's logic: the dialog, its owner and each
// event translated. Every handler is set.
struct DialogCalls {
  // The dialog was created, its controls exist; it is not shown yet.
  void (*open)(WindowHandle dialog, WindowHandle owner);
  // A command from control with its notification code (kNotifyClicked, also for
  // Escape and closing, which arrive as the command of control 2). Returns 1 when handled,
  // 0 when the command is left to the window system.
  int (*command)(WindowHandle dialog, WindowHandle owner, int control, int code);
  // The text of an owner-drawn label, painted by PaintLabel; null for a control that is
  // not one of the dialog's labels.
  const char *(*labelText)(int control);
};

// Runs the dialog of template templateId (resources/resource.h) modally, owned by owner,
// handing its events to calls, and returns the result its logic passed to EndModalDialog;
// -1 when the dialog cannot be created.
int RunModalDialog(WindowHandle owner, int templateId, const DialogCalls *calls);
void EndModalDialog(WindowHandle dialog, int result);

// Posts command to window: it arrives after the handler now running has returned.
void PostCommand(WindowHandle window, int command);

// Destroys a top-level window; its own end (the main window's: settings, quit) runs.
void DestroyTopWindow(WindowHandle window);

// Replaces the caption of a window or dialog. Called on any other thread than the one
// that made the window it does nothing (that thread may be waiting for the caller).
void WriteWindowTitle(WindowHandle window, const char *title);

// Paints now every window of window's thread that waits to be painted, and nothing else:
// input stays queued. Called during a long operation on the thread that made window
// (elsewhere it does nothing), so the windows keep painting without a second thread.
void PaintWaitingWindows(WindowHandle window);

// ---- Open-file dialog ----

// What the open-file dialog offers.
struct OpenFileRequest {
  const char *filters;           // pairs of NUL-terminated texts (shown, pattern), ended by
                                 // an empty text; the first pair is selected
  const char *initialFolder;
  const char *title;
  const char *defaultExtension;
};

// Lets the user choose an existing file (path and file must exist, no read-only box, no
// test creation) in a dialog modal to owner: owner takes no input until it closes.
// Returns 1 with its full path in path (at most capacity-1 characters), or 0 when the
// user cancelled or the dialog failed (path empty). Choosing a file makes the
// file's folder the current directory; a cancelled dialog may move it too.
int ChooseOpenFile(WindowHandle owner, const OpenFileRequest *request, char *path, size_t capacity);

#endif
