// End-to-end driver of pelmar.exe under Wine: what only a real Win32 run can show. The
// dialogs' logic, every message and every field, is tested natively over the recording
// fake (tests/dialogs, tests/app); here one story of a user's sessions runs as a table of
// steps over the real windows, the real open-file dialog and a real key; tests/ui/run.sh
// then compares the files it made with pelmar-sort's results of the same jobs.
//   uidriver PELMAR.EXE WORKDIR
// WORKDIR is the program's folder, with people.dat and big.dat (twelve million 16-byte
// records). Exit code: the number of failed checks.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "resources/resource.h"

static const char kSortTitle[] = "      Pelmar v1.0 - Sort Parameters";
static const char kDone[] = "Sort Is Done!";
constexpr int kWaitMs = 30000;       // for a window to come or go, the long sort's end too
constexpr int kFileNameBox = 0x47c;  // the open-file dialog's name box
constexpr int kMessageText = 0xFFFF; // a message box's text
constexpr RECT kFirstPlace = {0, 0, 564, 370};    // the main window on the first start
constexpr RECT kMovedPlace = {120, 90, 684, 460}; // where the story moves it

// One step of the story: what it does, with the control or command id and the texts it
// works on. A name starting with a backslash is in WORKDIR.
struct Step {
  bool (*run)(const struct Step &step);  // false when the story cannot go on
  int id = 0;
  const char *text = nullptr;
  const char *more = nullptr;
};

static std::string Program, Work;
static int Failures = 0;
static PROCESS_INFORMATION Running;
static HWND Main, Dialog;
static RECT LastPlace = kFirstPlace;  // where the main window was last put

static bool Check(bool ok, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  if (!ok) Failures++, printf("FAIL: "), vprintf(format, arguments), printf("\n");
  va_end(arguments);
  return ok;
}

template <typename Test>
static bool WaitFor(Test test, int limitMs = kWaitMs) {
  for (int waited = 0; !test(); waited += 10) {
    if (waited >= limitMs) return false;
    Sleep(10);
  }
  return true;
}

static std::string Here(const std::string &name) { return name[0] == '\\' ? Work + name : name; }

// Pelmar.ini is the defaults with Use Last Path id, the browse folder text (null: WORKDIR)
// and the main window's last place (as written: "plm", the folder, the OFNI, ten 32-bit
// fields); for an id of -1, there is none.
static bool Settings(const Step &step) {
  const std::string folder = step.text ? step.text : Work;
  const RECT w = LastPlace;
  const int32_t fields[] = {0, 0, 0, w.top, w.bottom, w.left, w.right, step.id, 0, 0};
  std::string bytes(step.id < 0 ? 0 : 302, '\0'), read(400, '\0');
  if (step.id >= 0) bytes.replace(0, 3, "plm").replace(4, folder.size(), folder).replace(258, 3, "Srt");
  for (int i = 0; i < 40 && step.id >= 0; i++) bytes[262 + i] = static_cast<char>(fields[i / 4] >> (i % 4 * 8));
  std::ifstream file(Work + "\\Pelmar.ini", std::ios::binary);
  read.resize(file.read(&read[0], read.size()).gcount());
  return Check(file.is_open() == (step.id >= 0) && read == bytes, "Pelmar.ini: %d bytes", int(read.size()));
}

// A control's text, or a window's caption: that is read without the program's help, so
// also while it is busy.
static std::string Text(HWND window, bool caption = false) {
  char text[1024] = "";
  if (caption) GetWindowTextA(window, text, sizeof text);
  if (!caption) SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// A visible dialog or message box owned by owner and titled title.
static HWND WaitOwned(HWND owner, const char *title, int limitMs = kWaitMs) {
  HWND found = nullptr;
  WaitFor([&] {
    while ((found = FindWindowExA(nullptr, found, "#32770", nullptr)) != nullptr) {
      if (GetWindow(found, GW_OWNER) == owner && IsWindowVisible(found) && Text(found, true) == title) return true;
    }
    return false;
  }, limitMs);
  Sleep(50);  // found before its initialisation ran, perhaps
  return found;
}

// Starts pelmar.exe; its main window comes at the last place it was put.
static bool Start(const Step &) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string command = "\"" + Program + "\"";
  RECT rect = {0, 0, 0, 0};
  CreateProcessA(Program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, Work.c_str(), &startup, &Running);
  WaitFor([] { return (Main = FindWindowA("WinSortInp", nullptr)) != nullptr && IsWindowVisible(Main); });
  return Check(Main != nullptr, "no main window of class WinSortInp") &&
         Check(GetWindowRect(Main, &rect) && EqualRect(&rect, &LastPlace), "main window at %ld,%ld-%ld,%ld",
               rect.left, rect.top, rect.right, rect.bottom);
}

