// Win32 implementation of the os door (platform.h).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/platform.h"
#include "os/platform_os.h"

static HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

static volatile LONG gStandardOutputClosed = 0;  // a write to standard output found no reader

static FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION &info) {
  return FileIdentity{info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

static bool SameFile(const FileIdentity &a, const FileIdentity &b) { return a.volume == b.volume && a.index == b.index; }

// The mapped input's view, for the guard to recognise faults inside it. A run maps one
// input at a time.
static const unsigned char *volatile gViewStart = nullptr;
static volatile uint64_t gViewSize = 0;

int OpenInputFile(const char *name, InputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  if (FileOperationFails(kFileOpen)) return 1;
  // Others may go on reading and writing it; while our view exists no one can shorten it.
  HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    return 1;
  }
  file->handle = reinterpret_cast<intptr_t>(h);
  file->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  file->identity = IdentityOf(info);
  return 0;
}

void SetStandardInputInSequenceForTesting(bool) {}

int OpenStandardInput(InputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = reinterpret_cast<intptr_t>(GetStdHandle(STD_INPUT_HANDLE));
  file->standardInput = true;
  return 0;
}

int64_t ReadInputNext(const InputFile *file, void *bytes, size_t count) {
  if (FileOperationFails(kFileRead)) return -1;
  DWORD got = 0;
  const DWORD asked = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (ReadFile(Handle(file->handle), bytes, asked, &got, nullptr)) return got;
  const DWORD error = GetLastError();
  return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : -1;  // the writer closed its end
}

int InputHasUnsizedContent(const InputFile *file) {
  if (file->size != 0 || file->inMemory) return 0;
  if (FileOperationFails(kFileRead)) return 1;
  unsigned char byte;
  DWORD got = 0;
  OVERLAPPED at;
  memset(&at, 0, sizeof at);
  return ReadFile(Handle(file->handle), &byte, 1, &got, &at) && got > 0;
}

int MapInputFile(InputFile *file) {
  if (file->size == 0 || file->inMemory) return 0;
  if (FileOperationFails(kFileMap)) return 1;
  HANDLE mapping = CreateFileMappingA(Handle(file->handle), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return 1;
  void *bytes = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (bytes == nullptr) {
    CloseHandle(mapping);
    return 1;
  }
  file->mapping = reinterpret_cast<uintptr_t>(mapping);
  file->bytes = static_cast<const unsigned char *>(bytes);
  gViewSize = file->size;
  gViewStart = file->bytes;
  return 0;
}

int InputFileChanged(const InputFile *file) {
  LARGE_INTEGER size;
  if (file->inMemory) return 0;
  if (FileOperationFails(kFileRead) || !GetFileSizeEx(Handle(file->handle), &size)) return -1;
  return static_cast<uint64_t>(size.QuadPart) != file->size ? 1 : 0;
}

void CloseInputFile(InputFile *file) {
  if (file->inMemory) {
    free(const_cast<unsigned char *>(file->bytes));
  } else {
    if (file->bytes != nullptr && file->bytes == gViewStart) gViewStart = nullptr;
    if (file->bytes != nullptr) UnmapViewOfFile(file->bytes);
  }
  if (file->mapping != 0) CloseHandle(reinterpret_cast<HANDLE>(file->mapping));
  if (file->handle != -1 && !file->standardInput) CloseHandle(Handle(file->handle));
  file->bytes = nullptr;
  file->mapping = 0;
  file->handle = -1;
}

int64_t WriteSomeBytes(intptr_t handle, const unsigned char *bytes, size_t count) {
  const DWORD chunk = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
  DWORD done = 0;
  if (FileOperationFails(kFileWrite) || BeginWrite() == 0) return -1;
  const BOOL written = WriteFile(Handle(handle), bytes, chunk, &done, nullptr);
  EndWrite();
  if (!written && Handle(handle) == GetStdHandle(STD_OUTPUT_HANDLE)) {
    const DWORD error = GetLastError();  // the reader's end closed, as each system says it
    if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) gStandardOutputClosed = 1;
  }
  if (!written || done == 0) return -1;
  return done;
}

int StandardOutputClosed() { return gStandardOutputClosed; }

int64_t WriteSomeBytesAt(intptr_t handle, const unsigned char *bytes, size_t count, uint64_t offset) {
  const DWORD chunk = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
  OVERLAPPED at;
  memset(&at, 0, sizeof at);
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD done = 0;
  if (FileOperationFails(kFileWrite) || BeginWrite() == 0) return -1;
  const BOOL written = WriteFile(Handle(handle), bytes, chunk, &done, &at);
  EndWrite();
  if (!written || done == 0) return -1;
  return done;
}

// The identity of the file name names, without opening it for reading or writing: 0, or 1
// when there is no such file, 2 when it is something else than a file on disk.
static int IdentityOfName(const char *name, FileIdentity *identity) {
  HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 2;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool file = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (file) *identity = IdentityOf(info);
  CloseHandle(h);
  return file ? 0 : 2;
}

static volatile LONG gNewFileCounter = 0;  // names of new output files this process has tried
static void WatchInterrupts(const OutputFile *output);

int OpenOutputFile(const char *name, const FileIdentity *inputs, int inputCount, OutputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  snprintf(file->name, sizeof file->name, "%s", name);
  snprintf(file->target, sizeof file->target, "%s", name);
  if (FileOperationFails(kFileOpen)) return kOutputCannotOpen;
  const int named = IdentityOfName(name, &file->identity);
  if (named == 2) return kOutputCannotOpen;
  for (int i = 0; i < inputCount && named == 0; i++) {
    if (SameFile(file->identity, inputs[i])) return kOutputIsInput;
  }
  file->buffer = static_cast<unsigned char *>(AllocateZeroed(1, kOutputBufferSize));
  if (file->buffer == nullptr) return kOutputNoMemory;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; attempt++) {
    snprintf(file->newName, sizeof file->newName, "%s.pelmar-%lu-%ld", file->target, GetCurrentProcessId(),
             static_cast<long>(InterlockedIncrement(&gNewFileCounter)));
    // CREATE_NEW never opens what exists; sharing delete lets an interrupt remove it while open.
    h = CreateFileA(file->newName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h), DeleteFileA(file->newName);
    free(file->buffer);
    file->buffer = nullptr;
    return kOutputCannotOpen;
  }
  file->newIdentity = IdentityOf(info);
  file->handle = reinterpret_cast<intptr_t>(h);
  WatchInterrupts(file);
  return kOutputOpened;
}

