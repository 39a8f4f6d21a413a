// The one door to the operating system for the engine and the storage: the input file
// mapped into memory or read in sequence, the buffered output file, the external sort's run
// files, the guard around reads of the mapping, interrupts, the millisecond clock and the
// local time, exclusive create and replace, and the fault hook over every file operation.
// One implementation per platform (platform_posix.cpp, platform_win32.cpp) and the portable
// part (platform.cpp). Call order in a run: OpenInputFile, MapInputFile, reads of
// file->bytes inside RunGuarded, OpenOutputFile, WriteOutputFile..., CloseOutputFile,
// CloseInputFile.
#ifndef PELMAR_OS_PLATFORM_H
#define PELMAR_OS_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// Opens a regular file for reading and takes its length and identity. The open never
// waits: a FIFO or device is refused, not read. Returns 0, or 1 when it cannot be opened
// or is not a regular file.
int OpenInputFile(const char *name, InputFile *file);

// 1 when the file's length read 0 but reading it gives bytes all the same (files that
// the system makes up as they are read): such a file cannot be mapped or counted.
int InputHasUnsizedContent(const InputFile *file);

// Maps the whole file read-only (nothing for an empty file). Returns 0, or 1 on failure.
int MapInputFile(InputFile *file);

// 1 when the file's length on disk is no longer the length it had when opened; 0 when it
// is; -1 when it cannot be told (the system refused to say).
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
  uint64_t volume;         // identity, as InputFile's
  uint64_t index;
};

constexpr size_t kOutputBufferSize = size_t{4} << 20;  // bytes per write

constexpr int kOutputOpened = 0;
constexpr int kOutputCannotOpen = 1;
constexpr int kOutputIsInput = 2;
constexpr int kOutputNoMemory = 3;

// Opens the output without truncating it and without waiting, compares its identity with
// the input's and only then empties it. Returns kOutputOpened; kOutputCannotOpen, also for
// anything but a regular file and for a file whose identity cannot be told; kOutputIsInput
// (the output names the input file, under whatever spelling or link: it is closed
// untouched); or kOutputNoMemory (its buffer could not be had: it is closed untouched).
int OpenOutputFile(const char *name, const InputFile *input, OutputFile *file);

// Opens the statistics report for writing the way the output is opened: without
// truncating it or waiting, and refusing anything but a regular file. It is refused too
// when it is the input or the output file, which must stay as they are; otherwise it is
// emptied. Returns the stream, or null.
FILE *OpenReportFile(const char *path, const InputFile *input, const OutputFile *output);

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

// Writes count bytes at the given offset, beside the buffered writes (the file's buffer and
// counters are not touched, so threads may call it at once for parts that do not overlap:
// an output is always a regular file). Returns 0, or 1 when a write failed.
int WriteOutputAt(const OutputFile *file, const void *bytes, size_t count, uint64_t offset);

// keep 1: writes what is buffered and closes; returns 0, or 1 if any write or the close
// failed, in which case the file is emptied. keep 0: empties the file and closes it.
int CloseOutputFile(OutputFile *file, int keep);

// ---- Inputs read in sequence, and the external sort's run files.

// Reads up to count bytes of an open input at offset (a file operation of the fault
// simulation, kFileRead). Returns the bytes read, 0 at the end of the file, or -1.
int64_t ReadInputAt(const InputFile *file, void *bytes, size_t count, uint64_t offset);

// Gives back a mapping made by MapInputFile (the file stays open); nothing when unmapped.
void UnmapInputFile(InputFile *file);

// Writes what is buffered (kFileWrite). Returns 0, or 1 once any write has failed.
int FlushOutputFile(OutputFile *file);

// A run file of the external sort: written and read at chosen offsets, with no buffer of
// its own (the writer brings its own).
struct RunFile {
  intptr_t handle;   // -1 when closed
  uint64_t written;  // bytes written to it
  char name[256];    // the name it was created under, for messages (gone from the folder on POSIX)
};

