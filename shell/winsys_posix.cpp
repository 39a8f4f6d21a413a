// The window-system operations for the native build: message boxes go to standard error
// and are answered OK, list boxes are one sorted list in memory, focus and selection do
// nothing, and the current directory, the directory search and the file replacement use
// the POSIX calls.
#include "shell/winsys.h"
#include "shell/winsys_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <strings.h>

constexpr int kListCapacity = 512;    // items the list holds; more are dropped
constexpr size_t kItemSize = 256;     // an item of at most 255 characters and a NUL

static char ListItems[kListCapacity][kItemSize];  // the list, in alphabetical order
static int ListCount = 0;                          // items in ListItems

// Alphabetical order: letters compared without regard to case, ties by byte value.
static int CompareItems(const char *a, const char *b) {
  int order = strcasecmp(a, b);
  return order != 0 ? order : strcmp(a, b);
}

int ShowMessageBox(WindowHandle, const char *text, const char *caption, int) {
  size_t length = strlen(text);
  fprintf(stderr, "%s\n%s%s", caption, text, length > 0 && text[length - 1] == '\n' ? "" : "\n");
  return kAnswerOk;
}

void AddListItem(WindowHandle, int, const char *text) {
  if (ListCount == kListCapacity) return;
  int at = ListCount;
  while (at > 0 && CompareItems(ListItems[at - 1], text) > 0) {
    memcpy(ListItems[at], ListItems[at - 1], kItemSize);
    at--;
  }
  snprintf(ListItems[at], kItemSize, "%s", text);
  ListCount++;
}

void ResetList(WindowHandle, int) { ListCount = 0; }

void GetListSelection(WindowHandle, int, char *text, size_t capacity) {
  if (capacity > 0) text[0] = '\0';
}

void ClearListSelection(WindowHandle, int) {}

void FocusControl(WindowHandle, int) {}

int GetWorkingDirectory(char *path, size_t capacity) {
  char directory[256];
  if (getcwd(directory, sizeof directory) == nullptr || strlen(directory) >= capacity) {
    if (capacity > 0) path[0] = '\0';
    return 1;
  }
  memcpy(path, directory, strlen(directory) + 1);
  return 0;
}

int SetWorkingDirectory(const char *path) { return chdir(path) == 0 ? 0 : 1; }

SptSearch BeginSptSearch() { return opendir("."); }

int NextSptFile(SptSearch search, char *name, size_t capacity) {
  DIR *directory = static_cast<DIR *>(search);
  while (struct dirent *entry = readdir(directory)) {
    size_t length = strlen(entry->d_name);
    if (length < 4 || strcmp(entry->d_name + length - 4, ".spt") != 0) continue;
    if (length >= capacity) continue;
    struct stat status;
    if (stat(entry->d_name, &status) != 0 || !S_ISREG(status.st_mode)) continue;
    memcpy(name, entry->d_name, length + 1);
    return 1;
  }
  return 0;
}

void EndSptSearch(SptSearch search) {
  if (search != nullptr) closedir(static_cast<DIR *>(search));
}

int MoveFileOver(const char *temporary, const char *target) {
  return rename(temporary, target) == 0 ? 0 : 1;
}

void GetWindowRectangle(WindowHandle, ScreenRect *rect) { *rect = ScreenRect{0, 0, 0, 0}; }

int ListItemCount() { return ListCount; }

const char *ListItemAt(int index) {
  return index >= 0 && index < ListCount ? ListItems[index] : nullptr;
}
