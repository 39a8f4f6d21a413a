// What every test suite needs of the file system and of other processes: temporary
// folders, whole-file reads and writes, second names for a file, and running a program.
// Where POSIX and Windows differ, the difference stays here (testfiles.cpp), so that the
// tests themselves read the same on both.
#ifndef PELMAR_TESTS_SUPPORT_TESTFILES_H
#define PELMAR_TESTS_SUPPORT_TESTFILES_H

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder in the system's temporary folder, removed with everything in it at the
// end of the scope.
struct TempFolder {
  std::string path;
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;
  std::string File(const std::string &name) const { return path + "/" + name; }
};

// Makes the current directory a fresh temporary folder for the scope and returns to the
// previous one at its end.
struct TempCurrentFolder {
  TempFolder folder;
  std::string previous;
  TempCurrentFolder();
  ~TempCurrentFolder();
};

void WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);  // empty when it cannot be read
bool FileExists(const std::string &path);
bool RemoveFile(const std::string &path);       // true when it was removed
// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string &folder = ".");

// Sets a file's length, cutting it short or extending it with zeros that take no room.
// Returns false when the system refuses: Windows will not shorten a file while a view of
// it is mapped.
bool ResizeFile(const std::string &path, uint64_t length);

// Gives the file target a second name: a symbolic link where the system makes them, a
// hard link on Windows (Wine's symbolic links are a stub that makes nothing). Returns
// true when the name was made.
bool MakeLink(const std::string &target, const std::string &name);
bool MakeHardLink(const std::string &target, const std::string &name);

// Runs the program arguments[0] with the other arguments in folder and returns its exit
// status (-1 when it could not be run or did not exit), with what it wrote to standard
// output and standard error. Standard input is the file input names in folder (none: the
// null device). A Windows console program writes its lines ending in CR LF: they come back
// here ending in LF, as on POSIX, but for standard output when raw is set.
int RunProgramIn(const std::string &folder, const std::vector<std::string> &arguments, std::string *out,
                 std::string *err, const std::string &input = std::string(), bool raw = false);

// Runs the program as RunProgramIn does, its standard output a pipe that is closed once
// take bytes were read from it. Returns its exit status, or 128 + the signal that ended it.
int RunProgramIntoClosedPipe(const std::string &folder, const std::vector<std::string> &arguments, size_t take,
                             std::string *err);

#endif
