#include "tests/support/fakewinsys.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

constexpr int kFakeControls = 64;     // controls the model holds: every one of a dialog
constexpr int kFakeLists = 2;         // list boxes the model holds
constexpr size_t kFakeFieldSize = 512;  // a field text of at most 511 characters, as pelmar-sort's
constexpr int kFakeListItems = 64;    // items of one list box
constexpr size_t kFakeItemSize = 256;
constexpr int kFakeMessages = 64;     // message boxes logged
constexpr int kFakeAnswers = 16;
constexpr int kFakeWindows = 4;
constexpr int kFakeFoundFiles = 128;  // names one directory search holds
constexpr int kFakeEvents = 64;      // window events logged

// One control of a dialog.
struct FakeControl {
  WindowHandle dialog;
  int id;
  int used;                   // 1 once the control has been touched
  char text[kFakeFieldSize];  // an edit field's text
  int checked;                // a check box's state
  int shown;                  // 1: shown, 0: hidden (only ShowControl changes it)
  int repaints;               // RepaintControl calls
  int list;                   // index into Lists + 1 once it is used as a list box; 0 before
};

// The items of one list box.
struct FakeList {
  char items[kFakeListItems][kFakeItemSize];  // alphabetical
  int itemCount;
  int selection;  // selected item, -1 for none
};

struct FakeWindow {
  WindowHandle window;
  ScreenRect rect;  // its normal place
  int minimised;    // 1 between MinimizeWindow and RestoreWindow
};

static FakeControl Controls[kFakeControls];
static FakeList Lists[kFakeLists];
static int ListCount = 0;
static FakeMessage Messages[kFakeMessages];
static int MessageCount = 0;
static int Answers[kFakeAnswers];
static int AnswerCount = 0;
static int AnswerNext = 0;
static WindowHandle FocusDialog = nullptr;
static int FocusId = 0;
static FakeWindow Windows[kFakeWindows];
static FakeEvent Events[kFakeEvents];
static int EventCount = 0;

static void LogEvent(WindowHandle window, const char *format, int a, int b) {
  if (EventCount == kFakeEvents) return;  // beyond what a test makes
  Events[EventCount].window = window;
  snprintf(Events[EventCount].text, sizeof Events[EventCount].text, format, a, b);
  EventCount++;
}

static void FakeResetWindows();  // the open-file answers, dialog result and title

// The one directory search: names found, handed out from next.
struct FakeSearch {
  char names[kFakeFoundFiles][kFakeItemSize];
  int count;
  int next;
  int open;
};
static FakeSearch Search;

// Alphabetical order: letters compared without regard to case, ties by byte value.
static int CompareItems(const char *a, const char *b) {
  int order = strcasecmp(a, b);
  return order != 0 ? order : strcmp(a, b);
}

static int CompareNamesDescending(const void *a, const void *b) {
  return -strcmp(static_cast<const char *>(a), static_cast<const char *>(b));
}

static FakeControl *FindControl(WindowHandle dialog, int id, int create) {
  for (FakeControl &control : Controls) {
    if (control.used && control.dialog == dialog && control.id == id) return &control;
  }
  if (!create) return nullptr;
  for (FakeControl &control : Controls) {
    if (!control.used) {
      memset(&control, 0, sizeof control);
      control.dialog = dialog;
      control.id = id;
      control.used = 1;
      return &control;
    }
  }
  assert(!"fake: too many controls");
  abort();
}

// The list box of a control; null when it has never been one and create is 0.
static FakeList *FindList(WindowHandle dialog, int id, int create) {
  FakeControl *control = FindControl(dialog, id, create);
  if (control == nullptr) return nullptr;
  if (control->list == 0) {
    if (!create) return nullptr;
    assert(ListCount < kFakeLists);
    if (ListCount == kFakeLists) abort();
    control->list = ++ListCount;
    memset(&Lists[control->list - 1], 0, sizeof(FakeList));
    Lists[control->list - 1].selection = -1;
  }
  return &Lists[control->list - 1];
}

