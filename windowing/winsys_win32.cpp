// The dialog and window operations of the window-system layer over the Win32 API, for
// the Windows program. A WindowHandle is an HWND; controls are reached by identifier
// through their dialog. One dialog procedure serves every modal dialog: it hands each
// message, translated, to the DialogCalls the dialog was run with.
#include <windows.h>
#include <commdlg.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "windowing/winsys.h"

static_assert(kNotifyClicked == BN_CLICKED, "button clicks arrive as Win32 gives them");
static_assert(kNotifySelectionChanged == LBN_SELCHANGE, "list selections arrive as Win32 gives them");
static_assert(kAnswerOk == IDOK && kAnswerCancel == IDCANCEL, "answers are Win32's");

constexpr DWORD kOpenFileOptions = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOTESTFILECREATE;
static_assert(kOpenFileOptions == 0x11804, "the open-file dialog's options");
constexpr size_t kNumberReadSize = 64;  // a field number's text: digits far beyond 2147483647

static HWND Window(WindowHandle handle) { return static_cast<HWND>(handle); }

// Win32 counts buffer sizes in int.
static int BufferSize(size_t capacity) { return capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity); }

int ShowMessageBox(WindowHandle owner, const char *text, const char *caption, int buttons) {
  const UINT type = buttons == kButtonsOkCancel ? MB_OKCANCEL : MB_OK;
  const int answer = MessageBoxA(Window(owner), text, caption, type);
  if (answer == IDOK) return kAnswerOk;
  return buttons == kButtonsOkCancel ? kAnswerCancel : kAnswerOk;  // a box that failed is no consent
}

size_t ReadFieldText(WindowHandle dialog, int control, char *text, size_t capacity) {
  if (capacity == 0) return 0;
  text[0] = '\0';
  const UINT length = GetDlgItemTextA(Window(dialog), control, text, BufferSize(capacity));
  if (length >= capacity) {  // never expected; keep the text terminated inside whatever happens
    text[capacity - 1] = '\0';
    return capacity - 1;
  }
  text[length] = '\0';
  return length;
}

int32_t ReadFieldNumber(WindowHandle dialog, int control) {
  char text[kNumberReadSize];
  ReadFieldText(dialog, control, text, sizeof text);
  return FieldNumber(text);
}

void WriteFieldText(WindowHandle dialog, int control, const char *text) {
  SetDlgItemTextA(Window(dialog), control, text == nullptr ? "" : text);
}

void WriteFieldNumber(WindowHandle dialog, int control, uint32_t value) {
  SetDlgItemInt(Window(dialog), control, value, FALSE);
}

int ReadCheckBox(WindowHandle dialog, int control) {
  return IsDlgButtonChecked(Window(dialog), control) == BST_CHECKED ? 1 : 0;
}