// The Exit command: the program ends with 0.
static bool Exit(const Step &) {
  DWORD code = 99;
  PostMessageA(Main, WM_COMMAND, IDM_EXIT, 0);
  WaitForSingleObject(Running.hProcess, kWaitMs);
  GetExitCodeProcess(Running.hProcess, &code);
  return Check(code == 0, "exit code %lu", code);
}

// The title, the style of a fixed-size window that minimises, the menu, and the banner's
// dark text on its light background.
static bool Look(const Step &) {
  const LONG style = GetWindowLongA(Main, GWL_STYLE), wanted = WS_DLGFRAME | WS_SYSMENU | WS_MINIMIZEBOX;
  Sleep(300);
  HDC screen = GetDC(nullptr);
  POINT origin = {0, 0};
  ClientToScreen(Main, &origin);
  int dark = 0, light = 0;
  for (int at = 0; at < 30 * 255; at++) {
    const COLORREF pixel = GetPixel(screen, origin.x + 10 + at % 255 * 2, origin.y + 80 + at / 255 * 2);
    dark += GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) < 200;
    light += pixel == RGB(254, 254, 254);
  }
  ReleaseDC(nullptr, screen);
  return Check(Text(Main, true) == "      Pelmar v1.0", "title \"%s\"", Text(Main, true).c_str()) &
         Check((style & wanted) == wanted && (style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0, "style %08lx", style) &
         Check(GetMenu(Main) != nullptr, "no menu") &
         Check(dark > 100 && light > 1000, "banner: %d dark and %d background pixels", dark, light);
}

// Browse, and file text chosen in the open-file dialog. That is the Sort dialog's own:
// the Sort dialog takes no input until it closes, and then has the focus in the record size.
static bool Browse(const Step &step) {
  GUITHREADINFO focus{};
  focus.cbSize = sizeof focus;
  PostMessageA(GetDlgItem(Dialog, IDC_BROWSE), BM_CLICK, 0, 0);
  HWND browse = WaitOwned(Dialog, "  Retrieve File Name");
  if (!Check(browse != nullptr, "no open-file dialog owned by the Sort dialog")) return false;
  Check(!IsWindowEnabled(Dialog), "the Sort dialog takes input behind the open-file dialog");
  SendMessageA(GetDlgItem(browse, kFileNameBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Here(step.text).c_str()));
  PostMessageA(GetDlgItem(browse, IDOK), BM_CLICK, 0, 0);
  return Check(WaitFor([&] {
    GetGUIThreadInfo(GetWindowThreadProcessId(Dialog, nullptr), &focus);
    return !IsWindow(browse) && IsWindowEnabled(Dialog) && focus.hwndFocus == GetDlgItem(Dialog, IDC_RECORD_SIZE);
  }, 3000), "after Browse the Sort dialog is disabled or the focus elsewhere");
}

// A message box captioned text saying more comes over the dialog; after OK the dialog
// stays open (id 1) or closes (0).
static bool Box(const Step &step) {
  HWND box = WaitOwned(Dialog, step.text);
  if (!Check(box != nullptr, "no message box \"%s\"", step.text)) return false;
  const std::string shown = Text(GetDlgItem(box, kMessageText));
  Check(shown == step.more, "\"%s\" says \"%s\"", step.text, shown.c_str());
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  Sleep(200);  // time for a dialog that should stay to close
  const bool stays = step.id == 1;
  return Check(WaitFor([&] { return !IsWindow(box) && (IsWindow(Dialog) != FALSE) == stays; }), "the dialog %s",
               stays ? "closed" : "stays");
}

// The caption shows the phase while the sort runs, and a region made invalid meanwhile
// is painted before the sort ends.
static bool Progress(const Step &) {
  const std::string progress = "      Pelmar v1.0 - Sorting: ";
  if (!Check(WaitFor([&] { return Text(Dialog, true).find(progress) == 0; }), "no progress caption")) return false;
  printf("seen: %s\n", Text(Dialog, true).c_str());
  InvalidateRect(Dialog, nullptr, TRUE);
  const bool painted = WaitFor([] { return !GetUpdateRect(Dialog, nullptr, FALSE); }, 3000);
  return Check(painted && WaitOwned(Dialog, "Status", 0) == nullptr, "no repaint while the sort ran");
}

