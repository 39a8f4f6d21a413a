// The folder operations that the settings and the parameter files need: the current
// directory and the search for parameter files. One implementation per platform
// (directory_posix.cpp, directory_win32.cpp); the tests may link their own.
// This header includes nothing of ours.
#ifndef PELMAR_OS_DIRECTORY_H
#define PELMAR_OS_DIRECTORY_H

#include <cstddef>

// The process's current directory, at most 255 characters. GetWorkingDirectory returns 0,
// or 1 when the directory cannot be read or is longer (path is empty then).
// SetWorkingDirectory returns 0, or 1 when the directory cannot be entered (unchanged then).
int GetWorkingDirectory(char *path, size_t capacity);
int SetWorkingDirectory(const char *path);

// Directory search for parameter files: the regular files of the current directory whose
// names end in ".spt", in whatever order the system gives them. On Windows the ending
// matches in any letter case ("ORDERS.SPT"), as the file system opens names; on POSIX
// only as written. BeginSptSearch returns
// null when the directory cannot be read. NextSptFile returns 1 with the next name, or 0
// when the search is exhausted; a name that does not fit in capacity is passed over.
// Every search that began is ended with EndSptSearch.
typedef void *SptSearch;
SptSearch BeginSptSearch();
int NextSptFile(SptSearch search, char *name, size_t capacity);
void EndSptSearch(SptSearch search);

#endif
