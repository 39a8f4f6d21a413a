#include "tests/support/fakewinsys.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

constexpr size_t kFakeFieldLength = 511;  // a field keeps at most this many characters, as pelmar-sort's
constexpr size_t kFakeItemLength = 255;   // a list item likewise

// One control of a dialog, made when first touched.
struct FakeControl {
  std::string text;                // an edit field's text
  int checked = 0;                 // a check box's state
  int shown = 0;                   // 1: shown, 0: hidden (only ShowControl changes it)
  int repaints = 0;                // RepaintControl calls
  std::vector<std::string> items;  // a list box's items, alphabetical
  int selection = -1;              // its selected item, -1 for none
};

struct FakeWindow {
  ScreenRect rect = {0, 0, 0, 0};  // its normal place
  int minimised = 0;               // 1 between MinimizeWindow and RestoreWindow
};

// Everything the fake holds; FakeReset starts it afresh.
struct FakeState {
  std::map<std::pair<WindowHandle, int>, FakeControl> controls;
  std::vector<FakeMessage> messages;
  std::deque<int> answers;
  WindowHandle focusDialog = nullptr;
  int focusControl = 0;
  std::map<WindowHandle, FakeWindow> windows;
  std::vector<FakeEvent> events;
  std::vector<std::string> found;  // the open directory search's names, next first
  bool searching = false;
  FakeOpenFileRequest request;
  bool requestMade = false;
  int openFileQueued = 0;  // 1: answer with openFileAnswer; 2: cancel
  std::string openFileAnswer;
  int dialogResult = 0;
  const DialogCalls *dialogCalls = nullptr;
  std::string title;
};
static FakeState State;

static void LogEvent(WindowHandle window, const char *format, int a = 0, int b = 0) {
  FakeEvent event;
  event.window = window;
  snprintf(event.text, sizeof event.text, format, a, b);
  State.events.push_back(event);
}

static FakeControl &Control(WindowHandle dialog, int id) { return State.controls[{dialog, id}]; }

static const FakeControl *FindControl(WindowHandle dialog, int id) {
  auto found = State.controls.find({dialog, id});
  return found == State.controls.end() ? nullptr : &found->second;
}

// Alphabetical order: letters compared without regard to case, ties by byte value.
static bool ItemBefore(const std::string &a, const std::string &b) {
  int order = strcasecmp(a.c_str(), b.c_str());
  return order != 0 ? order < 0 : a < b;
}

void FakeReset() { State = FakeState(); }

int FakeEventCount() { return static_cast<int>(State.events.size()); }

const FakeEvent *FakeEventAt(int index) {
  return index >= 0 && index < FakeEventCount() ? &State.events[static_cast<size_t>(index)] : nullptr;
}

void MoveWindowTo(WindowHandle window, int32_t left, int32_t top) { LogEvent(window, "move %d,%d", left, top); }
void FocusWindow(WindowHandle window) { LogEvent(window, "focus"); }

void MinimizeWindow(WindowHandle window) {
  LogEvent(window, "minimize");
  State.windows[window].minimised = 1;
}

void RestoreWindow(WindowHandle window) {
  LogEvent(window, "restore");
  State.windows[window].minimised = 0;
}

void EndModalDialog(WindowHandle dialog, int result) { LogEvent(dialog, "end %d", result); }
void PostCommand(WindowHandle window, int command) { LogEvent(window, "post %d", command); }

int FakeMessageCount() { return static_cast<int>(State.messages.size()); }

const FakeMessage *FakeMessageAt(int index) {
  return index >= 0 && index < FakeMessageCount() ? &State.messages[static_cast<size_t>(index)] : nullptr;
}

void FakeQueueAnswer(int answer) { State.answers.push_back(answer); }

const char *FakeFieldText(WindowHandle dialog, int control) {
  const FakeControl *found = FindControl(dialog, control);
  return found == nullptr ? "" : found->text.c_str();
}

int FakeControlShown(WindowHandle dialog, int control) {
  const FakeControl *found = FindControl(dialog, control);
  return found == nullptr ? 0 : found->shown;
}

int FakeRepaintCount(WindowHandle dialog, int control) {
  const FakeControl *found = FindControl(dialog, control);
  return found == nullptr ? 0 : found->repaints;
}

