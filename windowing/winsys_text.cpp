// The dialog operations of the window-system layer for pelmar-sort, which has no windows:
// one dialog kept in memory (whatever handle names it), whose fields the command line
// fills and the shared dialog logic reads and repairs; message boxes go to standard error
// as the caption, then the text, and are answered OK. Lists, focus, visibility and label
// painting have nothing to show on a terminal and do nothing.
#include "windowing/winsys.h"

#include <cstdio>
#include <cstring>

constexpr int kTextControls = 128;    // identifiers 0 to 127: every control of both dialogs
constexpr size_t kTextSize = 512;     // a field text of at most 511 characters and a NUL,
                                      // more than any reader examines

static char Texts[kTextControls][kTextSize];  // text of field id
static int Checked[kTextControls];            // 1: check box id is checked

static bool HasControl(int id) { return id >= 0 && id < kTextControls; }

int ShowMessageBox(WindowHandle, const char *text, const char *caption, int) {
  size_t length = strlen(text);
  fprintf(stderr, "%s\n%s%s", caption, text, length > 0 && text[length - 1] == '\n' ? "" : "\n");
  return kAnswerOk;
}

size_t ReadFieldText(WindowHandle, int control, char *text, size_t capacity) {
  if (capacity == 0) return 0;
  const char *source = HasControl(control) ? Texts[control] : "";
  size_t length = strnlen(source, capacity - 1);
  memcpy(text, source, length);
  text[length] = '\0';
  return length;
}

int32_t ReadFieldNumber(WindowHandle, int control) {
  return HasControl(control) ? FieldNumber(Texts[control]) : 0;
}

void WriteFieldText(WindowHandle, int control, const char *text) {
  // Writing a field's own text back changes nothing.
  if (!HasControl(control) || text == Texts[control]) return;
  snprintf(Texts[control], kTextSize, "%s", text == nullptr ? "" : text);
}

void WriteFieldNumber(WindowHandle dialog, int control, uint32_t value) {
  char digits[16];
  snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(value));
  WriteFieldText(dialog, control, digits);
}

int ReadCheckBox(WindowHandle, int control) { return HasControl(control) && Checked[control] ? 1 : 0; }

void WriteCheckBox(WindowHandle, int control, int checked) {
  if (HasControl(control)) Checked[control] = checked ? 1 : 0;
}

void AddListItem(WindowHandle, int, const char *) {}
void ResetList(WindowHandle, int) {}

void GetListSelection(WindowHandle, int, char *text, size_t capacity) {
  if (capacity > 0) text[0] = '\0';
}

void ClearListSelection(WindowHandle, int) {}
void FocusControl(WindowHandle, int) {}
void FocusWindow(WindowHandle) {}
void ShowControl(WindowHandle, int, int) {}
void RepaintControl(WindowHandle, int) {}

void GetWindowRectangle(WindowHandle, ScreenRect *rect) { *rect = ScreenRect{0, 0, 0, 0}; }
void GetNormalWindowRectangle(WindowHandle, ScreenRect *rect) { *rect = ScreenRect{0, 0, 0, 0}; }

// Windows: there are none to move or end on a terminal, and no modal dialog can be made.
void MoveWindowTo(WindowHandle, int32_t, int32_t) {}
int RunModalDialog(WindowHandle, int, const DialogCalls *) { return -1; }
void EndModalDialog(WindowHandle, int) {}
void PostCommand(WindowHandle, int) {}
