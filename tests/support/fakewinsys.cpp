#include "tests/support/fakewinsys.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

FakeState Fake;
static int DialogToken;
WindowHandle const FakeDialog = &DialogToken;

static void Log(WindowHandle window, const std::string &text) { Fake.events.emplace_back(window, text); }
static FakeControl &Control(WindowHandle dialog, int id) { return Fake.controls[{dialog, id}]; }

// Copies at most capacity-1 bytes of text and terminates them; nothing for capacity 0.
static size_t CopyOut(const std::string &text, char *out, size_t capacity) {
  if (capacity == 0) return 0;
  const size_t length = std::min(text.size(), capacity - 1);
  memcpy(out, text.data(), length);
  out[length] = '\0';
  return length;
}

void FakeReset() { Fake = FakeState(); }
int FakeMessageCount() { return static_cast<int>(Fake.messages.size()); }

int ShowMessageBox(WindowHandle owner, const char *text, const char *caption, int buttons) {
  Fake.messages.push_back(FakeMessage{owner, text, caption, buttons});
  const int answer = Fake.answers.empty() ? kAnswerOk : Fake.answers.front();
  if (!Fake.answers.empty()) Fake.answers.pop_front();
  return answer;
}

size_t ReadFieldText(WindowHandle dialog, int control, char *text, size_t capacity) {
  return CopyOut(Control(dialog, control).text, text, capacity);
}
int32_t ReadFieldNumber(WindowHandle dialog, int control) { return FieldNumber(Control(dialog, control).text.c_str()); }
void WriteFieldText(WindowHandle dialog, int control, const char *text) {
  Control(dialog, control).text = std::string(text == nullptr ? "" : text).substr(0, 511);
}
void WriteFieldNumber(WindowHandle dialog, int control, uint32_t value) {
  WriteFieldText(dialog, control, std::to_string(value).c_str());
}
int ReadCheckBox(WindowHandle dialog, int control) { return Control(dialog, control).checked; }
void WriteCheckBox(WindowHandle dialog, int control, int checked) { Control(dialog, control).checked = checked ? 1 : 0; }

// Alphabetical: letters compared without regard to case, ties by byte value.
void AddListItem(WindowHandle dialog, int control, const char *text) {
  FakeControl &list = Control(dialog, control);
  const std::string item = std::string(text).substr(0, 255);
  const auto at = std::upper_bound(list.items.begin(), list.items.end(), item, [](auto &a, auto &b) {
    const int order = strcasecmp(a.c_str(), b.c_str());
    return order != 0 ? order < 0 : a < b;
  });
  if (list.selection >= at - list.items.begin()) list.selection++;
  list.items.insert(at, item);
}
void ResetList(WindowHandle dialog, int control) {
  Control(dialog, control).items.clear();
  Control(dialog, control).selection = -1;
}
void GetListSelection(WindowHandle dialog, int control, char *text, size_t capacity) {
  const FakeControl &list = Control(dialog, control);
  CopyOut(list.selection >= 0 ? list.items[static_cast<size_t>(list.selection)] : "", text, capacity);
}
void ClearListSelection(WindowHandle dialog, int control) { Control(dialog, control).selection = -1; }

void FocusControl(WindowHandle, int control) { Fake.focusControl = control; }
void FocusWindow(WindowHandle window) { Log(window, "focus"); }
void ShowControl(WindowHandle dialog, int control, int shown) { Control(dialog, control).shown = shown ? 1 : 0; }
void RepaintControl(WindowHandle dialog, int control) { Control(dialog, control).repaints++; }
void PaintLabel(LabelPaint, const char *) {}