// Creates a new run file in folder: a unique name (the process number and a counter),
// created exclusively (never an existing file or link), open for reading and writing. The
// name is gone from the folder at once on POSIX, and when the file is closed on Windows, so
// the file disappears with the process on every way out. A file operation of the fault
// simulation (kFileOpen). Returns 0, or 1 when it cannot be created (no such folder, no
// room, no permission).
int CreateRunFile(const char *folder, RunFile *file);

// Writes count bytes at offset (kFileWrite). Returns 0, or 1 when a write failed.
int WriteRunFileAt(const RunFile *file, const void *bytes, size_t count, uint64_t offset);

// Reads up to count bytes of a run file at offset (kFileRead). Returns the bytes read, 0
// at its end, or -1.
int64_t ReadRunFile(const RunFile *file, void *bytes, size_t count, uint64_t offset);

// Closes a run file, which takes it away; nothing for one that is not open.
void RemoveRunFile(RunFile *file);

// The system's temporary folder (TMPDIR, else /tmp; GetTempPath on Windows), without a
// separator at its end, cut to capacity - 1 characters.
void SystemTemporaryFolder(char *folder, size_t capacity);

// Bytes of physical memory, or 0 when the system does not tell.
uint64_t PhysicalMemoryBytes();

// While a run writes its output: an interrupt (Ctrl-C, SIGINT, SIGTERM, the console
// closed) empties the output before the process ends as the interrupt asks. Run files need
// nothing: they go with the process. StopWatchingInterrupts restores what was there.
void WatchInterrupts(const OutputFile *output);
void StopWatchingInterrupts();

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

// Files the storage keeps (settings and parameter files) are written whole into a new
// file beside them that then takes their place.
// CreateExclusiveFile creates name as a new, empty file open for writing in binary mode;
// it never opens a file or a link that already has that name. Null when the name is taken
// or the file cannot be created.
FILE *CreateExclusiveFile(const char *name);

// Puts the file from in the place of the file to, replacing it if it exists, in one step:
// afterwards to holds either its old content or the whole new one. Both name files in
// one folder. Returns 0, or 1 when nothing changed.
int ReplaceFileWith(const char *from, const char *to);

// 1 when something (a file, a folder, a link) has this name, and when that cannot be told;
// 0 only when the name is surely free. Not a file operation of the fault simulation.
int PathExists(const char *name);

// A number that differs between processes running at the same time.
uint32_t ProcessNumber();

// Fault simulation. Every file operation of the engine and the storage, and every
// allocation of a run's workspace, asks here first whether it is to fail. Tests choose
// the Nth operation counted from the moment they set the fault (0: none fails) and learn
// how many were counted, so that a loop can fail each one in turn.
constexpr int kFileOpen = 0;
constexpr int kFileRead = 1;
constexpr int kFileMap = 2;
constexpr int kFileWrite = 3;
constexpr int kFileClose = 4;
constexpr int kFileRename = 5;
constexpr int kFileDelete = 6;

// 1 when this operation (one of kFileOpen ...) is the one chosen to fail: the caller then
// acts as if the system had refused it.
int FileOperationFails(int operation);

// calloc that the fault simulation can make fail.
void *AllocateZeroed(size_t count, size_t size);

// With persistent 1, the chosen operation and every one after it fail, as a full disk or
// a lost device would have them. With a kind (kFileOpen ...), only operations of that
// kind are counted and failed.
void SetFileFaultForTesting(uint64_t failingOperation, int persistent = 0, int kind = -1);
void SetAllocationFaultForTesting(uint64_t failingAllocation);
uint64_t FileOperationsCounted();
uint64_t AllocationsCounted();

// Test hook: replaces the clock and the local time (null restores them).
void SetClockForTesting(uint32_t (*milliseconds)(), void (*localTime)(LocalTime *));

#endif