int FakeListCount(WindowHandle dialog, int control) {
  const FakeControl *found = FindControl(dialog, control);
  return found == nullptr ? 0 : static_cast<int>(found->items.size());
}

const char *FakeListItem(WindowHandle dialog, int control, int index) {
  const FakeControl *found = FindControl(dialog, control);
  if (found == nullptr || index < 0 || index >= static_cast<int>(found->items.size())) return nullptr;
  return found->items[static_cast<size_t>(index)].c_str();
}

void FakeSelectListItem(WindowHandle dialog, int control, int index) {
  FakeControl &list = Control(dialog, control);
  list.selection = index >= 0 && index < static_cast<int>(list.items.size()) ? index : -1;
}

int FakeListSelection(WindowHandle dialog, int control) {
  const FakeControl *found = FindControl(dialog, control);
  return found == nullptr ? -1 : found->selection;
}

WindowHandle FakeFocusDialog() { return State.focusDialog; }
int FakeFocusControl() { return State.focusControl; }

void FakeSetWindowRect(WindowHandle window, ScreenRect rect) { State.windows[window].rect = rect; }

int ShowMessageBox(WindowHandle owner, const char *text, const char *caption, int buttons) {
  FakeMessage message;
  message.owner = owner;
  snprintf(message.text, sizeof message.text, "%s", text);
  snprintf(message.caption, sizeof message.caption, "%s", caption);
  message.buttons = buttons;
  State.messages.push_back(message);
  if (State.answers.empty()) return kAnswerOk;
  const int answer = State.answers.front();
  State.answers.pop_front();
  return answer;
}

size_t ReadFieldText(WindowHandle dialog, int control, char *text, size_t capacity) {
  if (capacity == 0) return 0;
  const char *source = FakeFieldText(dialog, control);
  size_t length = strnlen(source, capacity - 1);
  memcpy(text, source, length);
  text[length] = '\0';
  return length;
}

int32_t ReadFieldNumber(WindowHandle dialog, int control) { return FieldNumber(FakeFieldText(dialog, control)); }

void WriteFieldText(WindowHandle dialog, int control, const char *text) {
  Control(dialog, control).text = std::string(text == nullptr ? "" : text).substr(0, kFakeFieldLength);
}

void WriteFieldNumber(WindowHandle dialog, int control, uint32_t value) {
  WriteFieldText(dialog, control, std::to_string(value).c_str());
}

int ReadCheckBox(WindowHandle dialog, int control) {
  const FakeControl *found = FindControl(dialog, control);
  return found != nullptr && found->checked ? 1 : 0;
}

void WriteCheckBox(WindowHandle dialog, int control, int checked) { Control(dialog, control).checked = checked ? 1 : 0; }

void AddListItem(WindowHandle dialog, int control, const char *text) {
  FakeControl &list = Control(dialog, control);
  const std::string item = std::string(text).substr(0, kFakeItemLength);
  const auto at = std::upper_bound(list.items.begin(), list.items.end(), item, ItemBefore);
  if (list.selection >= at - list.items.begin()) list.selection++;
  list.items.insert(at, item);
}

void ResetList(WindowHandle dialog, int control) {
  FakeControl &list = Control(dialog, control);
  list.items.clear();
  list.selection = -1;
}

void GetListSelection(WindowHandle dialog, int control, char *text, size_t capacity) {
  if (capacity == 0) return;
  const FakeControl *list = FindControl(dialog, control);
  const bool selected = list != nullptr && list->selection >= 0;
  snprintf(text, capacity, "%s", selected ? list->items[static_cast<size_t>(list->selection)].c_str() : "");
}

void ClearListSelection(WindowHandle dialog, int control) { Control(dialog, control).selection = -1; }

void FocusControl(WindowHandle dialog, int control) {
  State.focusDialog = dialog;
  State.focusControl = control;
}

void ShowControl(WindowHandle dialog, int control, int shown) { Control(dialog, control).shown = shown ? 1 : 0; }

void RepaintControl(WindowHandle dialog, int control) { Control(dialog, control).repaints++; }

int GetWorkingDirectory(char *path, size_t capacity) {
  char directory[256];
  if (getcwd(directory, sizeof directory) == nullptr || strlen(directory) >= capacity) {
    if (capacity > 0) path[0] = '\0';
    return 1;
  }
  snprintf(path, capacity, "%s", directory);
  return 0;
}

