// The recording fake of the window door (windowing/winsys.h) and of the folder operations
// (os/directory.h) that the tests link instead of Win32. Everything it holds is in Fake,
// open to the tests: each control's text, check state, visibility and repaints; list items
// kept in alphabetical order with the selection; the focus; a log of message boxes and of
// what was done to windows; scripted answers. RunModalDialog opens the dialog (FakeDialog)
// and returns at once: the test then hands its handlers the user's commands. The folder
// operations act on the real current directory; the directory search gives names in
// reverse alphabetical order, so that nothing can lean on the order the system gives.
#ifndef PELMAR_TESTS_SUPPORT_FAKEWINSYS_H
#define PELMAR_TESTS_SUPPORT_FAKEWINSYS_H

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "os/directory.h"
#include "windowing/winsys.h"

struct FakeControl {
  std::string text;                // at most 511 characters, as pelmar-sort's fields
  int checked = 0;
  int shown = 0;                   // only ShowControl changes it
  int repaints = 0;                // RepaintControl calls
  std::vector<std::string> items;  // a list box's items, alphabetical
  int selection = -1;              // its selected item, -1 for none
};

struct FakeMessage {
  WindowHandle owner;
  std::string text, caption;
  int buttons;  // kButtonsOk or kButtonsOkCancel
};

struct FakeState {
  std::map<std::pair<WindowHandle, int>, FakeControl> controls;  // made when first touched
  std::vector<FakeMessage> messages;
  std::deque<int> answers;            // the next boxes' answers; kAnswerOk without
  std::deque<std::string> openFiles;  // the next open-file answers, "" to cancel; none cancels
  WindowHandle requestOwner = nullptr;    // the last open-file request: its owner and texts,
  std::vector<std::string> requestTexts;  // folder, title, extension, filters (pairs with their NULs)
  int focusControl = 0;               // where FocusControl put the focus last
  std::map<WindowHandle, ScreenRect> places;  // each window's normal rectangle
  std::map<WindowHandle, int> minimised;      // 1 between MinimizeWindow and RestoreWindow
  // In order: "move X,Y", "focus", "minimize", "restore", "end R", "post C", "dialog T",
  // "destroy", "title TEXT", each with its window.
  std::vector<std::pair<WindowHandle, std::string>> events;
  int dialogResult = 0;                // RunModalDialog's result; -1: no dialog is made
  const DialogCalls *calls = nullptr;  // the handlers of the dialog opened last
  std::vector<std::string> found;      // the directory search's names, next last
};
extern FakeState Fake;
extern WindowHandle const FakeDialog;  // the dialog RunModalDialog makes

void FakeReset();         // back to the start: nothing held, every window rectangle zero
int FakeMessageCount();   // the message boxes shown since the reset

#endif
