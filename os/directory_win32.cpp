// The folder operations on Win32: the current directory and the search for parameter
// files.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "os/directory.h"

int GetWorkingDirectory(char *path, size_t capacity) {
  char directory[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory || length >= capacity || length > 255) {
    if (capacity > 0) path[0] = '\0';
    return 1;
  }
  memcpy(path, directory, length + 1);
  return 0;
}

int SetWorkingDirectory(const char *path) { return SetCurrentDirectoryA(path) ? 0 : 1; }

// A search in progress: the entry FindFirstFileA or FindNextFileA gave last, not yet
// handed out.
struct Win32SptSearch {
  HANDLE find;
  WIN32_FIND_DATAA entry;
  int pending;
};

SptSearch BeginSptSearch() {
  Win32SptSearch *search = static_cast<Win32SptSearch *>(calloc(1, sizeof(Win32SptSearch)));
  if (search == nullptr) return nullptr;
  search->find = FindFirstFileA("*.spt", &search->entry);
  if (search->find == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
    free(search);
    return nullptr;
  }
  search->pending = search->find != INVALID_HANDLE_VALUE;
  return search;
}

// The pattern also matches folders, and names whose short (8.3) form ends in ".spt"
// ("list.sptx" is "LIST~1.SPT"): only regular files whose own name ends in ".spt" are
// parameter files. Letter case does not count, as it does not when the file is opened:
// "ORDERS.SPT" is the file a save of orders.dat appends to.
static int IsSptFile(const WIN32_FIND_DATAA *entry) {
  const size_t length = strlen(entry->cFileName);
  if ((entry->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return 0;
  return length >= 4 && _stricmp(entry->cFileName + length - 4, ".spt") == 0;
}

int NextSptFile(SptSearch opaque, char *name, size_t capacity) {
  Win32SptSearch *search = static_cast<Win32SptSearch *>(opaque);
  while (search->pending) {
    const WIN32_FIND_DATAA entry = search->entry;
    search->pending = FindNextFileA(search->find, &search->entry) ? 1 : 0;
    const size_t length = strlen(entry.cFileName);
    if (IsSptFile(&entry) && length < capacity) {
      memcpy(name, entry.cFileName, length + 1);
      return 1;
    }
  }
  return 0;
}

void EndSptSearch(SptSearch opaque) {
  Win32SptSearch *search = static_cast<Win32SptSearch *>(opaque);
  if (search == nullptr) return;
  if (search->find != INVALID_HANDLE_VALUE) FindClose(search->find);
  free(search);
}