// A minimised window is its icon, where Windows puts it: off the screen.
void GetWindowRectangle(WindowHandle window, ScreenRect *rect) {
  *rect = Fake.minimised[window] ? ScreenRect{-32000, -32000, -31840, -31976} : Fake.places[window];
}
void GetNormalWindowRectangle(WindowHandle window, ScreenRect *rect) { *rect = Fake.places[window]; }
void MoveWindowTo(WindowHandle window, int32_t left, int32_t top) {
  ScreenRect &place = Fake.places[window];
  place = ScreenRect{left, top, left + place.right - place.left, top + place.bottom - place.top};
  Log(window, "move " + std::to_string(left) + "," + std::to_string(top));
}
void MinimizeWindow(WindowHandle window) { Log(window, "minimize"), Fake.minimised[window] = 1; }
void RestoreWindow(WindowHandle window) { Log(window, "restore"), Fake.minimised[window] = 0; }

int RunModalDialog(WindowHandle owner, int templateId, const DialogCalls *calls) {
  Log(owner, "dialog " + std::to_string(templateId));
  if (Fake.dialogResult != -1) {  // a new dialog: its controls afresh
    for (auto at = Fake.controls.begin(); at != Fake.controls.end();) {
      at = at->first.first == FakeDialog ? Fake.controls.erase(at) : std::next(at);
    }
    Fake.calls = calls;
    calls->open(FakeDialog, owner);
  }
  return Fake.dialogResult;
}
void EndModalDialog(WindowHandle dialog, int result) { Log(dialog, "end " + std::to_string(result)); }
void PostCommand(WindowHandle window, int command) { Log(window, "post " + std::to_string(command)); }
void DestroyTopWindow(WindowHandle window) { Log(window, "destroy"); }
void WriteWindowTitle(WindowHandle window, const char *title) { Log(window, std::string("title ") + title); }
void PaintWaitingWindows(WindowHandle) {}

// Gives the next queued path (and makes its folder, the text before the last '/', the
// current directory when it exists); cancels without one.
int ChooseOpenFile(WindowHandle owner, const OpenFileRequest *request, char *path, size_t capacity) {
  size_t length = 0;  // the filters: pairs of texts up to the empty one
  while (request->filters[length] != '\0') length += strlen(request->filters + length) + 1;
  Fake.requestOwner = owner;
  Fake.requestTexts = {request->initialFolder, request->title, request->defaultExtension, {request->filters, length}};
  const std::string chosen = Fake.openFiles.empty() ? "" : Fake.openFiles.front();
  if (!Fake.openFiles.empty()) Fake.openFiles.pop_front();
  CopyOut(chosen.size() < capacity ? chosen : "", path, capacity);
  if (chosen.rfind('/') != std::string::npos) SetWorkingDirectory(chosen.substr(0, chosen.rfind('/')).c_str());
  return !chosen.empty() && chosen.size() < capacity;
}

int GetWorkingDirectory(char *path, size_t capacity) {
  const std::string directory = std::filesystem::current_path().string();
  CopyOut(directory.size() < capacity ? directory : "", path, capacity);
  return directory.size() < capacity ? 0 : 1;
}

int SetWorkingDirectory(const char *path) {
  std::error_code error;
  std::filesystem::current_path(path, error);
  return error ? 1 : 0;
}

// The regular files of the current directory whose names end in .spt in any letter case
// (as Windows matches them), handed out last name first.
SptSearch BeginSptSearch() {
  std::error_code error;
  std::filesystem::directory_iterator entries(".", error);
  if (error) return nullptr;
  for (const auto &entry : entries) {
    const std::string name = entry.path().filename().string();
    const bool spt = name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".spt") == 0;
    if (spt && entry.is_regular_file(error)) Fake.found.push_back(name);
  }
  std::sort(Fake.found.begin(), Fake.found.end());
  return &Fake;
}

int NextSptFile(SptSearch, char *name, size_t capacity) {
  while (!Fake.found.empty() && Fake.found.back().size() >= capacity) Fake.found.pop_back();  // passed over
  if (Fake.found.empty()) return 0;
  CopyOut(Fake.found.back(), name, capacity);
  Fake.found.pop_back();
  return 1;
}

void EndSptSearch(SptSearch) { Fake.found.clear(); }