void FakeReset() {
  memset(Controls, 0, sizeof Controls);
  ListCount = 0;
  memset(Messages, 0, sizeof Messages);
  MessageCount = 0;
  AnswerCount = 0;
  AnswerNext = 0;
  FocusDialog = nullptr;
  FocusId = 0;
  memset(Windows, 0, sizeof Windows);
  EventCount = 0;
  Search.open = 0;
  FakeResetWindows();
}

int FakeEventCount() { return EventCount; }

const FakeEvent *FakeEventAt(int index) { return index >= 0 && index < EventCount ? &Events[index] : nullptr; }

void MoveWindowTo(WindowHandle window, int32_t left, int32_t top) { LogEvent(window, "move %d,%d", left, top); }
void FocusWindow(WindowHandle window) { LogEvent(window, "focus", 0, 0); }

// The model of window; with create 1 a new one when there is none, else null.
static FakeWindow *FindFakeWindow(WindowHandle window, int create) {
  for (FakeWindow &slot : Windows) {
    if (slot.window == window || (create && slot.window == nullptr)) {
      slot.window = window;
      return &slot;
    }
  }
  assert(!create && "fake: too many windows");
  return nullptr;
}

void MinimizeWindow(WindowHandle window) {
  LogEvent(window, "minimize", 0, 0);
  FindFakeWindow(window, 1)->minimised = 1;
}

void RestoreWindow(WindowHandle window) {
  LogEvent(window, "restore", 0, 0);
  FindFakeWindow(window, 1)->minimised = 0;
}

void EndModalDialog(WindowHandle dialog, int result) { LogEvent(dialog, "end %d", result, 0); }
void PostCommand(WindowHandle window, int command) { LogEvent(window, "post %d", command, 0); }

int FakeMessageCount() { return MessageCount; }

const FakeMessage *FakeMessageAt(int index) {
  return index >= 0 && index < MessageCount ? &Messages[index] : nullptr;
}

void FakeQueueAnswer(int answer) {
  assert(AnswerCount < kFakeAnswers);
  if (AnswerCount < kFakeAnswers) Answers[AnswerCount++] = answer;
}

const char *FakeFieldText(WindowHandle dialog, int control) {
  FakeControl *found = FindControl(dialog, control, 0);
  return found == nullptr ? "" : found->text;
}

int FakeControlShown(WindowHandle dialog, int control) {
  FakeControl *found = FindControl(dialog, control, 0);
  return found == nullptr ? 0 : found->shown;
}

int FakeRepaintCount(WindowHandle dialog, int control) {
  FakeControl *found = FindControl(dialog, control, 0);
  return found == nullptr ? 0 : found->repaints;
}

int FakeListCount(WindowHandle dialog, int control) {
  FakeList *found = FindList(dialog, control, 0);
  return found == nullptr ? 0 : found->itemCount;
}

const char *FakeListItem(WindowHandle dialog, int control, int index) {
  FakeList *found = FindList(dialog, control, 0);
  if (found == nullptr || index < 0 || index >= found->itemCount) return nullptr;
  return found->items[index];
}

void FakeSelectListItem(WindowHandle dialog, int control, int index) {
  FakeList *found = FindList(dialog, control, 1);
  found->selection = index >= 0 && index < found->itemCount ? index : -1;
}

int FakeListSelection(WindowHandle dialog, int control) {
  FakeList *found = FindList(dialog, control, 0);
  return found == nullptr ? -1 : found->selection;
}

WindowHandle FakeFocusDialog() { return FocusDialog; }
int FakeFocusControl() { return FocusId; }

void FakeSetWindowRect(WindowHandle window, ScreenRect rect) { FindFakeWindow(window, 1)->rect = rect; }