void WriteCheckBox(WindowHandle dialog, int control, int checked) {
  SendDlgItemMessageA(Window(dialog), control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void AddListItem(WindowHandle dialog, int control, const char *text) {
  SendDlgItemMessageA(Window(dialog), control, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void ResetList(WindowHandle dialog, int control) {
  SendDlgItemMessageA(Window(dialog), control, LB_RESETCONTENT, 0, 0);
}

void GetListSelection(WindowHandle dialog, int control, char *text, size_t capacity) {
  if (capacity == 0) return;
  text[0] = '\0';
  HWND list = GetDlgItem(Window(dialog), control);
  const LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (list == nullptr || index == LB_ERR) return;
  const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR) return;
  // LB_GETTEXT writes the whole item: into a buffer of the item's size, then cut to ours.
  char *item = static_cast<char *>(calloc(static_cast<size_t>(length) + 1, 1));
  if (item == nullptr) return;
  if (SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(item)) != LB_ERR) {
    const size_t copied = strnlen(item, capacity - 1);
    memcpy(text, item, copied);
    text[copied] = '\0';
  }
  free(item);
}

void ClearListSelection(WindowHandle dialog, int control) {
  SendDlgItemMessageA(Window(dialog), control, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void FocusControl(WindowHandle dialog, int control) { SetFocus(GetDlgItem(Window(dialog), control)); }

void FocusWindow(WindowHandle window) { SetFocus(Window(window)); }

void ShowControl(WindowHandle dialog, int control, int shown) {
  ShowWindow(GetDlgItem(Window(dialog), control), shown ? SW_SHOWNA : SW_HIDE);
}

void RepaintControl(WindowHandle dialog, int control) {
  InvalidateRect(GetDlgItem(Window(dialog), control), nullptr, TRUE);
}

void PaintLabel(LabelPaint paint, const char *text) {
  DRAWITEMSTRUCT *item = static_cast<DRAWITEMSTRUCT *>(paint);
  const COLORREF colour = GetSysColor(COLOR_ACTIVEBORDER);
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(item->hDC, &item->rcItem, brush);
  SetBkColor(item->hDC, colour);
  DrawTextA(item->hDC, text, -1, &item->rcItem, DT_RIGHT | DT_VCENTER);
  DeleteObject(brush);
}

void GetWindowRectangle(WindowHandle window, ScreenRect *rect) {
  RECT r;
  if (window == nullptr || !GetWindowRect(Window(window), &r)) {
    *rect = ScreenRect{0, 0, 0, 0};
    return;
  }
  *rect = ScreenRect{r.left, r.top, r.right, r.bottom};
}

void GetNormalWindowRectangle(WindowHandle window, ScreenRect *rect) {
  WINDOWPLACEMENT placement;
  placement.length = sizeof placement;
  if (window == nullptr || !IsIconic(Window(window)) || !GetWindowPlacement(Window(window), &placement)) {
    GetWindowRectangle(window, rect);
    return;
  }
  // The restored place is in work-area coordinates: they differ from the screen's by
  // where the work area starts (a task bar at the top or the left).
  RECT r = placement.rcNormalPosition;
  MONITORINFO monitor;
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoA(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &monitor)) {
    OffsetRect(&r, monitor.rcWork.left - monitor.rcMonitor.left, monitor.rcWork.top - monitor.rcMonitor.top);
  }
  *rect = ScreenRect{r.left, r.top, r.right, r.bottom};
}

void MoveWindowTo(WindowHandle window, int32_t left, int32_t top) {
  SetWindowPos(Window(window), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MinimizeWindow(WindowHandle window) { ShowWindow(Window(window), SW_SHOWMINNOACTIVE); }

void RestoreWindow(WindowHandle window) { ShowWindow(Window(window), SW_RESTORE); }

// Every modal dialog's procedure: translation only. The dialog's calls arrive with
// WM_INITDIALOG and stay in the dialog's user slot; messages before it are left to the
// system.
static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  const DialogCalls *calls = reinterpret_cast<const DialogCalls *>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (calls == nullptr) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      calls->open(dialog, GetWindow(dialog, GW_OWNER));
      return FALSE;  // the focus is set
    case WM_DRAWITEM: {
      DRAWITEMSTRUCT *item = reinterpret_cast<DRAWITEMSTRUCT *>(lParam);
      const char *text = calls->labelText(static_cast<int>(item->CtlID));
      if (text == nullptr) return FALSE;
      PaintLabel(item, text);
      return TRUE;
    }
    case WM_COMMAND:
      return calls->command(dialog, GetWindow(dialog, GW_OWNER), LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

int RunModalDialog(WindowHandle owner, int templateId, const DialogCalls *calls) {
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), Window(owner),
                                         DialogProcedure, reinterpret_cast<LPARAM>(calls));
  return static_cast<int>(result);
}

void EndModalDialog(WindowHandle dialog, int result) { EndDialog(Window(dialog), result); }

void PostCommand(WindowHandle window, int command) {
  PostMessageA(Window(window), WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void DestroyTopWindow(WindowHandle window) { DestroyWindow(Window(window)); }

// 1 when the calling thread made window: only that thread may wait on its messages.
static bool OnWindowThread(WindowHandle window) {
  return window != nullptr && GetWindowThreadProcessId(Window(window), nullptr) == GetCurrentThreadId();
}

void WriteWindowTitle(WindowHandle window, const char *title) {
  if (OnWindowThread(window)) SetWindowTextA(Window(window), title);
}

void PaintWaitingWindows(WindowHandle window) {
  if (!OnWindowThread(window)) return;
  MSG message;
  while (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageA(&message);
}

int ChooseOpenFile(WindowHandle owner, const OpenFileRequest *request, char *path, size_t capacity) {
  if (capacity == 0) return 0;
  path[0] = '\0';
  OPENFILENAMEA dialog;
  memset(&dialog, 0, sizeof dialog);
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Window(owner);
  dialog.lpstrFilter = request->filters;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(BufferSize(capacity));
  dialog.lpstrInitialDir = request->initialFolder;
  dialog.lpstrTitle = request->title;
  dialog.lpstrDefExt = request->defaultExtension;
  dialog.Flags = kOpenFileOptions;
  if (!GetOpenFileNameA(&dialog)) {
    path[0] = '\0';
    return 0;
  }
  path[capacity - 1] = '\0';
  // Windows leaves the chosen file's folder current; Wine's dialog may leave the folder it
  // opened in when a whole path was typed. The callers rely on the file's folder.
  char folder[MAX_PATH + 1];
  size_t length = dialog.nFileOffset < sizeof folder ? dialog.nFileOffset : 0;
  memcpy(folder, path, length);
  if (length > 3 && folder[length - 1] == '\\') length--;  // "C:\" keeps its separator
  folder[length] = '\0';
  if (length > 0) SetCurrentDirectoryA(folder);
  return 1;
}