int OpenStandardOutput(OutputFile *file) {
  memset(file, 0, sizeof *file);
  snprintf(file->name, sizeof file->name, "-");
  file->buffer = static_cast<unsigned char *>(AllocateZeroed(1, kOutputBufferSize));
  if (file->buffer == nullptr) return kOutputNoMemory;
  file->handle = reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE));
  file->standardOutput = true;
  file->inSequence = true;
  return kOutputOpened;
}

FILE *OpenReportFile(const char *path, const FileIdentity *inputs, int inputCount, const OutputFile *output) {
  if (FileOperationFails(kFileOpen)) return nullptr;
  bool created = false;  // the report did not exist before
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    created = h != INVALID_HANDLE_VALUE;
  }
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  bool refused = GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info);
  const FileIdentity report = refused ? FileIdentity{0, 0} : IdentityOf(info);
  for (int i = 0; i < inputCount && !refused; i++) refused = SameFile(report, inputs[i]);
  refused = refused || SameFile(report, output->identity) || SameFile(report, output->newIdentity);
  // A new report under the name of an output that did not exist yet would be replaced by it.
  FileIdentity named;
  if (!refused && created && IdentityOfName(output->name, &named) == 0) refused = SameFile(report, named);
  FILE *stream = nullptr;
  if (!refused) {
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) SetEndOfFile(h);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (fd >= 0 && stream == nullptr) _close(fd);
    if (fd >= 0) h = INVALID_HANDLE_VALUE;
  }
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (stream == nullptr && created) DeleteFileA(path);
  return stream;
}