int ShowMessageBox(WindowHandle owner, const char *text, const char *caption, int buttons) {
  if (MessageCount < kFakeMessages) {
    FakeMessage &message = Messages[MessageCount++];
    message.owner = owner;
    snprintf(message.text, sizeof message.text, "%s", text);
    snprintf(message.caption, sizeof message.caption, "%s", caption);
    message.buttons = buttons;
  }
  return AnswerNext < AnswerCount ? Answers[AnswerNext++] : kAnswerOk;
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
  FakeControl *field = FindControl(dialog, control, 1);
  if (text == field->text) return;  // writing a field's own text back changes nothing
  snprintf(field->text, sizeof field->text, "%s", text == nullptr ? "" : text);
}

void WriteFieldNumber(WindowHandle dialog, int control, uint32_t value) {
  char digits[16];
  snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(value));
  WriteFieldText(dialog, control, digits);
}

int ReadCheckBox(WindowHandle dialog, int control) {
  FakeControl *found = FindControl(dialog, control, 0);
  return found != nullptr && found->checked ? 1 : 0;
}

void WriteCheckBox(WindowHandle dialog, int control, int checked) {
  FindControl(dialog, control, 1)->checked = checked ? 1 : 0;
}

void AddListItem(WindowHandle dialog, int control, const char *text) {
  FakeList *list = FindList(dialog, control, 1);
  assert(list->itemCount < kFakeListItems);
  if (list->itemCount == kFakeListItems) return;  // beyond what a test makes
  int at = list->itemCount;
  while (at > 0 && CompareItems(list->items[at - 1], text) > 0) {
    memcpy(list->items[at], list->items[at - 1], kFakeItemSize);
    at--;
  }
  snprintf(list->items[at], kFakeItemSize, "%s", text);
  list->itemCount++;
  if (list->selection >= at) list->selection++;
}

void ResetList(WindowHandle dialog, int control) {
  FakeList *list = FindList(dialog, control, 1);
  list->itemCount = 0;
  list->selection = -1;
}

void GetListSelection(WindowHandle dialog, int control, char *text, size_t capacity) {
  if (capacity == 0) return;
  FakeList *list = FindList(dialog, control, 0);
  const char *item = list == nullptr || list->selection < 0 ? "" : list->items[list->selection];
  snprintf(text, capacity, "%s", item);
}

void ClearListSelection(WindowHandle dialog, int control) { FindList(dialog, control, 1)->selection = -1; }

void FocusControl(WindowHandle dialog, int control) {
  FocusDialog = dialog;
  FocusId = control;
}

void ShowControl(WindowHandle dialog, int control, int shown) { FindControl(dialog, control, 1)->shown = shown ? 1 : 0; }

void RepaintControl(WindowHandle dialog, int control) { FindControl(dialog, control, 1)->repaints++; }

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

SptSearch BeginSptSearch() {
  assert(!Search.open);
  DIR *directory = opendir(".");
  if (directory == nullptr) return nullptr;
  Search.count = 0;
  Search.next = 0;
  while (struct dirent *entry = readdir(directory)) {
    size_t length = strlen(entry->d_name);
    struct stat status;
    if (length < 4 || strcasecmp(entry->d_name + length - 4, ".spt") != 0) continue;  // as Windows matches
    if (stat(entry->d_name, &status) != 0 || !S_ISREG(status.st_mode)) continue;
    if (Search.count == kFakeFoundFiles || length >= kFakeItemSize) continue;  // beyond what a test makes
    memcpy(Search.names[Search.count++], entry->d_name, length + 1);
  }
  closedir(directory);
  qsort(Search.names, static_cast<size_t>(Search.count), kFakeItemSize, CompareNamesDescending);
  Search.open = 1;
  return &Search;
}

int NextSptFile(SptSearch search, char *name, size_t capacity) {
  if (search != &Search || !Search.open) return 0;
  while (Search.next < Search.count) {
    const char *found = Search.names[Search.next++];
    if (strlen(found) < capacity) {
      snprintf(name, capacity, "%s", found);
      return 1;
    }
  }
  return 0;
}

void EndSptSearch(SptSearch search) {
  if (search == &Search) Search.open = 0;
}


