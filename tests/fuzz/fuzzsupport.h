// Shared by the fuzz targets: a reader that takes a job's choices from the front of the
// fuzz data, a private folder that is the current directory, and the check that stops the
// run with a message when an invariant fails. Files go through the suites' helpers.
#ifndef PELMAR_TESTS_FUZZ_FUZZSUPPORT_H
#define PELMAR_TESTS_FUZZ_FUZZSUPPORT_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/testfiles.h"

// Ends the run as a crash, so that libFuzzer keeps the input that broke the invariant.
#define FUZZ_CHECK(condition, what)                                              \
  do {                                                                          \
    if (!(condition)) {                                                         \
      fprintf(stderr, "fuzz invariant failed: %s (%s)\n", what, #condition);   \
      abort();                                                                  \
    }                                                                           \
  } while (0)

// Takes bytes from the front of the data; past the end every byte reads 0.
struct FuzzReader {
  const uint8_t *data;
  size_t size;

  uint8_t Byte() {
    if (size == 0) return 0;
    uint8_t b = *data++;
    size--;
    return b;
  }
  // A text of up to maxLength bytes: its length (one byte, two little-endian ones when
  // maxLength is over 255), then that many bytes, NULs included.
  std::string Text(size_t maxLength) {
    size_t length = Byte();
    if (maxLength > 255) length |= size_t{Byte()} << 8;
    return Rest(length % (maxLength + 1));
  }
  // Whatever is left, at most maxLength bytes.
  std::string Rest(size_t maxLength) {
    size_t length = std::min(size, maxLength);
    std::string text(reinterpret_cast<const char *>(data), length);
    data += length;
    size -= length;
    return text;
  }
};

// The run's private folder under the system's temporary folder: the current directory from
// the first call on, so that every file a target writes lives in it; removed at exit.
inline const std::string &PrivateFolder() {
  static TempCurrentFolder folder;
  return folder.folder.path;
}

// Removes what the last input left.
inline void EmptyFolder() {
  for (const std::string &name : FolderNames(PrivateFolder())) std::filesystem::remove_all(PrivateFolder() + "/" + name);
}

// The file's bytes; found is false when there is no such file.
inline std::string ReadWholeFile(const std::string &name, bool *found = nullptr) {
  if (found != nullptr) *found = FileExists(name);
  return ReadFile(name);
}

#endif
