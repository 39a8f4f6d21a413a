// End-to-end driver of pelmar.exe under Wine: what only a real Win32 run can show. The
// dialogs' logic, every message and every field, is tested natively over the recording
// fake (tests/dialogs, tests/app); here one story of a user's sessions runs as a table of
// steps over the real windows, the real open-file dialog and real keys, and its files are
// compared with pelmar-sort's results of the same jobs.
//   uidriver PELMAR.EXE WORKDIR
// WORKDIR is the program's folder: it holds people.dat, big.dat (twelve million 16-byte
// records) and reference\ (pelmar-sort's peopleSrt.dat, SortStat.txt and bigSrt.dat, made
// by tests/ui/run.sh). Exit code: the number of failed checks.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "resources/resource.h"

static const char kSortTitle[] = "      Pelmar v1.0 - Sort Parameters";
static const char kError[] = "  * * ERROR * *";
static const char kDone[] = "Sort Is Done!";
constexpr int kWaitMs = 8000;        // for a window to come or go
constexpr int kSortWaitMs = 90000;   // for the long sort to end
constexpr int kFileNameBox = 0x47c;  // the open-file dialog's name box
constexpr int kMessageText = 0xFFFF; // a message box's text
constexpr RECT kFirstPlace = {0, 0, 564, 370};    // the main window on the first start
constexpr RECT kMovedPlace = {120, 90, 684, 460}; // where the story moves it

// What a step does. Names starting with a backslash are in WORKDIR.
enum Action {
  kStart,     // start pelmar.exe; its main window becomes the window
  kLook,      // the first start's window: class, title, style, size, place, menu, banner
  kExit,      // the Exit command; the program ends with 0
  kOpen,      // post menu command id (none for 0); a dialog titled text comes, owned by the window
  kType,      // field id of the dialog is given text
  kClick,     // button or check box id of the dialog is clicked
  kEscape,    // the Escape key, pressed on the keyboard
  kBrowse,    // Browse, and file text chosen in the open-file dialog
  kBox,       // a message box captioned text saying more comes over the dialog, and OK ends it
  kOpenStill, // the dialog stays open (id 1) or has closed (id 0)
  kField,     // field id of the dialog reads text
  kSame,      // file text equals its namesake in reference\; id 1: a report, compared
  kNoFile,    // file text does not exist
  kSettings,  // Pelmar.ini is the defaults with Use Last Path id, browse folder text
              // (null: WORKDIR) and the window's last place
  kMoveAndMinimise,  // the main window moved to kMovedPlace, then minimised
  kPlace,     // the main window is at its last place
  kProgress,  // a long sort shows its progress in the caption and the dialog repaints
};
struct Step {
  Action action;
  int id = 0;
  const char *text = nullptr;
  const char *more = nullptr;
};