// The Escape key, pressed on the keyboard, closes the dialog.
static bool Escape(const Step &) {
  INPUT keys[2] = {};
  for (INPUT &key : keys) key.type = INPUT_KEYBOARD, key.ki.wVk = VK_ESCAPE;
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SetForegroundWindow(Dialog);
  SendInput(2, keys, sizeof keys[0]);
  return Check(WaitFor([] { return !IsWindow(Dialog); }), "Escape left the dialog open");
}

// Gives the dialog's fields from id on the comma-separated parts of text (the first to
// field id, the next to id + 1, and so on), or checks them.
static bool Fields(const Step &step, bool type) {
  const std::string text = step.text;
  bool same = true;
  int id = step.id;
  for (size_t at = 0, end; at <= text.size(); at = end + 1, id++) {
    end = std::min(text.find(',', at), text.size());
    const std::string part = Here(text.substr(at, end - at)), shown = Text(GetDlgItem(Dialog, id));
    if (type) SendMessageA(GetDlgItem(Dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(part.c_str()));
    same &= type || Check(shown == part, "field %d reads \"%s\", not \"%s\"", id, shown.c_str(), part.c_str());
  }
  return same;
}

static bool Type(const Step &step) { return Fields(step, true); }
static bool Read(const Step &step) { return Fields(step, false); }
static bool Click(const Step &step) { return PostMessageA(GetDlgItem(Dialog, step.id), BM_CLICK, 0, 0); }

// Menu command id is posted (none for 0), and a dialog titled text comes, owned by the
// main window.
static bool Open(const Step &step) {
  if (step.id != 0) PostMessageA(Main, WM_COMMAND, step.id, 0);
  return Check((Dialog = WaitOwned(Main, step.text)) != nullptr, "no dialog \"%s\"", step.text);
}

// The main window is moved to kMovedPlace, then minimised.
static bool Minimise(const Step &) {
  LastPlace = kMovedPlace;
  SetWindowPos(Main, nullptr, kMovedPlace.left, kMovedPlace.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  PostMessageA(Main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  return Check(WaitFor([] { return IsIconic(Main) != FALSE; }), "the main window does not minimise");
}

// A first start; Preferences left by Escape; the main job browsed, refused once, validated
// and sorted; an exit while minimised; a restart with everything restored, and a long sort
// without statistics (its report would take the main job's place).
static const Step kStory[] = {
    {Start}, {Look}, {Exit}, {Settings, -1},
    {Start}, {Open, IDM_PREFERENCES, ""}, {Click, IDC_PREF_LAST_PATH}, {Escape}, {Settings, 1, "C:\\"},
    {Open, 0, kSortTitle}, {Browse, 0, "\\people.dat"}, {Type, IDC_RECORD_SIZE, "32,17,3,i,d,1,16,c,a"},
    {Click, IDC_VALIDATE},
    {Box, 1, "  * * ERROR * *", "Key 1: Integer Type Must have a even Lenth!\n  Usually 2 or 4!\n\n"},
    {Type, IDC_KEY_LENGTH(0), "4"}, {Click, IDC_VALIDATE}, {Box, 1, "Status", "Sort Parameters are Valid"},
    {Click, IDC_STATISTICS}, {Click, IDC_SORT}, {Box, 0, "Status", kDone}, {Minimise}, {Exit}, {Settings, 1},
    {Start}, {Open, IDM_SORT_DIALOG, kSortTitle}, {Read, IDC_INPUT_NAME, "\\people.dat,\\peopleSrt.dat"},
    {Read, IDC_RECORD_SIZE, "32,17,4,i,d,1,16,c,a"},
    {Type, IDC_INPUT_NAME, "\\big.dat,\\bigSrt.dat"}, {Type, IDC_RECORD_SIZE, "16,1,8,a,a,,,,"},
    {Click, IDC_STATISTICS}, {Click, IDC_SORT}, {Progress}, {Box, 0, "Status", kDone}, {Exit},
};

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  Program = argv[1];
  Work = argv[2];
  for (const Step &step : kStory) {
    if (!step.run(step)) {
      printf("the story stopped at its row %d\n", static_cast<int>(&step - kStory));
      break;
    }
  }
  printf("%s: %d failed checks\n", Failures == 0 ? "PASS" : "FAIL", Failures);
  return Failures;
}
