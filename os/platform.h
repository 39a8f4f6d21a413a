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

// What tells one file from another, under whatever name or link it is reached.
struct FileIdentity {
  uint64_t volume;  // device (POSIX) or volume serial (Windows); 0 with index 0: no file
  uint64_t index;   // inode (POSIX) or file index (Windows)
};

// An input opened for reading: a file, or bytes read into memory (standard input, several
// inputs taken as one).
struct InputFile {
  intptr_t handle;             // the system's handle; -1 when closed, and for bytes in memory
  uint64_t size;               // length in bytes when opened
  FileIdentity identity;       // the file's; none for bytes in memory and standard input
  const unsigned char *bytes;  // the whole file once mapped, or the bytes in memory; null before, and when empty
  uintptr_t mapping;           // the system's mapping object, if it needs one
  bool inMemory;               // bytes in memory, freed when it is closed: nothing on disk can change them
  bool standardInput;          // the process's standard input, read in sequence; left open when closed
};

// Opens a regular file for reading and takes its length and identity. The open never
// waits: a FIFO or device is refused, not read. Returns 0, or 1 when it cannot be opened
// or is not a regular file (errno, or GetLastError, tells why).
int OpenInputFile(const char *name, InputFile *file);

// Opens standard input. A regular file read from its start (POSIX: "< file") is opened as
// OpenInputFile opens a named one, with its length and identity, and is left as read to its
// end; anything else is read in sequence (ReadInputNext; in binary on Windows), its size not
// known (0, and standardInput set). Returns 0.
int OpenStandardInput(InputFile *file);

// Reads up to count bytes of standard input (kFileRead). Returns the bytes read, 0 at
// its end, or -1.
int64_t ReadInputNext(const InputFile *file, void *bytes, size_t count);

// Makes an input of size bytes already in memory, taking them over (AllocateZeroed's; freed
// when the input is closed).
void AdoptInputBytes(InputFile *file, unsigned char *bytes, uint64_t size);

// 1 when the file's length read 0 but reading it gives bytes all the same (files that
// the system makes up as they are read): such a file cannot be mapped or counted.
int InputHasUnsizedContent(const InputFile *file);

// Maps the whole file read-only (nothing for an empty file or bytes in memory). Returns 0,
// or 1 on failure.
int MapInputFile(InputFile *file);

// 1 when the file's length on disk is no longer the length it had when opened; 0 when it
// is (always, for bytes in memory); -1 when it cannot be told (the system refused to say).
int InputFileChanged(const InputFile *file);

void CloseInputFile(InputFile *file);

// An output written through one large buffer: a new file beside the named one that takes
// its place only when the run has succeeded (CloseOutputFile), or standard output.
struct OutputFile {
  intptr_t handle;         // -1 when closed
  unsigned char *buffer;   // kOutputBufferSize bytes, allocated by OpenOutputFile
  size_t used;             // bytes waiting in the buffer
  uint64_t written;        // bytes handed to the system so far
  int failed;              // 1 after any failed write
  int closedPipe;          // 1 when a write found standard output's reader gone
  bool standardOutput;     // the process's standard output: left open when closed, never renamed
  bool inSequence;         // written in sequence: standard output that is a pipe, a terminal or appended to
  uint64_t base;           // standard output in a regular file: the offset its first byte goes to
  char name[256];          // the name it was opened by
  char target[256];        // the file the new one replaces: name, or where a link named name leads
  char newName[280];       // the new file beside it while it is written; empty for standard output
  FileIdentity identity;   // the named file's when it existed, else none
  FileIdentity newIdentity;  // the new file's
};

constexpr size_t kOutputBufferSize = size_t{4} << 20;  // bytes per write

constexpr int kOutputOpened = 0;
constexpr int kOutputCannotOpen = 1;
constexpr int kOutputIsInput = 2;
constexpr int kOutputNoMemory = 3;

// Opens the output named name: checks, without opening it, that a file of that name is a
// regular file and none of the inputs (under whatever spelling or link), then creates a new
// file beside it (beside where a link leads), exclusively under a unique name, that takes
// its place when the run succeeds. The named file stays untouched until then. Returns
// kOutputOpened; kOutputCannotOpen (also for anything but a regular file, and when the new
// file cannot be created); kOutputIsInput; or kOutputNoMemory (its buffer could not be had).
int OpenOutputFile(const char *name, const FileIdentity *inputs, int inputCount, OutputFile *file);