int CloseOutputFile(OutputFile *file, int keep) {
  if (file->handle == -1) return 0;
  HANDLE h = Handle(file->handle);
  if (keep && !file->failed && file->used > 0 && WriteAllBytes(file, file->buffer, file->used) != 0) file->failed = 1;
  free(file->buffer);
  file->buffer = nullptr;
  file->handle = -1;
  if (file->standardOutput) return keep ? file->failed : 0;
  const bool closeFailed = !CloseHandle(h) || FileOperationFails(kFileClose);
  if (keep && !file->failed && !closeFailed && ReplaceFileWith(file->newName, file->target) == 0) return 0;
  DeleteFileA(file->newName);
  if (keep) file->failed = 1;
  return keep ? 1 : 0;
}

FILE *CreateExclusiveFile(const char *name) {
  if (FileOperationFails(kFileOpen)) return nullptr;
  // CREATE_NEW fails for any name that exists, a link included.
  HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    DeleteFileA(name);
    return nullptr;
  }
  FILE *stream = _fdopen(fd, "wb");
  if (stream == nullptr) {
    _close(fd);
    DeleteFileA(name);
  }
  return stream;
}

// rename never replaces an existing file on Windows.
int ReplaceFileWith(const char *from, const char *to) {
  if (FileOperationFails(kFileRename)) return 1;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : 1;
}

int PathExists(const char *name) {
  if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) return 1;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

uint32_t ProcessNumber() { return static_cast<uint32_t>(GetCurrentProcessId()); }

// The guard. No one can shorten a file on Windows while a view of it is mapped, but a
// read of the view can still fail: the network drive or the removable disk it lives on
// goes away, or the disk fails. Windows raises EXCEPTION_IN_PAGE_ERROR then; Wine raises
// an access violation at the address in the view (when a process outside Wine cuts the
// file short). Either one, on a thread inside the guard, sends that thread back to where
// its guard began, as the POSIX guard does for SIGBUS.

#if !defined(__x86_64__)
#error "the guard resumes a faulted thread through the x86-64 registers"
#endif

// Where a fault on this thread goes: a __builtin_setjmp buffer while the thread runs
// guarded work, else null. The builtin jump only restores registers: it unwinds nothing
// that a system unwinder would have to walk through the faulting code.
static thread_local void **gGuardJump = nullptr;

[[noreturn]] static void LeaveFaultedWork() { __builtin_longjmp(gGuardJump, 1); }

// A fault of a read inside the input's view. Both records give the address read second.
static int IsGuardedFault(const EXCEPTION_RECORD *record) {
  const DWORD code = record->ExceptionCode;
  if ((code != EXCEPTION_IN_PAGE_ERROR && code != EXCEPTION_ACCESS_VIOLATION) || record->NumberParameters < 2) {
    return 0;
  }
  const uintptr_t address = static_cast<uintptr_t>(record->ExceptionInformation[1]);
  const uintptr_t start = reinterpret_cast<uintptr_t>(gViewStart);
  return start != 0 && address >= start && address - start < gViewSize;
}

// Recognises a guarded fault and resumes the thread, out of the exception's dispatch,
// in LeaveFaultedWork; everything else goes on to the other handlers.
static LONG CALLBACK OnGuardedFault(EXCEPTION_POINTERS *exception) {
  if (gGuardJump == nullptr || !IsGuardedFault(exception->ExceptionRecord)) return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT *context = exception->ContextRecord;
  context->Rsp = ((context->Rsp - 256) & ~DWORD64{15}) - 8;  // below the faulting frame, as after a call
  context->Rip = reinterpret_cast<DWORD64>(&LeaveFaultedWork);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Runs work on this thread with the handler in place; -1 after a guarded fault.
static int RunWithJump(int (*work)(void *context), void *context) {
  void *jump[5];
  volatile int result = -1;
  if (__builtin_setjmp(jump) == 0) {
    gGuardJump = jump;
    result = work(context);
  }
  gGuardJump = nullptr;
  return result;
}

// The handler serves every thread of the process; each thread keeps its own jump.
int RunGuarded(int (*work)(void *context), void *context) {
  void *handler = AddVectoredExceptionHandler(1, OnGuardedFault);
  if (handler == nullptr) return work(context);
  const int result = RunWithJump(work, context);
  RemoveVectoredExceptionHandler(handler);
  return result;
}

int RunGuardedInThread(int (*work)(void *context), void *context) { return RunWithJump(work, context); }

void ReadSystemLocalTime(LocalTime *time) {
  SYSTEMTIME local;
  GetLocalTime(&local);
  time->year = local.wYear;
  time->month = local.wMonth;
  time->day = local.wDay;
  time->hour = local.wHour;
  time->minute = local.wMinute;
}

// Reads up to count bytes (at most 1 GiB) at offset: the number read, 0 at the end, -1 on
// failure. A file operation of the fault simulation.
static int64_t ReadHandleAt(intptr_t handle, void *bytes, size_t count, uint64_t offset) {
  if (FileOperationFails(kFileRead)) return -1;
  OVERLAPPED at;
  memset(&at, 0, sizeof at);
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD asked = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!ReadFile(Handle(handle), bytes, asked, &got, &at)) return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return got;
}

