#include "tests/fakewinsys.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

constexpr int kFakeControls = 16;     // controls the model holds
constexpr int kFakeListItems = 64;    // items of one list box
constexpr size_t kFakeItemSize = 256;
constexpr int kFakeMessages = 64;     // message boxes logged
constexpr int kFakeAnswers = 16;
constexpr int kFakeWindows = 4;
constexpr int kFakeFoundFiles = 128;  // names one directory search holds

// One control of a dialog.
struct FakeControl {
  WindowHandle dialog;
  int id;
  int used;                                   // 1 once the control has been touched
  char items[kFakeListItems][kFakeItemSize];  // list items, alphabetical
  int itemCount;
  int selection;                              // selected item, -1 for none
};

struct FakeWindow {
  WindowHandle window;
  ScreenRect rect;
};

static FakeControl Controls[kFakeControls];
static FakeMessage Messages[kFakeMessages];
static int MessageCount = 0;
static int Answers[kFakeAnswers];
static int AnswerCount = 0;
static int AnswerNext = 0;
static WindowHandle FocusDialog = nullptr;
static int FocusId = 0;
static FakeWindow Windows[kFakeWindows];
static int FailMoves = 0;

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
      control.selection = -1;
      return &control;
    }
  }
  assert(!"fake: too many controls");
  return nullptr;
}

void FakeReset() {
  memset(Controls, 0, sizeof Controls);
  memset(Messages, 0, sizeof Messages);
  MessageCount = 0;
  AnswerCount = 0;
  AnswerNext = 0;
  FocusDialog = nullptr;
  FocusId = 0;
  memset(Windows, 0, sizeof Windows);
  FailMoves = 0;
  Search.open = 0;
}

int FakeMessageCount() { return MessageCount; }

const FakeMessage *FakeMessageAt(int index) {
  return index >= 0 && index < MessageCount ? &Messages[index] : nullptr;
}

void FakeQueueAnswer(int answer) {
  assert(AnswerCount < kFakeAnswers);
  if (AnswerCount < kFakeAnswers) Answers[AnswerCount++] = answer;
}

int FakeListCount(WindowHandle dialog, int control) {
  FakeControl *found = FindControl(dialog, control, 0);
  return found == nullptr ? 0 : found->itemCount;
}

const char *FakeListItem(WindowHandle dialog, int control, int index) {
  FakeControl *found = FindControl(dialog, control, 0);
  if (found == nullptr || index < 0 || index >= found->itemCount) return nullptr;
  return found->items[index];
}

void FakeSelectListItem(WindowHandle dialog, int control, int index) {
  FakeControl *found = FindControl(dialog, control, 1);
  found->selection = index >= 0 && index < found->itemCount ? index : -1;
}

int FakeListSelection(WindowHandle dialog, int control) {
  FakeControl *found = FindControl(dialog, control, 0);
  return found == nullptr ? -1 : found->selection;
}

WindowHandle FakeFocusDialog() { return FocusDialog; }
int FakeFocusControl() { return FocusId; }

void FakeSetWindowRect(WindowHandle window, ScreenRect rect) {
  for (FakeWindow &slot : Windows) {
    if (slot.window == window || slot.window == nullptr) {
      slot.window = window;
      slot.rect = rect;
      return;
    }
  }
  assert(!"fake: too many windows");
}

void FakeFailFileMoves(int fail) { FailMoves = fail; }

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

void AddListItem(WindowHandle dialog, int control, const char *text) {
  FakeControl *list = FindControl(dialog, control, 1);
  assert(list != nullptr && list->itemCount < kFakeListItems);
  if (list == nullptr || list->itemCount == kFakeListItems) return;  // beyond what a test makes
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
  FakeControl *list = FindControl(dialog, control, 1);
  list->itemCount = 0;
  list->selection = -1;
}

void GetListSelection(WindowHandle dialog, int control, char *text, size_t capacity) {
  if (capacity == 0) return;
  FakeControl *list = FindControl(dialog, control, 0);
  const char *item = list == nullptr || list->selection < 0 ? "" : list->items[list->selection];
  snprintf(text, capacity, "%s", item);
}

void ClearListSelection(WindowHandle dialog, int control) { FindControl(dialog, control, 1)->selection = -1; }

void FocusControl(WindowHandle dialog, int control) {
  FocusDialog = dialog;
  FocusId = control;
}

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
    if (length < 4 || strcmp(entry->d_name + length - 4, ".spt") != 0) continue;
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

int MoveFileOver(const char *temporary, const char *target) {
  if (FailMoves) return 1;
  return rename(temporary, target) == 0 ? 0 : 1;
}

void GetWindowRectangle(WindowHandle window, ScreenRect *rect) {
  *rect = ScreenRect{0, 0, 0, 0};
  for (const FakeWindow &slot : Windows) {
    if (slot.window != nullptr && slot.window == window) *rect = slot.rect;
  }
}