// Opens standard output: written in sequence, in binary on Windows; on POSIX a regular file
// not opened to append takes writes at offsets from where it stands ("> file"), and is left
// standing at its end when closed. Returns kOutputOpened, or kOutputNoMemory.
int OpenStandardOutput(OutputFile *file);

// Opens the statistics report for writing the way an input is refused: without truncating
// it or waiting, and refusing anything but a regular file. It is refused too when it is one
// of the inputs or the output (the named one, or the new one beside it), which must stay as
// they are; otherwise it is emptied. Returns the stream, or null.
FILE *OpenReportFile(const char *path, const FileIdentity *inputs, int inputCount, const OutputFile *output);

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
// counters are not touched, so threads may call it at once for parts that do not overlap).
// Standard output takes no offsets: it is written in sequence, and its callers write in
// order from one thread. Returns 0, or 1 when a write failed.
int WriteOutputAt(const OutputFile *file, const void *bytes, size_t count, uint64_t offset);

// keep 1: writes what is buffered, closes, and puts the new file in the place of the named
// one; returns 0, or 1 if any write, the close or the replacement failed. keep 0, or a
// failure: the new file is removed and the named one left as it was. Standard output is
// only written and closed.
int CloseOutputFile(OutputFile *file, int keep);

// ---- Inputs read in sequence, and the external sort's run files.

// Reads up to count bytes of an open input at offset (a file operation of the fault
// simulation, kFileRead; bytes in memory are copied). Returns the bytes read, 0 at the end
// of the file, or -1.
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

// Gives count bytes of a run file from offset back to the system (a merge has read them):
// their room on the disk and their pages in memory, for what the run writes next. Where
// the system cannot, nothing. The file's length stays.
void ReleaseRunFileBytes(const RunFile *file, uint64_t offset, uint64_t count);

// Closes a run file, which takes it away; nothing for one that is not open.
void RemoveRunFile(RunFile *file);

// Makes a run file an input of its written bytes: the input takes over its handle, and
// the file goes when the input is closed.
void InputFromRunFile(RunFile *run, InputFile *file);

// The system's temporary folder (TMPDIR, else /tmp; GetTempPath on Windows), without a
// separator at its end, cut to capacity - 1 characters.
void SystemTemporaryFolder(char *folder, size_t capacity);

// Bytes of physical memory, or 0 when the system does not tell.
uint64_t PhysicalMemoryBytes();

// While a run writes its output: an interrupt (Ctrl-C, SIGINT, SIGTERM, the console
// closed) removes the new output file before the process ends as the interrupt asks, so the
// named one stays as it was. Run files need nothing: they go with the process.
// OpenOutputFile starts watching as it creates the new file (no interrupt comes between);
// StopWatchingInterrupts, after CloseOutputFile, restores what was there.
void StopWatchingInterrupts();

// 1 once a write to standard output found its reader gone (a closed pipe).
int StandardOutputClosed();

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

// realloc that the fault simulation can make fail (an allocation): bytes, grown or shrunk
// to size, its new bytes not zeroed; null when it cannot be had, bytes then left as they were.
void *ResizeAllocation(void *bytes, size_t size);

// With persistent 1, the chosen operation and every one after it fail, as a full disk or
// a lost device would have them. With a kind (kFileOpen ...), only operations of that
// kind are counted and failed.
void SetFileFaultForTesting(uint64_t failingOperation, int persistent = 0, int kind = -1);
void SetAllocationFaultForTesting(uint64_t failingAllocation);
uint64_t FileOperationsCounted();
uint64_t AllocationsCounted();

// Test hook: standard input read in sequence even when it is a regular file, as a pipe is
// (POSIX; Windows always reads it in sequence).
void SetStandardInputInSequenceForTesting(bool inSequence);

// Test hook: replaces the clock and the local time (null restores them).
void SetClockForTesting(uint32_t (*milliseconds)(), void (*localTime)(LocalTime *));

#endif
