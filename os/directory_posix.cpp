// The folder operations on POSIX: the current directory and the search for parameter
// files.
#include "os/directory.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

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

