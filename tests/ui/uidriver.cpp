// End-to-end driver of pelmar.exe: starts the program in a program directory of its own,
// drives it through command and control identifiers as a user would (menu commands,
// buttons, fields, the real open-file dialog), reads every message box's caption and
// text, and checks the windows and the files the program leaves.
//   uidriver PELMAR.EXE WORKDIR [CASE...]
// WORKDIR holds people.dat, big.dat (twelve million 16-byte records) and reference\ (pelmar-sort's results of the same
// jobs, made by tests/ui/run.sh). Each case runs in WORKDIR\caseN. With no CASE every
// case runs. With a file WORKDIR\shots, the driver stops at the screenshot points: it
// creates WORKDIR\NAME.ready and waits for WORKDIR\NAME.done. Exit code: failed checks.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"

static const char kMainTitle[] = "      Pelmar v1.0";
static const char kSortTitle[] = "      Pelmar v1.0 - Sort Parameters";
static const char kBrowseTitle[] = "  Retrieve File Name";
static const char kError[] = "  * * ERROR * *";
constexpr int kPollMs = 10;
constexpr int kWaitMs = 8000;
constexpr int kFileNameBox = 0x47c;  // the open-file dialog's name box
constexpr int kMessageText = 0xFFFF; // a message box's text

static std::string Program, Work, Case;
static int Failures = 0;
static bool Shots = false;
static PROCESS_INFORMATION Running;

static void Check(bool ok, const char *format, ...) {
  if (ok) return;
  va_list arguments;
  va_start(arguments, format);
  char text[1024];
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  printf("FAIL %s: %s\n", Case.c_str(), text);
  fflush(stdout);
  Failures++;
}

static std::string Folder() { return Work + "\\" + Case; }
static std::string InFolder(const char *name) { return Folder() + "\\" + name; }

static std::string ReadFile(const std::string &name, bool *exists = nullptr) {
  std::string bytes;
  FILE *file = fopen(name.c_str(), "rb");
  if (exists != nullptr) *exists = file != nullptr;
  if (file == nullptr) return bytes;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  fclose(file);
  return bytes;
}

