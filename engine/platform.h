// The sort engine's only contact with the operating system: the input file mapped into
// memory, the buffered output file, the guard around reads of the mapping, the
// millisecond clock and the local time. One implementation per platform; the rest of
// the engine is portable. Call order in a run: OpenInputFile, MapInputFile, reads of
// file->bytes inside RunGuarded, OpenOutputFile, WriteOutputFile..., CloseOutputFile,
// CloseInputFile.
#ifndef PELMAR_ENGINE_PLATFORM_H
#define PELMAR_ENGINE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// An input file opened for reading.
struct InputFile {
  intptr_t handle;             // the system's handle; -1 when closed
  uint64_t size;               // length in bytes when opened
  uint64_t volume;             // identity: device (POSIX) or volume serial (Windows)
  uint64_t index;              // identity: inode (POSIX) or file index (Windows)
  const unsigned char *bytes;  // the whole file once mapped; null before, and for an empty file
  uintptr_t mapping;           // the system's mapping object, if it needs one
};

// Opens a regular file for reading and takes its length and identity.
// Returns 0, or 1 when it cannot be opened or is not a regular file.
int OpenInputFile(const char *name, InputFile *file);

// Maps the whole file read-only (nothing for an empty file). Returns 0, or 1 on failure.
int MapInputFile(InputFile *file);

// 1 when the file's length on disk is no longer the length it had when opened.
int InputFileChanged(const InputFile *file);

void CloseInputFile(InputFile *file);

// An output file written through one large buffer.
struct OutputFile {
  intptr_t handle;         // -1 when closed
  unsigned char *buffer;   // kOutputBufferSize bytes, allocated by OpenOutputFile
  size_t used;             // bytes waiting in the buffer
  uint64_t written;        // bytes handed to the system so far
  int failed;              // 1 after any failed write
  char name[256];          // the name it was opened by, to empty it after a failed close
};

constexpr size_t kOutputBufferSize = size_t{4} << 20;  // bytes per write

constexpr int kOutputOpened = 0;
constexpr int kOutputCannotOpen = 1;
constexpr int kOutputIsInput = 2;

// Opens the output without truncating it, compares its identity with the input's and only
// then empties it. Returns kOutputOpened, kOutputCannotOpen, or kOutputIsInput (the output
// names the input file, under whatever spelling or link: it is closed untouched).
int OpenOutputFile(const char *name, const InputFile *input, OutputFile *file);

// Buffers bytes, writing whole buffers. Returns 0, or 1 once any write has failed.
int WriteOutputBuffered(OutputFile *file, const void *bytes, size_t count);

// The same, with the common case (the bytes fit the buffer's room) inline.
inline int WriteOutputFile(OutputFile *file, const void *bytes, size_t count) {
  if (count < kOutputBufferSize - file->used) {
    memcpy(file->buffer + file->used, bytes, count);
    file->used += count;
    return file->failed;
  }
  return WriteOutputBuffered(file, bytes, count);
}

// 1 when the output takes writes at chosen offsets (a regular file), so that several
// threads may write their parts of it at once through WriteOutputAt.
int OutputTakesOffsets(const OutputFile *file);

// Writes count bytes at the given offset, beside the buffered writes (the file's buffer and
// counters are not touched, so threads may call it at once for parts that do not overlap).
// Returns 0, or 1 when a write failed. The test hook's byte limit fails any write that
// would reach past it.
int WriteOutputAt(const OutputFile *file, const void *bytes, size_t count, uint64_t offset);

// keep 1: writes what is buffered and closes; returns 0, or 1 if any write or the close
// failed, in which case the file is emptied. keep 0: empties the file and closes it.
int CloseOutputFile(OutputFile *file, int keep);

// Runs work(context) and returns its result; returns -1 instead if a read of a mapped
// input faulted (the file was cut short under us, or the device failed).
int RunGuarded(int (*work)(void *context), void *context);

// The same for another thread's reads while RunGuarded runs on the calling thread (which
// keeps the fault handler in place): returns work(context), or -1 if a read faulted.
int RunGuardedInThread(int (*work)(void *context), void *context);

// Milliseconds of elapsed time from a steady clock.
uint32_t ElapsedMilliseconds();

struct LocalTime {
  int year, month, day, hour, minute;
};
void ReadLocalTime(LocalTime *time);

// Test hooks: replace the clock and the local time (null restores them), and make the
// output fail after a number of bytes written, or at its close.
void SetClockForTesting(uint32_t (*milliseconds)(), void (*localTime)(LocalTime *));
void SetOutputFaultForTesting(int64_t failAfterBytes, int failClose);

#endif