// The story: a first start; Preferences left by Escape; the main job browsed, refused
// once, validated and sorted; a minimised exit; a restart with everything restored, and
// a long sort.
static const Step kStory[] = {
    {kStart}, {kLook}, {kExit}, {kNoFile, 0, "\\Pelmar.ini"},
    {kStart}, {kOpen, IDM_PREFERENCES, ""}, {kClick, IDC_PREF_LAST_PATH}, {kEscape},
    {kOpenStill, 0}, {kSettings, 1, "C:\\"},
    {kOpen, 0, kSortTitle}, {kBrowse, 0, "\\people.dat"},
    {kType, IDC_RECORD_SIZE, "32"},
    {kType, IDC_KEY_POSITION(0), "17"}, {kType, IDC_KEY_LENGTH(0), "3"},
    {kType, IDC_KEY_TYPE(0), "i"}, {kType, IDC_KEY_SEQUENCE(0), "d"},
    {kType, IDC_KEY_POSITION(1), "1"}, {kType, IDC_KEY_LENGTH(1), "16"},
    {kType, IDC_KEY_TYPE(1), "c"}, {kType, IDC_KEY_SEQUENCE(1), "a"},
    {kClick, IDC_VALIDATE}, {kBox, 0, kError, "Key 1: Integer Type Must have a even Lenth!\n  Usually 2 or 4!\n\n"},
    {kOpenStill, 1}, {kNoFile, 0, "\\spt.spt"},
    {kType, IDC_KEY_LENGTH(0), "4"}, {kClick, IDC_VALIDATE}, {kBox, 0, "Status", "Sort Parameters are Valid"},
    {kClick, IDC_STATISTICS}, {kClick, IDC_SORT}, {kBox, 0, "Status", kDone}, {kOpenStill, 0},
    {kSame, 0, "\\peopleSrt.dat"}, {kSame, 1, "\\SortStat.txt"},
    {kMoveAndMinimise}, {kExit}, {kSettings, 1, nullptr},
    {kStart}, {kPlace}, {kOpen, IDM_SORT_DIALOG, kSortTitle},
    {kField, IDC_INPUT_NAME, "\\people.dat"}, {kField, IDC_RECORD_SIZE, "32"},
    {kField, IDC_KEY_LENGTH(0), "4"}, {kField, IDC_KEY_TYPE(1), "c"},
    {kType, IDC_INPUT_NAME, "\\big.dat"}, {kType, IDC_OUTPUT_NAME, "\\bigSrt.dat"},
    {kType, IDC_RECORD_SIZE, "16"},
    {kType, IDC_KEY_POSITION(0), "1"}, {kType, IDC_KEY_LENGTH(0), "8"},
    {kType, IDC_KEY_TYPE(0), "a"}, {kType, IDC_KEY_SEQUENCE(0), "a"},
    {kType, IDC_KEY_POSITION(1), ""}, {kType, IDC_KEY_LENGTH(1), ""},
    {kType, IDC_KEY_TYPE(1), ""}, {kType, IDC_KEY_SEQUENCE(1), ""},
    {kClick, IDC_SORT}, {kProgress}, {kBox, 0, "Status", kDone},
    {kSame, 0, "\\bigSrt.dat"}, {kExit},
};

static std::string Program, Work;
static int Failures = 0;
static PROCESS_INFORMATION Running;
static HWND Main, Dialog;
static RECT LastPlace = kFirstPlace;  // where the main window was last put

static bool Check(bool ok, const char *format, ...) {
  if (ok) return true;
  va_list arguments;
  va_start(arguments, format);
  printf("FAIL: ");
  vprintf(format, arguments);
  printf("\n");
  fflush(stdout);
  va_end(arguments);
  Failures++;
  return false;
}

template <typename Test>
static bool WaitFor(Test test, int limitMs = kWaitMs) {
  for (int waited = 0; waited < limitMs && !test(); waited += 10) Sleep(10);
  return test();
}

static std::string Here(const char *name) { return name[0] == '\\' ? Work + name : name; }

static std::string ReadFile(const std::string &name) {
  std::string bytes;
  if (FILE *file = fopen(name.c_str(), "rb")) {
    char buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
    fclose(file);
  }
  return bytes;
}

// A statistics report without what differs between runs: the date and time line, the
// phase times, and the folders of the file names.
static std::string Comparable(const std::string &report) {
  std::string kept;
  for (size_t at = 0, end; at < report.size(); at = end + 1) {
    end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    std::string line = report.substr(at, end - at);
    if (line.find("Date - ") != std::string::npos || line.find("Clicks") != std::string::npos) continue;
    const size_t name = line.find("File: "), base = line.find_last_of('\\');
    if (name != std::string::npos && base != std::string::npos && base > name) line.erase(name + 6, base - name - 5);
    kept += line + "\n";
  }
  return kept;
}

// Pelmar.ini as written: "plm", the browse folder, the OFNI, then ten 32-bit fields.
static std::string SettingsBytes(int lastPath, const std::string &folder, RECT w) {
  std::string bytes(302, '\0');
  bytes.replace(0, 3, "plm").replace(4, folder.size(), folder).replace(258, 3, "Srt");
  const int32_t fields[] = {0, 0, 0, w.top, w.bottom, w.left, w.right, lastPath, 0, 0};
  for (int i = 0; i < 40; i++) bytes[262 + i] = static_cast<char>(static_cast<uint32_t>(fields[i / 4]) >> (i % 4 * 8));
  return bytes;
}

