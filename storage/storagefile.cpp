#include "storage/storagefile.h"

#include <cassert>
#include <cstring>

#include "os/platform.h"
#include "engine/sorttypes.h"

constexpr size_t kTemporaryPathSize = kNameSize + 64;  // a folder of 255 characters and the longest temporary name

static const char kTemporaryPrefix[] = "Pelmar-";  // the new content, until it replaces a file
static const char kTemporarySuffix[] = ".tmp";      // never ".spt": a listing must not see it
constexpr size_t kChunkSize = 4096;                 // bytes copied per step of a rewrite
constexpr int kTemporaryNameTries = 64;             // names tried before a rewrite gives up


// Creates the temporary file for name: in name's folder, named by the prefix, this
// process's number, a counter and the suffix, created new (never an existing file or a
// link). Returns the open stream with its name in temporary, or null.
static FILE *CreateTemporaryFor(const char *name, char *temporary, size_t capacity) {
  static uint32_t counter = 0;  // names this process has tried
  const char *separator = FindLastSeparator(name);
  const int folder = separator == nullptr ? 0 : static_cast<int>(separator - name) + 1;
  for (int attempt = 0; attempt < kTemporaryNameTries; attempt++) {
    const int length = snprintf(temporary, capacity, "%.*s%s%u-%u%s", folder, name, kTemporaryPrefix,
                                static_cast<unsigned>(ProcessNumber()), static_cast<unsigned>(counter++),
                                kTemporarySuffix);
    if (length < 0 || static_cast<size_t>(length) >= capacity) return nullptr;
    FILE *file = CreateExclusiveFile(temporary);
    if (file != nullptr) return file;
  }
  return nullptr;
}

// 1 when name exists but may not be written: a file the user made read-only stays so.
static int ExistsReadOnly(const char *name) {
  FILE *file = OpenStorageFile(name, "rb");
  if (file == nullptr) return 0;
  CloseStorageFile(file);
  file = OpenStorageFile(name, "r+b");
  if (file == nullptr) return 1;
  CloseStorageFile(file);
  return 0;
}

FILE *OpenStorageFile(const char *name, const char *mode) {
  return FileOperationFails(kFileOpen) ? nullptr : fopen(name, mode);
}

int CloseStorageFile(FILE *file) {
  const int failed = fclose(file) != 0;
  return FileOperationFails(kFileClose) || failed;
}

int RemoveStorageFile(const char *name) {
  return FileOperationFails(kFileDelete) || remove(name) != 0;
}

long FileLength(FILE *file) {
  if (FileOperationFails(kFileRead) || fseek(file, 0, SEEK_END) != 0) return -1;
  return ftell(file);
}

int ReadFileAt(FILE *file, long offset, unsigned char *bytes, size_t count) {
  if (offset < 0 || FileOperationFails(kFileRead) || fseek(file, offset, SEEK_SET) != 0) return 1;
  return fread(bytes, 1, count, file) == count ? 0 : 1;
}

int RewriteFile(const char *name, int keep, const FilePatch *patches, int patchCount) {
  FILE *old = nullptr;
  long oldLength = 0;
  if (keep) {
    old = OpenStorageFile(name, "r+b");
    if (old == nullptr) return 1;
    oldLength = FileLength(old);
    if (oldLength < 0 || fseek(old, 0, SEEK_SET) != 0) {
      CloseStorageFile(old);
      return 1;
    }
  } else if (ExistsReadOnly(name)) {
    return 1;
  }

  long newLength = oldLength;
  for (int p = 0; p < patchCount; p++) {
    assert(patches[p].offset >= 0);
    long end = patches[p].offset + static_cast<long>(patches[p].count);
    if (end > newLength) newLength = end;
  }

  char temporary[kTemporaryPathSize];
  FILE *out = CreateTemporaryFor(name, temporary, sizeof temporary);
  if (out == nullptr) {
    if (old != nullptr) CloseStorageFile(old);
    return 1;
  }
  int failed = 0;
  unsigned char chunk[kChunkSize];
  for (long at = 0; at < newLength && !failed; at += static_cast<long>(kChunkSize)) {
    long size = newLength - at < static_cast<long>(kChunkSize) ? newLength - at : static_cast<long>(kChunkSize);
    memset(chunk, 0, static_cast<size_t>(size));
    if (at < oldLength) {
      size_t have = static_cast<size_t>(oldLength - at < size ? oldLength - at : size);
      if (FileOperationFails(kFileRead) || fread(chunk, 1, have, old) != have) failed = 1;
    }
    for (int p = 0; p < patchCount; p++) {
      long from = patches[p].offset > at ? patches[p].offset : at;
      long patchEnd = patches[p].offset + static_cast<long>(patches[p].count);
      long to = patchEnd < at + size ? patchEnd : at + size;
      if (from < to) {
        memcpy(chunk + (from - at), patches[p].bytes + (from - patches[p].offset), static_cast<size_t>(to - from));
      }
    }
    if (!failed && (FileOperationFails(kFileWrite) || fwrite(chunk, 1, static_cast<size_t>(size), out) != static_cast<size_t>(size))) {
      failed = 1;
    }
  }
  if (old != nullptr) CloseStorageFile(old);
  if (CloseStorageFile(out) != 0) failed = 1;
  if (!failed && ReplaceFileWith(temporary, name) != 0) failed = 1;
  if (failed) remove(temporary);  // not counted: a fault here would only leave litter behind
  return failed;
}
