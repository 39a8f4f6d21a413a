// Shared by the fuzz targets: a reader that takes a job's choices from the front of the
// fuzz data, a private folder that is the current directory, whole-file reads and writes,
// and the check that stops the run with a message when an invariant fails.
#ifndef PELMAR_TESTS_FUZZ_FUZZSUPPORT_H
#define PELMAR_TESTS_FUZZ_FUZZSUPPORT_H

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
    length = std::min(length % (maxLength + 1), size);
    std::string text(reinterpret_cast<const char *>(data), length);
    data += length;
    size -= length;
    return text;
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

inline std::vector<std::string> FolderNames();
inline void EmptyFolder();
inline void RemoveFolder();

// A folder of this process under /tmp, made once and made the current directory; every
// file a target writes lives in it, and it is removed when the run ends normally.
// EmptyFolder removes what the last input left.
inline const std::string &PrivateFolder() {
  static std::string path;
  if (path.empty()) {
    char pattern[] = "/tmp/pelmar-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) {
      perror("private folder");
      abort();
    }
    path = pattern;
    atexit(RemoveFolder);
  }
  return path;
}

// The names in the private folder, sorted.
inline std::vector<std::string> FolderNames() {
  std::vector<std::string> names;
  if (DIR *directory = opendir(PrivateFolder().c_str())) {
    while (struct dirent *entry = readdir(directory)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline void EmptyFolder() {
  for (const std::string &name : FolderNames()) unlink((PrivateFolder() + "/" + name).c_str());
}

inline void RemoveFolder() {
  EmptyFolder();
  if (chdir("/") == 0) rmdir(PrivateFolder().c_str());
}

inline void WriteWholeFile(const std::string &name, const std::string &bytes) {
  FILE *file = fopen(name.c_str(), "wb");
  FUZZ_CHECK(file != nullptr && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && fclose(file) == 0,
             "test file written");
}

// The file's bytes; found is false when it cannot be opened.
inline std::string ReadWholeFile(const std::string &name, bool *found = nullptr) {
  std::string bytes;
  FILE *file = fopen(name.c_str(), "rb");
  if (found != nullptr) *found = file != nullptr;
  if (file == nullptr) return bytes;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  fclose(file);
  return bytes;
}

// 1 when text is NUL-terminated within capacity bytes and at most maxLength characters long.
inline bool Bounded(const char *text, size_t capacity, size_t maxLength) {
  size_t length = strnlen(text, capacity);
  return length < capacity && length <= maxLength;
}

#endif