static std::string Title(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

static std::string Field(HWND dialog, int control) {
  char text[1024] = "";
  SendMessageA(GetDlgItem(dialog, control), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// A visible dialog or message box owned by owner and titled title.
static HWND FindOwned(HWND owner, const char *title) {
  struct Search {
    HWND owner;
    const char *title;
    HWND found;
  } search = {owner, title, nullptr};
  EnumWindows([](HWND window, LPARAM parameter) -> BOOL {
    Search *s = reinterpret_cast<Search *>(parameter);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "#32770") != 0 || GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window) ||
        Title(window) != s->title) return TRUE;
    s->found = window;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

static HWND WaitOwned(HWND owner, const char *title, int limitMs = kWaitMs) {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindOwned(owner, title)) != nullptr; }, limitMs);
  Sleep(50);  // found before its initialisation ran, perhaps
  return found;
}

// The control of the program's thread that has the keyboard focus, or 0.
static int FocusedControl(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return 0;
  return GetDlgCtrlID(info.hwndFocus);
}

static bool Start() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string command = "\"" + Program + "\"";
  if (!Check(CreateProcessA(Program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, Work.c_str(), &startup,
                            &Running), "pelmar.exe does not start")) return false;
  WaitFor([] { return (Main = FindWindowA("WinSortInp", nullptr)) != nullptr && IsWindowVisible(Main); });
  return Check(Main != nullptr, "no main window of class WinSortInp");
}

static bool Exit() {
  PostMessageA(Main, WM_COMMAND, IDM_EXIT, 0);
  DWORD code = 99;
  if (!Check(WaitForSingleObject(Running.hProcess, kWaitMs) == WAIT_OBJECT_0, "the program did not end")) {
    TerminateProcess(Running.hProcess, 98);
  }
  GetExitCodeProcess(Running.hProcess, &code);
  CloseHandle(Running.hProcess);
  CloseHandle(Running.hThread);
  return Check(code == 0, "exit code %lu", code);
}

// The banner: dark text on the light background in its first line.
static bool BannerDrawn() {
  Sleep(300);
  HDC screen = GetDC(nullptr);
  POINT origin = {0, 0};
  ClientToScreen(Main, &origin);
  int dark = 0, light = 0;
  for (int y = 80; y < 140; y += 2) {
    for (int x = 10; x < 520; x += 2) {
      const COLORREF pixel = GetPixel(screen, origin.x + x, origin.y + y);
      dark += GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) < 200;
      light += pixel == RGB(254, 254, 254);
    }
  }
  ReleaseDC(nullptr, screen);
  return Check(dark > 100 && light > 1000, "banner: %d dark and %d background pixels", dark, light);
}

static bool Look() {
  RECT rect;
  GetWindowRect(Main, &rect);
  const LONG style = GetWindowLongA(Main, GWL_STYLE);
  const LONG wanted = WS_DLGFRAME | WS_SYSMENU | WS_MINIMIZEBOX, unwanted = WS_MAXIMIZEBOX | WS_THICKFRAME;
  return Check(EqualRect(&rect, &kFirstPlace), "window at %ld,%ld-%ld,%ld", rect.left, rect.top, rect.right,
               rect.bottom) &
         Check(Title(Main) == "      Pelmar v1.0", "title \"%s\"", Title(Main).c_str()) &
         Check((style & wanted) == wanted && (style & unwanted) == 0, "style %08lx", style) &
         Check(GetMenu(Main) != nullptr, "no menu") & BannerDrawn();
}