int SetWorkingDirectory(const char *path) { return chdir(path) == 0 ? 0 : 1; }

// The regular files of the current directory whose names end in .spt in any letter case
// (as Windows matches them), handed out last name first.
SptSearch BeginSptSearch() {
  assert(!State.searching);
  std::error_code error;
  std::filesystem::directory_iterator entries(".", error);
  if (error) return nullptr;
  State.found.clear();
  for (const auto &entry : entries) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".spt") != 0) continue;
    if (entry.is_regular_file(error)) State.found.push_back(name);
  }
  std::sort(State.found.begin(), State.found.end());
  State.searching = true;
  return &State;
}

int NextSptFile(SptSearch search, char *name, size_t capacity) {
  if (search != &State || !State.searching) return 0;
  while (!State.found.empty()) {
    const std::string next = State.found.back();
    State.found.pop_back();
    if (next.size() < capacity) {
      snprintf(name, capacity, "%s", next.c_str());
      return 1;
    }
  }
  return 0;
}

void EndSptSearch(SptSearch search) {
  if (search == &State) State.searching = false;
}

void GetNormalWindowRectangle(WindowHandle window, ScreenRect *rect) {
  const auto found = State.windows.find(window);
  *rect = window == nullptr || found == State.windows.end() ? ScreenRect{0, 0, 0, 0} : found->second.rect;
}

// A minimised window is its icon, where Windows puts it: off the screen.
void GetWindowRectangle(WindowHandle window, ScreenRect *rect) {
  const auto found = State.windows.find(window);
  if (window != nullptr && found != State.windows.end() && found->second.minimised) {
    *rect = ScreenRect{-32000, -32000, -31840, -31976};
    return;
  }
  GetNormalWindowRectangle(window, rect);
}

void FakeQueueOpenFile(const char *path) {
  State.openFileQueued = path == nullptr ? 2 : 1;
  State.openFileAnswer = path == nullptr ? "" : path;
}

const FakeOpenFileRequest *FakeLastOpenFileRequest() { return State.requestMade ? &State.request : nullptr; }

int ChooseOpenFile(WindowHandle owner, const OpenFileRequest *request, char *path, size_t capacity) {
  FakeOpenFileRequest &last = State.request;
  memset(&last, 0, sizeof last);
  last.owner = owner;
  size_t at = 0;  // the filters: pairs of texts up to the empty one
  while (request->filters[at] != '\0' && at + strlen(request->filters + at) + 1 < sizeof last.filters) {
    at += strlen(request->filters + at) + 1;
  }
  memcpy(last.filters, request->filters, at);
  last.filtersLength = at;
  snprintf(last.initialFolder, sizeof last.initialFolder, "%s", request->initialFolder);
  snprintf(last.title, sizeof last.title, "%s", request->title);
  snprintf(last.defaultExtension, sizeof last.defaultExtension, "%s", request->defaultExtension);
  last.capacity = capacity;
  State.requestMade = true;
  const int answer = State.openFileQueued;
  State.openFileQueued = 0;
  if (capacity > 0) path[0] = '\0';
  const std::string &chosen = State.openFileAnswer;
  if (answer != 1 || chosen.size() >= capacity) return 0;
  memcpy(path, chosen.c_str(), chosen.size() + 1);
  const size_t slash = chosen.rfind('/');
  if (slash != std::string::npos && chdir(chosen.substr(0, slash).c_str()) != 0) {
    return 1;  // a made-up folder leaves the current directory as it is
  }
  return 1;
}

void FakeSetDialogResult(int result) { State.dialogResult = result; }

const DialogCalls *FakeLastDialogCalls() { return State.dialogCalls; }

int RunModalDialog(WindowHandle owner, int templateId, const DialogCalls *calls) {
  LogEvent(owner, "dialog %d", templateId);
  State.dialogCalls = calls;
  return State.dialogResult;
}

void DestroyTopWindow(WindowHandle window) { LogEvent(window, "destroy"); }

void WriteWindowTitle(WindowHandle window, const char *title) {
  State.title = title;
  LogEvent(window, "title");
}

const char *FakeWindowTitle() { return State.title.c_str(); }

void PaintWaitingWindows(WindowHandle) {}

void PaintLabel(LabelPaint, const char *) {}
