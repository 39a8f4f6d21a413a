// Temporary folders and whole-file reads and writes for the engine tests.
#ifndef PELMAR_TESTS_ENGINE_TESTFILES_H
#define PELMAR_TESTS_ENGINE_TESTFILES_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// A fresh folder under /tmp, removed with everything in it at the end of the scope.
struct TempFolder {
  std::string path;
  TempFolder() {
    char name[] = "/tmp/pelmar-test-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempFolder() {
    std::string command = "rm -rf '" + path + "'";
    if (system(command.c_str()) != 0) perror("rm");
  }
  std::string File(const std::string &name) const { return path + "/" + name; }
};

inline void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool FileExists(const std::string &path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

#endif