// The open-file dialog is the Sort dialog's own: it takes no input until that closes.
static bool Browse(const std::string &path) {
  PostMessageA(GetDlgItem(Dialog, IDC_BROWSE), BM_CLICK, 0, 0);
  HWND browse = WaitOwned(Dialog, "  Retrieve File Name");
  if (!Check(browse != nullptr, "no open-file dialog owned by the Sort dialog")) return false;
  Check(!IsWindowEnabled(Dialog), "the Sort dialog takes input behind the open-file dialog");
  SendMessageA(GetDlgItem(browse, kFileNameBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageA(GetDlgItem(browse, IDOK), BM_CLICK, 0, 0);
  return Check(WaitFor([&] { return !IsWindow(browse) && IsWindowEnabled(Dialog); }), "the Sort dialog stays disabled") &
         Check(WaitFor([] { return FocusedControl(Dialog) == IDC_RECORD_SIZE; }), "focus on %d after Browse",
               FocusedControl(Dialog));
}

static bool Box(const char *caption, const char *text) {
  HWND box = WaitOwned(Dialog, caption, kSortWaitMs);
  if (!Check(box != nullptr, "no message box \"%s\"", caption)) return false;
  const std::string shown = Field(box, kMessageText);
  Check(shown == text, "message \"%s\" says \"%s\"", caption, shown.c_str());
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  return Check(WaitFor([&] { return !IsWindow(box); }), "message box \"%s\" stays", caption);
}

// The caption shows the phase while the sort runs, and a region made invalid meanwhile
// is painted before the sort ends.
static bool Progress() {
  const std::string progress = "      Pelmar v1.0 - Sorting: ";
  if (!Check(WaitFor([&] { return Title(Dialog).find(progress) == 0; }, 20000), "no progress in the caption")) return false;
  printf("seen: %s\n", Title(Dialog).c_str());
  InvalidateRect(Dialog, nullptr, TRUE);
  const bool painted = WaitFor([] { return !GetUpdateRect(Dialog, nullptr, FALSE); }, 3000);
  return Check(painted && FindOwned(Dialog, "Status") == nullptr, "no repaint while the sort ran");
}

static void PressEscape() {
  SetForegroundWindow(Dialog);
  INPUT keys[2] = {};
  for (INPUT &key : keys) key.type = INPUT_KEYBOARD, key.ki.wVk = VK_ESCAPE;
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, keys, sizeof keys[0]);
}

// Does one step; false when the story cannot go on.
static bool Do(const Step &step) {
  switch (step.action) {
    case kStart: return Start();
    case kLook: return Look();
    case kExit: return Exit();
    case kOpen:
      if (step.id != 0) PostMessageA(Main, WM_COMMAND, step.id, 0);
      return Check((Dialog = WaitOwned(Main, step.text)) != nullptr, "no dialog \"%s\"", step.text);
    case kType:
      return SendMessageA(GetDlgItem(Dialog, step.id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Here(step.text).c_str()));
    case kClick: return PostMessageA(GetDlgItem(Dialog, step.id), BM_CLICK, 0, 0);
    case kEscape: return PressEscape(), true;
    case kBrowse: return Browse(Here(step.text));
    case kBox: return Box(step.text, step.more);
    case kOpenStill:
      return Check(WaitFor([&] { return (IsWindow(Dialog) != FALSE) == (step.id == 1); }), "the dialog %s",
                   step.id ? "closed" : "stays");
    case kField:
      return Check(Field(Dialog, step.id) == Here(step.text), "field %d reads \"%s\"", step.id,
                   Field(Dialog, step.id).c_str());
    case kSame: {
      std::string made = ReadFile(Here(step.text)), reference = ReadFile(Work + "\\reference" + step.text);
      if (step.id == 1) made = Comparable(made), reference = Comparable(reference);
      return Check(!made.empty() && made == reference, "%s differs from pelmar-sort's", step.text);
    }
    case kNoFile: return Check(GetFileAttributesA(Here(step.text).c_str()) == INVALID_FILE_ATTRIBUTES, "%s exists", step.text);
    case kSettings:
      return Check(ReadFile(Work + "\\Pelmar.ini") == SettingsBytes(step.id, step.text ? step.text : Work, LastPlace),
                   "Pelmar.ini");
    case kMoveAndMinimise:
      LastPlace = kMovedPlace;
      SetWindowPos(Main, nullptr, kMovedPlace.left, kMovedPlace.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      PostMessageA(Main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      return Check(WaitFor([] { return IsIconic(Main) != FALSE; }), "the main window does not minimise");
    case kPlace: {
      RECT rect;
      GetWindowRect(Main, &rect);
      return Check(EqualRect(&rect, &LastPlace), "restarted at %ld,%ld", rect.left, rect.top);
    }
    case kProgress: return Progress();
  }
  return false;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: uidriver PELMAR.EXE WORKDIR\n");
    return 2;
  }
  Program = argv[1];
  Work = argv[2];
  for (const Step &step : kStory) {
    if (!Do(step)) {
      printf("the story stopped at its row %d\n", static_cast<int>(&step - kStory));
      break;
    }
  }
  if (Running.hProcess != nullptr && WaitForSingleObject(Running.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(Running.hProcess, 97);
  }
  printf("%s: %d failed checks\n", Failures == 0 ? "PASS" : "FAIL", Failures);
  return Failures;
}