static void WriteFile(const std::string &name, const std::string &bytes) {
  FILE *file = fopen(name.c_str(), "wb");
  if (file == nullptr) return;
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

static bool Exists(const std::string &name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A fresh program directory holding the given files of WORKDIR.
static void NewFolder(const char *name, std::vector<const char *> files) {
  Case = name;
  CreateDirectoryA(Folder().c_str(), nullptr);
  for (const char *file : files) CopyFileA((Work + "\\" + file).c_str(), InFolder(file).c_str(), FALSE);
  printf("case %s\n", name);
  fflush(stdout);
}

// Waits for the screenshot script when it asked for it: the screen's part covered by the
// given windows is saved as NAME.png.
static void Shot(const char *name, std::vector<HWND> windows, int settleMs = 400) {
  if (!Shots) return;
  Sleep(settleMs);  // everything painted
  RECT area = {0, 0, 0, 0};
  for (HWND window : windows) {
    RECT rect;
    if (window == nullptr || !GetWindowRect(window, &rect)) continue;
    if (area.right == 0) {
      area = rect;
    } else {
      UnionRect(&area, &area, &rect);
    }
  }
  char geometry[64];
  snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld\n", area.right - area.left, area.bottom - area.top,
           area.left < 0 ? 0 : area.left, area.top < 0 ? 0 : area.top);
  std::string ready = Work + "\\" + name + ".ready", done = Work + "\\" + name + ".done";
  WriteFile(ready + ".part", geometry);
  MoveFileA((ready + ".part").c_str(), ready.c_str());
  for (int waited = 0; waited < 20000 && !Exists(done); waited += 20) Sleep(20);
}

// ---- Windows ----

template <typename Test>
static bool WaitFor(Test test, int limitMs = kWaitMs) {
  for (int waited = 0; waited < limitMs; waited += kPollMs) {
    if (test()) return true;
    Sleep(kPollMs);
  }
  return test();
}

static std::string Title(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

struct OwnedSearch {
  HWND owner;
  const char *title;  // null: any
  HWND found;
};

static BOOL CALLBACK MatchOwned(HWND window, LPARAM parameter) {
  OwnedSearch *search = reinterpret_cast<OwnedSearch *>(parameter);
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  if (strcmp(name, "#32770") != 0 || GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window)) {
    return TRUE;
  }
  if (search->title != nullptr && Title(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

// A visible dialog or message box owned by owner (with title, when given).
static HWND FindOwned(HWND owner, const char *title) {
  OwnedSearch search = {owner, title, nullptr};
  EnumWindows(MatchOwned, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

static HWND WaitOwned(HWND owner, const char *title) {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindOwned(owner, title)) != nullptr; });
  return found;
}

static HWND MainWindow() {
  HWND window = FindWindowA("WinSortInp", nullptr);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

static HWND Start() {
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  std::string command = "\"" + Program + "\"";
  if (!CreateProcessA(Program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, Folder().c_str(), &startup,
                      &Running)) {
    Check(false, "pelmar.exe does not start (%lu)", GetLastError());
    return nullptr;
  }
  WaitForInputIdle(Running.hProcess, kWaitMs);
  HWND window = nullptr;
  WaitFor([&] { return (window = MainWindow()) != nullptr; });
  Check(window != nullptr, "no main window");
  return window;
}

// Ends the program by its Exit command; returns its exit code.
static DWORD Exit(HWND window) {
  PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
  DWORD code = 99;
  if (WaitForSingleObject(Running.hProcess, kWaitMs) != WAIT_OBJECT_0) {
    Check(false, "the program did not end");
    TerminateProcess(Running.hProcess, 98);
    WaitForSingleObject(Running.hProcess, kWaitMs);
  }
  GetExitCodeProcess(Running.hProcess, &code);
  CloseHandle(Running.hProcess);
  CloseHandle(Running.hThread);
  return code;
}

static void Command(HWND dialog, int control, int code = BN_CLICKED) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(control, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, control)));
}

static void ClickBox(HWND dialog, int control) { PostMessageA(GetDlgItem(dialog, control), BM_CLICK, 0, 0); }

static void SetField(HWND dialog, int control, const char *text) {
  SendMessageA(GetDlgItem(dialog, control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

static std::string Field(HWND dialog, int control) {
  char text[1024] = "";
  SendMessageA(GetDlgItem(dialog, control), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

static bool Checked(HWND dialog, int control) {
  return SendMessageA(GetDlgItem(dialog, control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

static bool Shown(HWND dialog, int control) { return IsWindowVisible(GetDlgItem(dialog, control)) != FALSE; }

// The control of the program's thread that has the keyboard focus, or 0.
static int FocusedControl(HWND window) {
  GUITHREADINFO info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || info.hwndFocus == nullptr) return 0;
  return GetDlgCtrlID(info.hwndFocus);
}

static std::string Printable(const std::string &text) {
  std::string shown;
  for (char c : text) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
  return shown;
}

// Waits for a message box owned by owner, checks its caption and text, and answers it.
static void ExpectMessage(HWND owner, const char *caption, const std::string &text, int answer = IDOK) {
  HWND box = WaitOwned(owner, caption);
  if (box == nullptr) {
    HWND other = FindOwned(owner, nullptr);
    Check(false, "no message box \"%s\" (%s); shown: \"%s\" \"%s\"", caption, Printable(text).c_str(),
          other ? Title(other).c_str() : "-", other ? Printable(Field(other, kMessageText)).c_str() : "-");
    if (other != nullptr) PostMessageA(GetDlgItem(other, IDOK), BM_CLICK, 0, 0);
    return;
  }
  Sleep(20);
  std::string shown = Field(box, kMessageText);
  Check(shown == text, "message \"%s\": \"%s\", expected \"%s\"", caption, Printable(shown).c_str(),
        Printable(text).c_str());
  PostMessageA(GetDlgItem(box, answer), BM_CLICK, 0, 0);
  Check(WaitFor([&] { return !IsWindow(box); }), "message box \"%s\" stays", caption);
}

static HWND OpenSortDialog(HWND window) {
  PostMessageA(window, WM_COMMAND, IDM_SORT_DIALOG, 0);
  HWND dialog = WaitOwned(window, kSortTitle);
  Check(dialog != nullptr, "no Sort dialog");
  Sleep(50);
  return dialog;
}

// Browse in the Sort dialog: the real open-file dialog, given the full name of a file.
// The open-file dialog is the Sort dialog's own: SORT, Browse and Return to Main take no
// input behind it, and do again once it has closed. Returns false when no open-file
// dialog came.
static bool BrowseTo(HWND dialog, const std::string &path) {
  Command(dialog, IDC_BROWSE);
  HWND browse = WaitOwned(dialog, kBrowseTitle);
  Check(browse != nullptr, "no open-file dialog owned by the Sort dialog");
  if (browse == nullptr) return false;
  Check(!IsWindowEnabled(dialog), "the Sort dialog takes input behind the open-file dialog");
  Sleep(100);
  SetField(browse, kFileNameBox, path.c_str());
  PostMessageA(GetDlgItem(browse, IDOK), BM_CLICK, 0, 0);
  Check(WaitFor([&] { return !IsWindow(browse); }), "the open-file dialog stays");
  Check(WaitFor([&] { return IsWindowEnabled(dialog) != FALSE; }), "the Sort dialog stays disabled");
  return true;
}

static void LeaveSortDialog(HWND window, HWND dialog) {
  Command(dialog, IDC_RETURN_TO_MAIN);
  Check(WaitFor([&] { return !IsWindow(dialog); }), "the Sort dialog stays");
  Check(WaitFor([&] { return !IsIconic(window); }), "the main window stays minimised");
}

static void EnterKey(HWND dialog, int k, const char *position, const char *length, const char *type,
                     const char *sequence) {
  SetField(dialog, IDC_KEY_POSITION(k), position);
  SetField(dialog, IDC_KEY_LENGTH(k), length);
  SetField(dialog, IDC_KEY_TYPE(k), type);
  SetField(dialog, IDC_KEY_SEQUENCE(k), sequence);
}

// ---- Files ----

// A settings record: the defaults with the given switches, the window at left, top.
struct Settings {
  const char *browse = "C:\\";
  const char *ofni = "Srt";
  int goToSort = 0, userFiles = 0, stay = 0, lastPath = 0, delimiter = 0, titling = 0;
  RECT window = {0, 0, 0, 0};
};

static void Put32(std::string &bytes, size_t at, int32_t value) {
  for (int i = 0; i < 4; i++) bytes[at + i] = static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
}

static std::string SettingsBytes(const Settings &s) {
  std::string bytes(302, '\0');
  memcpy(&bytes[0], "plm", 3);
  memcpy(&bytes[4], s.browse, strlen(s.browse));
  memcpy(&bytes[258], s.ofni, strlen(s.ofni));
  Put32(bytes, 262, s.goToSort);
  Put32(bytes, 266, s.userFiles);
  Put32(bytes, 270, s.stay);
  Put32(bytes, 274, s.window.top);
  Put32(bytes, 278, s.window.bottom);
  Put32(bytes, 282, s.window.left);
  Put32(bytes, 286, s.window.right);
  Put32(bytes, 290, s.lastPath);
  Put32(bytes, 294, s.delimiter);
  Put32(bytes, 298, s.titling);
  return bytes;
}

// A statistics report without what differs between runs and platforms: the date and time
// line, the phase times, and the folders of the file names.
static std::string Comparable(const std::string &report) {
  std::string kept, line;
  for (size_t at = 0; at <= report.size(); at++) {
    if (at < report.size() && report[at] != '\n') {
      line += report[at];
      continue;
    }
    if (line.find("Date - ") != std::string::npos || line.find("Clicks") != std::string::npos) {
      line.clear();
      continue;
    }
    size_t colon = line.find("File: ");
    if (colon != std::string::npos) {
      size_t base = line.find_last_of("\\/");
      if (base != std::string::npos && base > colon) line = line.substr(0, colon + 6) + line.substr(base + 1);
    }
    kept += line + "\n";
    line.clear();
  }
  return kept;
}

// ---- Cases ----

// 1. The first start: placement, size, title, style, the banner; an exit writes nothing.
static void FirstStart() {
  NewFolder("case1", {});
  HWND window = Start();
  if (window == nullptr) return;
  RECT rect;
  GetWindowRect(window, &rect);
  Check(rect.left == 0 && rect.top == 0, "window at %ld,%ld", rect.left, rect.top);
  Check(rect.right - rect.left == 564 && rect.bottom - rect.top == 370, "window %ldx%ld", rect.right - rect.left,
        rect.bottom - rect.top);
  Check(Title(window) == kMainTitle, "title \"%s\"", Title(window).c_str());
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  Check((style & 0x004A0000) == 0x004A0000 && (style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0, "style %08lx",
        static_cast<unsigned long>(style));
  Check(GetMenu(window) != nullptr, "no menu");
  // The banner: dark text on the light background inside line 1's rectangle.
  Sleep(300);
  HDC screen = GetDC(nullptr);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  int dark = 0, light = 0;
  for (int y = 80; y < 140; y += 2) {
    for (int x = 10; x < 520; x += 2) {
      COLORREF pixel = GetPixel(screen, origin.x + x, origin.y + y);
      if (pixel == CLR_INVALID) continue;
      if (GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) < 200) dark++;
      if (pixel == RGB(254, 254, 254)) light++;
    }
  }
  ReleaseDC(nullptr, screen);
  Check(dark > 100 && light > 1000, "banner line 1: %d dark and %d background pixels", dark, light);
  Shot("main-window", {window});
  Check(Exit(window) == 0, "exit code");
  Check(!Exists(InFolder("Pelmar.ini")), "an exit with nothing changed wrote Pelmar.ini");
}

// 2. The main job: Browse through the real open-file dialog, keys, a title, statistics, SORT.
static void MainJob() {
  NewFolder("case2", {"people.dat"});
  Settings settings;
  settings.titling = 1;
  const std::string folder = Folder();
  settings.browse = folder.c_str();
  const std::string ini = SettingsBytes(settings);
  WriteFile(InFolder("Pelmar.ini"), ini);
  HWND window = Start();
  if (window == nullptr) return;
  RECT mainRect;
  GetWindowRect(window, &mainRect);
  HWND dialog = OpenSortDialog(window);
  if (dialog == nullptr) return;
  RECT rect;
  GetWindowRect(dialog, &rect);
  Check(rect.left == mainRect.left + 4 && rect.top == mainRect.top + 22, "Sort dialog at %ld,%ld", rect.left,
        rect.top);
  Check(WaitFor([&] { return IsIconic(window) != FALSE; }), "the main window is not minimised");

  if (!BrowseTo(dialog, InFolder("people.dat"))) return;
  Check(WaitFor([&] { return Field(dialog, IDC_OUTPUT_NAME) == InFolder("peopleSrt.dat"); }), "output name \"%s\"",
        Field(dialog, IDC_OUTPUT_NAME).c_str());
  Check(Field(dialog, IDC_INPUT_NAME) == InFolder("people.dat"), "input name \"%s\"",
        Field(dialog, IDC_INPUT_NAME).c_str());
  Check(WaitFor([&] { return FocusedControl(dialog) == IDC_RECORD_SIZE; }), "focus on %d", FocusedControl(dialog));

  SetField(dialog, IDC_RECORD_SIZE, "32");
  EnterKey(dialog, 0, "17", "4", "i", "d");
  EnterKey(dialog, 1, "1", "16", "c", "a");
  Command(dialog, IDC_KEY_TITLE_LABEL(0));
  Check(WaitFor([&] { return Shown(dialog, IDC_TITLE_EDITOR); }), "no title editor");
  Check(Field(dialog, IDC_TITLE_EDITOR) == "Key 1:", "title editor \"%s\"", Field(dialog, IDC_TITLE_EDITOR).c_str());
  SetField(dialog, IDC_TITLE_EDITOR, "Balance");
  Command(dialog, IDC_KEY_TITLE_LABEL(0));
  Check(WaitFor([&] { return !Shown(dialog, IDC_TITLE_EDITOR); }), "the title editor stays");
  Check(WaitFor([&] { return FocusedControl(dialog) == IDC_KEY_POSITION(0); }), "focus after the title on %d",
        FocusedControl(dialog));
  ClickBox(dialog, IDC_STATISTICS);
  Check(WaitFor([&] { return Checked(dialog, IDC_STATISTICS); }), "statistics box not checked");
  Shot("sort-dialog", {dialog});

  Command(dialog, IDC_SORT);
  if (Shots) {
    HWND box = WaitOwned(dialog, "Status");
    if (box != nullptr) Shot("sort-done", {dialog, box});
  }
  ExpectMessage(dialog, "Status", "Sort Is Done!");
  Check(WaitFor([&] { return !IsWindow(dialog); }), "the Sort dialog stays after the sort");
  Check(WaitFor([&] { return !IsIconic(window); }), "the main window is not restored");

  const std::string reference = Work + "\\reference\\";
  Check(ReadFile(InFolder("peopleSrt.dat")) == ReadFile(reference + "people-out.dat"), "output differs");
  bool exists = false;
  const std::string report = Comparable(ReadFile(InFolder("SortStat.txt"), &exists));
  Check(exists, "no SortStat.txt");
  const std::string expected = Comparable(ReadFile(reference + "people-SortStat.txt"));
  printf("  SortStat.txt: %d comparable lines\n", static_cast<int>(std::count(report.begin(), report.end(), '\n')));
  Check(report == expected, "SortStat.txt differs:\n%s\n-- expected --\n%s", report.c_str(), expected.c_str());
  Check(ReadFile(InFolder("spt.spt")).size() == 770, "spt.spt is not one entry");
  Check(Exit(window) == 0, "exit code");
  Check(ReadFile(InFolder("Pelmar.ini")) == ini, "Pelmar.ini changed");
}

// 3. A failed validation keeps the dialog; Validate of a good fixed-length set saves it.
static void Validation() {
  NewFolder("case3", {"people.dat"});
  HWND window = Start();
  if (window == nullptr) return;
  HWND dialog = OpenSortDialog(window);
  if (dialog == nullptr) return;
  SetField(dialog, IDC_INPUT_NAME, "people.dat");
  SetField(dialog, IDC_OUTPUT_NAME, "sorted.dat");
  SetField(dialog, IDC_RECORD_SIZE, "80");
  EnterKey(dialog, 0, "", "10", "", "");
  EnterKey(dialog, 1, "20", "4", "x", "");
  Command(dialog, IDC_VALIDATE);
  ExpectMessage(dialog, kError,
                "Key 1: Key Position Must be > 0!\n\n"
                "Key 1: Key Position - Invalid for Key 1: Key Length!\n\n"
                "Invalid Input in Key 2: Key Type Field!\n\n"
                "Key Declaration Must be Sequential!\n");
  Check(IsWindowVisible(dialog) != FALSE, "the dialog closed after a failed validation");
  Check(!Exists(InFolder("spt.spt")), "spt.spt written by a failed validation");

  SetField(dialog, IDC_RECORD_SIZE, "32");
  EnterKey(dialog, 0, "17", "4", "i", "d");
  EnterKey(dialog, 1, "1", "16", "", "");
  Command(dialog, IDC_VALIDATE);
  ExpectMessage(dialog, "Status", "Sort Parameters are Valid");
  Check(IsWindowVisible(dialog) != FALSE, "the dialog closed after Validate");
  Check(ReadFile(InFolder("spt.spt")).size() == 770, "spt.spt not written by Validate");
  Check(!Exists(InFolder("sorted.dat")), "Validate sorted");
  Command(dialog, IDC_HELP_BUTTON);
  HWND help = WaitOwned(dialog, "  Quick Help Information");
  Check(help != nullptr, "no help");
  if (help != nullptr) PostMessageA(GetDlgItem(help, IDOK), BM_CLICK, 0, 0);
  WaitFor([&] { return !IsWindow(help); });
  LeaveSortDialog(window, dialog);
  Exit(window);
}

// 4. Saved sets: entries listed, one selected fills the fields, Remove asks and resequences.
static void SavedSets() {
  NewFolder("case4", {"people.dat"});
  Settings settings;
  settings.userFiles = 1;
  WriteFile(InFolder("Pelmar.ini"), SettingsBytes(settings));
  HWND window = Start();
  if (window == nullptr) return;
  HWND dialog = OpenSortDialog(window);
  if (dialog == nullptr) return;
  HWND list = GetDlgItem(dialog, IDC_SAVED_LIST);
  Check(Shown(dialog, IDC_SAVED_LIST) && Shown(dialog, IDC_REMOVE_ENTRY) && Shown(dialog, IDC_SAVED_LABEL),
        "the saved list is hidden");
  Check(SendMessageA(list, LB_GETCOUNT, 0, 0) == 0, "entries before any save");

  SetField(dialog, IDC_INPUT_NAME, "people.dat");
  SetField(dialog, IDC_OUTPUT_NAME, "sorted.dat");
  SetField(dialog, IDC_RECORD_SIZE, "32");
  EnterKey(dialog, 0, "17", "4", "i", "d");
  Command(dialog, IDC_VALIDATE);
  ExpectMessage(dialog, "Status", "Sort Parameters are Valid");
  EnterKey(dialog, 0, "1", "16", "c", "a");
  Command(dialog, IDC_VALIDATE);
  ExpectMessage(dialog, "Status", "Sort Parameters are Valid");
  Check(SendMessageA(list, LB_GETCOUNT, 0, 0) == 2, "%d entries after two saves",
        static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)));
  wchar_t item[64] = L"";
  SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(item));
  Check(wcscmp(item, L"people_a") == 0, "first entry %ls", item);

  SendMessageA(list, LB_SETCURSEL, 0, 0);
  Command(dialog, IDC_SAVED_LIST, LBN_SELCHANGE);
  Check(WaitFor([&] { return Field(dialog, IDC_KEY_POSITION(0)) == "17"; }), "entry a not loaded: position \"%s\"",
        Field(dialog, IDC_KEY_POSITION(0)).c_str());
  Check(Field(dialog, IDC_KEY_TYPE(0)) == "i" && Field(dialog, IDC_KEY_SEQUENCE(0)) == "d", "entry a's letters");

  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  Command(dialog, IDC_REMOVE_ENTRY);
  ExpectMessage(dialog, kError, "NO File Selected for Removal!");
  SendMessageA(list, LB_SETCURSEL, 0, 0);
  Command(dialog, IDC_REMOVE_ENTRY);
  ExpectMessage(dialog, kError, "Remove Selected Entry!\n\n   Are You Sure?", IDCANCEL);
  ExpectMessage(dialog, "Status", "File Removal Canceled!");
  Check(SendMessageA(list, LB_GETCOUNT, 0, 0) == 2, "a cancelled removal removed");
  SendMessageA(list, LB_SETCURSEL, 0, 0);
  Command(dialog, IDC_REMOVE_ENTRY);
  ExpectMessage(dialog, kError, "Remove Selected Entry!\n\n   Are You Sure?");
  ExpectMessage(dialog, "Selected Entry Removed", "Identifiers have been Resequenced!");
  Check(SendMessageA(list, LB_GETCOUNT, 0, 0) == 1, "%d entries after the removal",
        static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)));
  // The last entry took the removed one's place: people_a now holds key 1 at 1.
  SendMessageA(list, LB_SETCURSEL, 0, 0);
  Command(dialog, IDC_SAVED_LIST, LBN_SELCHANGE);
  Check(WaitFor([&] { return Field(dialog, IDC_KEY_POSITION(0)) == "1"; }), "resequenced entry: position \"%s\"",
        Field(dialog, IDC_KEY_POSITION(0)).c_str());
  Check(ReadFile(InFolder("people.spt")).size() >= 4 + 766, "people.spt");
  LeaveSortDialog(window, dialog);
  Exit(window);
}

// 5. Preferences: switches, the Done check with its messages, Pelmar.ini, the Sort dialog
// next; Escape acts as Done.
static void Preferences() {
  NewFolder("case5", {});
  HWND window = Start();
  if (window == nullptr) return;
  PostMessageA(window, WM_COMMAND, IDM_PREFERENCES, 0);
  HWND dialog = WaitOwned(window, "");
  Check(dialog != nullptr, "no Preferences dialog");
  if (dialog == nullptr) return;
  Sleep(50);
  RECT mainRect, rect;
  GetWindowRect(window, &mainRect);
  GetWindowRect(dialog, &rect);
  Check(rect.left == mainRect.left + 4 && rect.top == mainRect.top + 22, "Preferences at %ld,%ld", rect.left,
        rect.top);
  Check(Field(dialog, IDC_PREF_BROWSE_DIR) == "C:\\" && Field(dialog, IDC_PREF_OFNI) == "Srt" &&
            Field(dialog, IDC_PREF_DELIMITER) == "both cr/lf",
        "fields \"%s\" \"%s\" \"%s\"", Field(dialog, IDC_PREF_BROWSE_DIR).c_str(), Field(dialog, IDC_PREF_OFNI).c_str(),
        Field(dialog, IDC_PREF_DELIMITER).c_str());
  ClickBox(dialog, IDC_PREF_STAY);
  ClickBox(dialog, IDC_PREF_KEY_TITLING);
  Check(WaitFor([&] { return Checked(dialog, IDC_PREF_STAY) && Checked(dialog, IDC_PREF_KEY_TITLING); }),
        "check boxes");
  SetField(dialog, IDC_PREF_BROWSE_DIR, "D:\\data");
  SetField(dialog, IDC_PREF_DELIMITER, "b");
  Shot("preferences", {window, dialog});
  Command(dialog, IDC_PREF_DONE);
  ExpectMessage(dialog, kError, "Invalid Entry in\nVariable Length Record Delimeter Field!");
  Check(IsWindowVisible(dialog) != FALSE, "a bad delimiter closed the dialog");
  Check(!Exists(InFolder("Pelmar.ini")), "a failed Done wrote Pelmar.ini");

  SetField(dialog, IDC_PREF_OFNI, "ab$cde");
  SetField(dialog, IDC_PREF_DELIMITER, "  lf only ");
  GetWindowRect(window, &mainRect);
  Command(dialog, IDC_PREF_DONE);
  ExpectMessage(dialog, kError, "O F N I > 4 Characters!");
  ExpectMessage(dialog, kError, "Invalid Characters in O F N I!");
  Check(WaitFor([&] { return !IsWindow(dialog); }), "Done did not close the dialog");
  Settings expected;
  expected.browse = "D:\\data";
  expected.stay = 1;
  expected.titling = 1;
  expected.delimiter = 2;
  expected.window = mainRect;
  Check(ReadFile(InFolder("Pelmar.ini")) == SettingsBytes(expected), "Pelmar.ini after Done");
  HWND sort = WaitOwned(window, kSortTitle);
  Check(sort != nullptr, "Done did not open the Sort dialog");
  if (sort != nullptr) LeaveSortDialog(window, sort);

  // Escape acts as Done, with its check.
  PostMessageA(window, WM_COMMAND, IDM_PREFERENCES, 0);
  dialog = WaitOwned(window, "");
  Check(dialog != nullptr, "no Preferences dialog the second time");
  if (dialog == nullptr) return;
  Sleep(50);
  Check(Checked(dialog, IDC_PREF_STAY) && !Checked(dialog, IDC_PREF_GO_TO_SORT), "switches shown");
  Check(Field(dialog, IDC_PREF_DELIMITER) == "lf only", "delimiter shown \"%s\"", Field(dialog, IDC_PREF_DELIMITER).c_str());
  SetField(dialog, IDC_PREF_OFNI, "x~1");
  PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
  Check(WaitFor([&] { return !IsWindow(dialog); }), "Escape did not close the dialog");
  std::string ini = ReadFile(InFolder("Pelmar.ini"));
  Check(ini.size() == 302 && ini.compare(258, 4, std::string("x~1\0", 4)) == 0, "Escape did not store the OFNI");
  sort = WaitOwned(window, kSortTitle);
  if (sort != nullptr) LeaveSortDialog(window, sort);
  Exit(window);
}

// 6. A restart restores the last parameters and the window's place; an exit with nothing
// changed leaves Pelmar.ini as it was, even after the window moved. "Go to Sort Dialog on
// Startup" opens the dialog without any action.
static void Restart() {
  NewFolder("case6", {"people.dat"});
  Settings settings;
  settings.window = RECT{40, 60, 604, 430};
  const std::string ini = SettingsBytes(settings);
  WriteFile(InFolder("Pelmar.ini"), ini);
  HWND window = Start();
  if (window == nullptr) return;
  HWND dialog = OpenSortDialog(window);
  if (dialog == nullptr) return;
  SetField(dialog, IDC_INPUT_NAME, "people.dat");
  SetField(dialog, IDC_OUTPUT_NAME, "sorted.dat");
  SetField(dialog, IDC_RECORD_SIZE, "32");
  EnterKey(dialog, 0, "17", "4", "i", "d");
  Command(dialog, IDC_SORT);
  ExpectMessage(dialog, "Status", "Sort Is Done!");
  Check(WaitFor([&] { return !IsWindow(dialog); }), "the dialog stays after the sort");
  SetWindowPos(window, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Exit(window);
  Check(ReadFile(InFolder("Pelmar.ini")) == ini, "Pelmar.ini changed by an exit with nothing changed");

  // Again, now with "Go to Sort Dialog on Startup" on: the dialog opens by itself.
  settings.goToSort = 1;
  WriteFile(InFolder("Pelmar.ini"), SettingsBytes(settings));
  window = Start();
  if (window == nullptr) return;
  dialog = WaitOwned(window, kSortTitle);
  Check(dialog != nullptr, "the Sort dialog did not open on start-up");
  if (dialog == nullptr) return;
  Sleep(50);
  RECT rect;
  GetWindowRect(dialog, &rect);
  Check(rect.left == 44 && rect.top == 82, "restarted: the dialog at %ld,%ld", rect.left, rect.top);
  Check(Field(dialog, IDC_INPUT_NAME) == "people.dat" && Field(dialog, IDC_RECORD_SIZE) == "32" &&
            Field(dialog, IDC_KEY_POSITION(0)) == "17" && Field(dialog, IDC_KEY_TYPE(0)) == "i",
        "restored fields \"%s\" \"%s\" \"%s\"", Field(dialog, IDC_INPUT_NAME).c_str(),
        Field(dialog, IDC_RECORD_SIZE).c_str(), Field(dialog, IDC_KEY_POSITION(0)).c_str());
  LeaveSortDialog(window, dialog);
  Exit(window);
}

// 7. A long sort: its progress in the caption, and the dialog keeps painting meanwhile.
static void LongSort() {
  NewFolder("case7", {"big.dat"});
  HWND window = Start();
  if (window == nullptr) return;
  HWND dialog = OpenSortDialog(window);
  if (dialog == nullptr) return;
  SetField(dialog, IDC_INPUT_NAME, "big.dat");
  SetField(dialog, IDC_OUTPUT_NAME, "sorted.dat");
  SetField(dialog, IDC_RECORD_SIZE, "16");
  EnterKey(dialog, 0, "1", "8", "a", "a");
  Command(dialog, IDC_SORT);
  const std::string progress = std::string(kMainTitle) + " - Sorting: ";
  Check(WaitFor([&] { return Title(dialog).compare(0, progress.size(), progress) == 0; }, 20000),
        "no progress in the caption: \"%s\"", Title(dialog).c_str());
  printf("  seen: %s\n", Title(dialog).c_str());
  Shot("sort-progress", {dialog}, 0);
  // Painting goes on: a region made invalid now is painted while the sort runs.
  InvalidateRect(dialog, nullptr, TRUE);
  bool painted = WaitFor([&] { return !GetUpdateRect(dialog, nullptr, FALSE); }, 3000);
  bool running = FindOwned(dialog, "Status") == nullptr;
  Check(painted, "the dialog did not repaint during the sort");
  Check(running, "the sort ended before the repaint could be checked");
  HWND box = nullptr;
  WaitFor([&] { return (box = FindOwned(dialog, "Status")) != nullptr; }, 60000);
  ExpectMessage(dialog, "Status", "Sort Is Done!");
  Check(ReadFile(InFolder("sorted.dat")) == ReadFile(Work + "\\reference\\big-out.dat"), "big output differs");
  Exit(window);
}

// 8. With "Use Last Path for Browse" on, a file chosen in a new folder makes it the browse
// folder, and the exit writes Pelmar.ini with it and the window's rectangle: the one it
// is restored to, since it ends minimised.
static void LastPath() {
  NewFolder("case8", {"people.dat"});
  Settings settings;
  settings.lastPath = 1;
  WriteFile(InFolder("Pelmar.ini"), SettingsBytes(settings));
  HWND window = Start();
  if (window == nullptr) return;
  HWND dialog = OpenSortDialog(window);
  if (dialog == nullptr) return;
  if (!BrowseTo(dialog, InFolder("people.dat"))) return;
  Check(WaitFor([&] { return Field(dialog, IDC_INPUT_NAME) == InFolder("people.dat"); }), "input name \"%s\"",
        Field(dialog, IDC_INPUT_NAME).c_str());
  LeaveSortDialog(window, dialog);
  SetWindowPos(window, nullptr, 120, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Sleep(100);
  RECT rect;
  GetWindowRect(window, &rect);
  PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Check(WaitFor([&] { return IsIconic(window) != FALSE; }), "the main window does not minimise");
  Exit(window);
  const std::string folder = Folder();
  settings.browse = folder.c_str();
  settings.window = rect;
  const std::string written = ReadFile(InFolder("Pelmar.ini")), expected = SettingsBytes(settings);
  size_t at = 0;
  while (at < written.size() && at < expected.size() && written[at] == expected[at]) at++;
  Check(written == expected, "Pelmar.ini after a new browse folder: %d bytes, the first difference at %d (%s)",
        static_cast<int>(written.size()), static_cast<int>(at), written.size() > 4 ? written.c_str() + 4 : "");
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: uidriver PELMAR.EXE WORKDIR [case...]\n");
    return 2;
  }
  Program = argv[1];
  Work = argv[2];
  Shots = Exists(Work + "\\shots");
  struct {
    const char *name;
    void (*run)();
  } cases[] = {{"1", FirstStart}, {"2", MainJob},  {"3", Validation}, {"4", SavedSets},
               {"5", Preferences}, {"6", Restart}, {"7", LongSort}, {"8", LastPath}};
  for (const auto &c : cases) {
    bool wanted = argc == 3;
    for (int i = 3; i < argc; i++) wanted = wanted || strcmp(argv[i], c.name) == 0;
    if (!wanted) continue;
    c.run();
    // A case that failed half-way may leave the program running: end it.
    if (HWND window = MainWindow()) {
      DWORD process = 0;
      GetWindowThreadProcessId(window, &process);
      if (HANDLE handle = OpenProcess(PROCESS_TERMINATE, FALSE, process)) {
        TerminateProcess(handle, 97);
        CloseHandle(handle);
      }
      Sleep(200);
    }
  }
  printf("%s: %d failed checks\n", Failures == 0 ? "PASS" : "FAIL", Failures);
  return Failures;
}