int64_t ReadInputAt(const InputFile *file, void *bytes, size_t count, uint64_t offset) {
  if (file->inMemory) return ReadInputBytes(file, bytes, count, offset);
  return ReadHandleAt(file->handle, bytes, count, offset);
}

void UnmapInputFile(InputFile *file) {
  if (file->inMemory) return;
  if (file->bytes != nullptr && file->bytes == gViewStart) gViewStart = nullptr;
  if (file->bytes != nullptr) UnmapViewOfFile(file->bytes);
  if (file->mapping != 0) CloseHandle(reinterpret_cast<HANDLE>(file->mapping));
  file->bytes = nullptr;
  file->mapping = 0;
}

static volatile LONG gRunFileCounter = 0;  // names this process has tried

int CreateRunFile(const char *folder, RunFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  if (FileOperationFails(kFileOpen)) return 1;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; attempt++) {
    snprintf(file->name, sizeof file->name, "%s\\pelmar-%lu-%ld.run", folder, GetCurrentProcessId(),
             static_cast<long>(InterlockedIncrement(&gRunFileCounter)));
    // CREATE_NEW never opens what exists; the system deletes the file when its last handle
    // closes, also when the process is ended.
    h = CreateFileA(file->name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) return 1;
  file->handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

int64_t ReadRunFile(const RunFile *file, void *bytes, size_t count, uint64_t offset) {
  return ReadHandleAt(file->handle, bytes, count, offset);
}

void ReleaseRunFileBytes(const RunFile *, uint64_t, uint64_t) {}

void RemoveRunFile(RunFile *file) {
  if (file->handle != -1) CloseHandle(Handle(file->handle));
  file->handle = -1;
}

void InputFromRunFile(RunFile *run, InputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = run->handle;
  file->size = run->written;
  run->handle = -1;
}

void SystemTemporaryFolder(char *folder, size_t capacity) {
  char path[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof path, path);
  if (length == 0 || length > MAX_PATH) {
    path[0] = '.';
    length = 1;
  }
  while (length > 3 && (path[length - 1] == '\\' || path[length - 1] == '/')) length--;
  if (length > capacity - 1) length = static_cast<DWORD>(capacity - 1);
  memcpy(folder, path, length);
  folder[length] = '\0';
}

uint64_t PhysicalMemoryBytes() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

static char gWatchedName[300];         // the new output file while a run writes it
static volatile LONG gWatching = 0;

// Runs on a thread of its own when the console is interrupted or closed: removes the new
// output file and ends the process at once, which closes (and so deletes) the run files.
static BOOL WINAPI OnConsoleEvent(DWORD) {
  StopWritesAndWait();
  if (gWatching) DeleteFileA(gWatchedName);  // the named output stays as it was
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

static void WatchInterrupts(const OutputFile *output) {
  snprintf(gWatchedName, sizeof gWatchedName, "%s", output->newName);
  gWatching = 1;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void StopWatchingInterrupts() {
  if (!gWatching) return;
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  gWatching = 0;
}