void GetNormalWindowRectangle(WindowHandle window, ScreenRect *rect) {
  const FakeWindow *slot = window == nullptr ? nullptr : FindFakeWindow(window, 0);
  *rect = slot == nullptr ? ScreenRect{0, 0, 0, 0} : slot->rect;
}

// A minimised window is its icon, where Windows puts it: off the screen.
void GetWindowRectangle(WindowHandle window, ScreenRect *rect) {
  const FakeWindow *slot = window == nullptr ? nullptr : FindFakeWindow(window, 0);
  if (slot != nullptr && slot->minimised) {
    *rect = ScreenRect{-32000, -32000, -31840, -31976};
    return;
  }
  GetNormalWindowRectangle(window, rect);
}

static FakeOpenFileRequest LastRequest;
static int RequestMade = 0;
static char OpenFileAnswer[1024];
static int OpenFileQueued = 0;  // 1: answer with OpenFileAnswer; 2: cancel
static int DialogResult = 0;
static const DialogCalls *LastDialogCalls = nullptr;
static char WindowTitle[256];

static void FakeResetWindows() {
  RequestMade = 0;
  OpenFileQueued = 0;
  DialogResult = 0;
  LastDialogCalls = nullptr;
  WindowTitle[0] = '\0';
}

void FakeQueueOpenFile(const char *path) {
  OpenFileQueued = path == nullptr ? 2 : 1;
  snprintf(OpenFileAnswer, sizeof OpenFileAnswer, "%s", path == nullptr ? "" : path);
}

const FakeOpenFileRequest *FakeLastOpenFileRequest() { return RequestMade ? &LastRequest : nullptr; }

int ChooseOpenFile(WindowHandle owner, const OpenFileRequest *request, char *path, size_t capacity) {
  memset(&LastRequest, 0, sizeof LastRequest);
  LastRequest.owner = owner;
  size_t at = 0;  // the filters: pairs of texts up to the empty one
  while (request->filters[at] != '\0' && at + strlen(request->filters + at) + 1 < sizeof LastRequest.filters) {
    at += strlen(request->filters + at) + 1;
  }
  memcpy(LastRequest.filters, request->filters, at);
  LastRequest.filtersLength = at;
  snprintf(LastRequest.initialFolder, sizeof LastRequest.initialFolder, "%s", request->initialFolder);
  snprintf(LastRequest.title, sizeof LastRequest.title, "%s", request->title);
  snprintf(LastRequest.defaultExtension, sizeof LastRequest.defaultExtension, "%s", request->defaultExtension);
  LastRequest.capacity = capacity;
  RequestMade = 1;
  const int answer = OpenFileQueued;
  OpenFileQueued = 0;
  if (capacity > 0) path[0] = '\0';
  if (answer != 1 || strlen(OpenFileAnswer) >= capacity) return 0;
  memcpy(path, OpenFileAnswer, strlen(OpenFileAnswer) + 1);
  char folder[1024];
  snprintf(folder, sizeof folder, "%s", OpenFileAnswer);
  if (char *slash = strrchr(folder, '/')) {
    *slash = '\0';
    if (chdir(folder) != 0) return 1;  // a made-up folder leaves the current directory
  }
  return 1;
}

void FakeSetDialogResult(int result) { DialogResult = result; }

const DialogCalls *FakeLastDialogCalls() { return LastDialogCalls; }

int RunModalDialog(WindowHandle owner, int templateId, const DialogCalls *calls) {
  LogEvent(owner, "dialog %d", templateId, 0);
  LastDialogCalls = calls;
  return DialogResult;
}

void DestroyTopWindow(WindowHandle window) { LogEvent(window, "destroy", 0, 0); }

void WriteWindowTitle(WindowHandle window, const char *title) {
  snprintf(WindowTitle, sizeof WindowTitle, "%s", title);
  LogEvent(window, "title", 0, 0);
}

const char *FakeWindowTitle() { return WindowTitle; }

void PaintWaitingWindows(WindowHandle) {}

void PaintLabel(LabelPaint, const char *) {}
