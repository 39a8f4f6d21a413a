#include "storage/storagefile.h"

#include <cassert>
#include <cstring>

#include "engine/sorttypes.h"
#include "shell/winsys.h"

static const char kTemporaryName[] = "Pelmar.tmp";  // the new content, until it replaces a file
constexpr size_t kChunkSize = 4096;                 // bytes copied per step of a rewrite

static long FaultAfterBytes = -1;  // test hook: bytes a rewrite may write before it fails
static int FaultClose = 0;         // test hook: 1 makes the temporary file's close fail

// The temporary file's name: the folder part of name (through its last separator) and
// kTemporaryName. Returns 0, or 1 when it does not fit.
static int TemporaryNameFor(const char *name, char *temporary, size_t capacity) {
  const char *separator = strrchr(name, kPathSeparator);
  size_t folder = separator == nullptr ? 0 : static_cast<size_t>(separator - name) + 1;
  if (folder + sizeof kTemporaryName > capacity) return 1;
  memcpy(temporary, name, folder);
  memcpy(temporary + folder, kTemporaryName, sizeof kTemporaryName);
  return 0;
}

// 1 when name exists but may not be written: a file the user made read-only stays so.
static int ExistsReadOnly(const char *name) {
  FILE *file = fopen(name, "rb");
  if (file == nullptr) return 0;
  fclose(file);
  file = fopen(name, "r+b");
  if (file == nullptr) return 1;
  fclose(file);
  return 0;
}

// Writes one chunk of the temporary file; the test hook may cut it short.
static int WriteChunk(FILE *file, const unsigned char *bytes, size_t count, long *written) {
  size_t allowed = count;
  if (FaultAfterBytes >= 0) {
    long room = FaultAfterBytes - *written;
    allowed = room <= 0 ? 0 : (static_cast<size_t>(room) < count ? static_cast<size_t>(room) : count);
  }
  size_t done = fwrite(bytes, 1, allowed, file);
  *written += static_cast<long>(done);
  return done == count ? 0 : 1;
}

long FileLength(FILE *file) {
  if (fseek(file, 0, SEEK_END) != 0) return -1;
  return ftell(file);
}

int ReadFileAt(FILE *file, long offset, unsigned char *bytes, size_t count) {
  if (offset < 0 || fseek(file, offset, SEEK_SET) != 0) return 1;
  return fread(bytes, 1, count, file) == count ? 0 : 1;
}

int RewriteFile(const char *name, int keep, const FilePatch *patches, int patchCount) {
  char temporary[kNameSize + 16];
  if (TemporaryNameFor(name, temporary, sizeof temporary) != 0) return 1;

  FILE *old = nullptr;
  long oldLength = 0;
  if (keep) {
    old = fopen(name, "r+b");
    if (old == nullptr) return 1;
    oldLength = FileLength(old);
    if (oldLength < 0 || fseek(old, 0, SEEK_SET) != 0) {
      fclose(old);
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

  FILE *out = fopen(temporary, "wb");
  if (out == nullptr) {
    if (old != nullptr) fclose(old);
    return 1;
  }
  int failed = 0;
  long written = 0;
  unsigned char chunk[kChunkSize];
  for (long at = 0; at < newLength && !failed; at += static_cast<long>(kChunkSize)) {
    long size = newLength - at < static_cast<long>(kChunkSize) ? newLength - at : static_cast<long>(kChunkSize);
    memset(chunk, 0, static_cast<size_t>(size));
    if (at < oldLength) {
      size_t have = static_cast<size_t>(oldLength - at < size ? oldLength - at : size);
      if (fread(chunk, 1, have, old) != have) failed = 1;
    }
    for (int p = 0; p < patchCount; p++) {
      long from = patches[p].offset > at ? patches[p].offset : at;
      long patchEnd = patches[p].offset + static_cast<long>(patches[p].count);
      long to = patchEnd < at + size ? patchEnd : at + size;
      if (from < to) {
        memcpy(chunk + (from - at), patches[p].bytes + (from - patches[p].offset), static_cast<size_t>(to - from));
      }
    }
    if (!failed && WriteChunk(out, chunk, static_cast<size_t>(size), &written) != 0) failed = 1;
  }
  if (old != nullptr) fclose(old);
  if (fclose(out) != 0 || FaultClose) failed = 1;
  if (!failed && MoveFileOver(temporary, name) != 0) failed = 1;
  if (failed) remove(temporary);
  return failed;
}

void SetWriteFaultForTesting(long failAfterBytes, int failClose) {
  FaultAfterBytes = failAfterBytes;
  FaultClose = failClose;
}
