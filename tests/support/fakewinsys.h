// The recording fake of the window-system operations (windowing/winsys.h) that the behaviour
// tests link instead of Win32: dialogs modelled in memory (each control's text, check
// state, visibility and repaint requests; list items kept in alphabetical order and the
// selection; the focus), a log of every message box with its owner, text, caption and
// buttons, and scripted answers. The file-system operations act on the real current
// directory, so the code under test works on real files in the test's own folder; the
// directory search gives names in reverse alphabetical order, so that nothing can lean
// on the order the system happens to give.
#ifndef PELMAR_TESTS_SUPPORT_FAKEWINSYS_H
#define PELMAR_TESTS_SUPPORT_FAKEWINSYS_H

#include <cstddef>

#include "os/directory.h"
#include "windowing/winsys.h"

constexpr size_t kFakeTextSize = 1024;  // text kept of a message box; longer texts are cut

// One message box as it was shown.
struct FakeMessage {
  WindowHandle owner;
  char text[kFakeTextSize];
  char caption[kFakeTextSize];
  int buttons;  // kButtonsOk or kButtonsOkCancel
};

// Back to the start: no controls, no messages, no scripted answers, no focus, every
// window rectangle zero, file replacement working.
void FakeReset();

// The message boxes shown since the reset, oldest first; null past the last.
int FakeMessageCount();
const FakeMessage *FakeMessageAt(int index);

// The answer of the next message box; without a queued answer a box answers kAnswerOk.
void FakeQueueAnswer(int answer);

// A control's text (empty for one never written), whether it is shown, and how often its
// repainting was asked for.
const char *FakeFieldText(WindowHandle dialog, int control);
int FakeControlShown(WindowHandle dialog, int control);
int FakeRepaintCount(WindowHandle dialog, int control);

// A dialog's list box: its items in order, and the selected index (-1 for none).
int FakeListCount(WindowHandle dialog, int control);
const char *FakeListItem(WindowHandle dialog, int control, int index);  // null past the last
void FakeSelectListItem(WindowHandle dialog, int control, int index);
int FakeListSelection(WindowHandle dialog, int control);

// Where FocusControl last put the focus (null and 0 before any).
WindowHandle FakeFocusDialog();
int FakeFocusControl();

// The normal rectangle of window: what GetNormalWindowRectangle gives, and
// GetWindowRectangle too unless the window is minimised (MinimizeWindow, until
// RestoreWindow); a minimised window's is the icon's place off the screen, as on Windows.
void FakeSetWindowRect(WindowHandle window, ScreenRect rect);

// What was done to windows, in order: "move X,Y", "focus" (FocusWindow), "minimize",
// "restore", "end RESULT" (EndModalDialog) and "post COMMAND", each with its window.
struct FakeEvent {
  WindowHandle window;
  char text[32];
};
int FakeEventCount();
const FakeEvent *FakeEventAt(int index);  // null past the last


// The open-file dialog: the next ChooseOpenFile gives path (and makes its folder, the
// text before the last '/', the current directory when it exists), or cancels for null.
// Without a queued answer it cancels. The last request is kept, its filters whole.
void FakeQueueOpenFile(const char *path);
struct FakeOpenFileRequest {
  WindowHandle owner;
  char filters[256];  // the pairs with their NULs, up to the closing empty text
  size_t filtersLength;
  char initialFolder[256];
  char title[64];
  char defaultExtension[16];
  size_t capacity;    // room the caller gave for the path
};
const FakeOpenFileRequest *FakeLastOpenFileRequest();  // null before any

// RunModalDialog logs "dialog TEMPLATE" and returns result (0 until set); the calls it was
// handed last are kept (null before any).
void FakeSetDialogResult(int result);
const DialogCalls *FakeLastDialogCalls();

// More events: "dialog TEMPLATE", "destroy" (DestroyTopWindow), "title" (WriteWindowTitle,
// the text kept by FakeWindowTitle).
const char *FakeWindowTitle();

#endif
