// POSIX implementation of the os door (platform.h).
#include <fcntl.h>
#include <limits.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "os/platform.h"
#include "os/platform_os.h"

// Each thread's guard: where a faulting read of the mapping on that thread jumps to.
static thread_local sigjmp_buf *gGuardJump = nullptr;
static thread_local volatile sig_atomic_t gGuardActive = 0;
static std::atomic<int> gStandardOutputClosed{0};  // a write to standard output found no reader

static FileIdentity IdentityOf(const struct stat &status) {
  return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

static bool SameFile(const FileIdentity &a, const FileIdentity &b) { return a.volume == b.volume && a.index == b.index; }

int OpenInputFile(const char *name, InputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  if (FileOperationFails(kFileOpen)) return 1;
  int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO would wait for a writer
  if (fd < 0) return 1;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return 1;
  }
  file->handle = fd;
  file->size = static_cast<uint64_t>(status.st_size);
  file->identity = IdentityOf(status);
  return 0;
}

// A pipe's buffer made as large as the system lets an unprivileged process have it (1 MiB
// by default), so that a gigabyte through it takes a sixteenth of the wake-ups; nothing
// for anything but a pipe, or where the system will not.
static void WidenPipe(int fd) {
#ifdef F_SETPIPE_SZ
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode)) fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#else
  (void)fd;
#endif
}

static bool gStandardInputInSequence = false;  // the test seam: every standard input as a pipe

void SetStandardInputInSequenceForTesting(bool inSequence) { gStandardInputInSequence = inSequence; }

int OpenStandardInput(InputFile *file) {
  memset(file, 0, sizeof *file);
  struct stat status;
  if (!gStandardInputInSequence && fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode) && lseek(STDIN_FILENO, 0, SEEK_CUR) == 0) {
    const int fd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0) {  // read where it lies, as a named file is: mapped, or at offsets
      lseek(STDIN_FILENO, 0, SEEK_END);
      file->handle = fd;
      file->size = static_cast<uint64_t>(status.st_size);
      file->identity = IdentityOf(status);
      return 0;
    }
  }
  file->handle = STDIN_FILENO;
  file->standardInput = true;
  WidenPipe(STDIN_FILENO);
  return 0;
}

int64_t ReadInputNext(const InputFile *file, void *bytes, size_t count) {
  if (FileOperationFails(kFileRead)) return -1;
  for (;;) {
    const ssize_t done = read(static_cast<int>(file->handle), bytes, count);
    if (done < 0 && errno == EINTR) continue;
    return done;
  }
}

int InputHasUnsizedContent(const InputFile *file) {
  unsigned char byte;
  if (file->size != 0 || file->inMemory) return 0;
  return FileOperationFails(kFileRead) || pread(static_cast<int>(file->handle), &byte, 1, 0) != 0;
}

int MapInputFile(InputFile *file) {
  if (file->size == 0 || file->inMemory) return 0;
  if (file->size > SIZE_MAX || FileOperationFails(kFileMap)) return 1;
  void *bytes = mmap(nullptr, static_cast<size_t>(file->size), PROT_READ, MAP_SHARED | MAP_POPULATE,
                     static_cast<int>(file->handle), 0);
  if (bytes == MAP_FAILED) return 1;
  file->bytes = static_cast<const unsigned char *>(bytes);
  return 0;
}

int InputFileChanged(const InputFile *file) {
  struct stat status;
  if (file->inMemory) return 0;
  if (FileOperationFails(kFileRead) || fstat(static_cast<int>(file->handle), &status) != 0) return -1;
  return static_cast<uint64_t>(status.st_size) != file->size ? 1 : 0;
}

void CloseInputFile(InputFile *file) {
  if (file->inMemory) {
    free(const_cast<unsigned char *>(file->bytes));
  } else if (file->bytes != nullptr) {
    munmap(const_cast<unsigned char *>(file->bytes), static_cast<size_t>(file->size));
  }
  if (file->handle >= 0 && !file->standardInput) close(static_cast<int>(file->handle));
  file->bytes = nullptr;
  file->handle = -1;
}

int64_t WriteSomeBytes(intptr_t handle, const unsigned char *bytes, size_t count) {
  if (FileOperationFails(kFileWrite) || BeginWrite() == 0) return -1;
  ssize_t done;
  do {
    done = write(static_cast<int>(handle), bytes, count);
  } while (done < 0 && errno == EINTR);
  EndWrite();
  if (done < 0 && errno == EPIPE && handle == STDOUT_FILENO) gStandardOutputClosed = 1;
  return done > 0 ? done : -1;
}

int StandardOutputClosed() { return gStandardOutputClosed; }

int64_t WriteSomeBytesAt(intptr_t handle, const unsigned char *bytes, size_t count, uint64_t offset) {
  if (FileOperationFails(kFileWrite) || BeginWrite() == 0) return -1;
  ssize_t done;
  do {
    done = pwrite(static_cast<int>(handle), bytes, count, static_cast<off_t>(offset));
  } while (done < 0 && errno == EINTR);
  EndWrite();
  return done > 0 ? done : -1;
}

static std::atomic<uint32_t> gNewFileCounter{0};  // names of new output files this process has tried

// Signals that end the process, blocked while a new output file is made and watched.
static void BlockInterrupts(sigset_t *previous) {
  sigset_t interrupts;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  sigaddset(&interrupts, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &interrupts, previous);
}

static void WatchInterrupts(const OutputFile *output);

// Creates the new file beside file->target, with the named file's mode when it exists;
// watches it. Returns its descriptor, or -1.
static int CreateNewOutput(OutputFile *file, const struct stat *named) {
  sigset_t previous;
  BlockInterrupts(&previous);  // no interrupt between the create and the watch: the name never outlives the run
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
    snprintf(file->newName, sizeof file->newName, "%s.pelmar-%u-%u", file->target, static_cast<unsigned>(getpid()),
             static_cast<unsigned>(gNewFileCounter++));
    fd = open(file->newName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  struct stat status;
  if (fd >= 0 && ((named != nullptr && fchmod(fd, named->st_mode & 07777) != 0) || fstat(fd, &status) != 0)) {
    close(fd);
    unlink(file->newName);
    fd = -1;
  }
  if (fd >= 0) {
    file->newIdentity = IdentityOf(status);
    file->handle = fd;
    WatchInterrupts(file);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return fd;
}

int OpenOutputFile(const char *name, const FileIdentity *inputs, int inputCount, OutputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  snprintf(file->name, sizeof file->name, "%s", name);
  snprintf(file->target, sizeof file->target, "%s", name);
  char resolved[PATH_MAX];
  struct stat status;
  if (lstat(name, &status) == 0 && S_ISLNK(status.st_mode) && realpath(name, resolved) != nullptr &&
      strlen(resolved) < sizeof file->target) {
    memcpy(file->target, resolved, strlen(resolved) + 1);  // a link: its file is what the sort replaces
  }
  if (FileOperationFails(kFileOpen)) return kOutputCannotOpen;
  const bool exists = stat(name, &status) == 0;
  if (exists) {
    if (!S_ISREG(status.st_mode)) return kOutputCannotOpen;
    file->identity = IdentityOf(status);
    for (int i = 0; i < inputCount; i++) {
      if (SameFile(file->identity, inputs[i])) return kOutputIsInput;
    }
  } else if (errno != ENOENT) {
    return kOutputCannotOpen;
  }
  file->buffer = static_cast<unsigned char *>(AllocateZeroed(1, kOutputBufferSize));
  if (file->buffer == nullptr) return kOutputNoMemory;
  if (CreateNewOutput(file, exists ? &status : nullptr) < 0) {
    free(file->buffer);
    file->buffer = nullptr;
    return kOutputCannotOpen;
  }
  return kOutputOpened;
}

int OpenStandardOutput(OutputFile *file) {
  memset(file, 0, sizeof *file);
  snprintf(file->name, sizeof file->name, "-");
  file->buffer = static_cast<unsigned char *>(AllocateZeroed(1, kOutputBufferSize));
  if (file->buffer == nullptr) return kOutputNoMemory;
  file->handle = STDOUT_FILENO;
  file->standardOutput = true;
  struct stat status;
  const int flags = fcntl(STDOUT_FILENO, F_GETFL);
  const off_t at = lseek(STDOUT_FILENO, 0, SEEK_CUR);
  file->inSequence = fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 || (flags & O_APPEND) != 0 || at < 0;
  file->base = file->inSequence ? 0 : static_cast<uint64_t>(at);
  WidenPipe(STDOUT_FILENO);
  return kOutputOpened;
}

FILE *OpenReportFile(const char *path, const FileIdentity *inputs, int inputCount, const OutputFile *output) {
  if (FileOperationFails(kFileOpen)) return nullptr;
  bool created = false;  // the report did not exist before
  int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
    created = fd >= 0;
  }
  if (fd < 0) return nullptr;
  struct stat status;
  bool refused = fstat(fd, &status) != 0 || !S_ISREG(status.st_mode);
  const FileIdentity report = IdentityOf(status);
  for (int i = 0; i < inputCount && !refused; i++) refused = SameFile(report, inputs[i]);
  refused = refused || SameFile(report, output->identity) || SameFile(report, output->newIdentity);
  // A new report under the name of an output that did not exist yet would be replaced by it.
  struct stat named;
  if (!refused && created && stat(output->name, &named) == 0) refused = SameFile(report, IdentityOf(named));
  FILE *stream = nullptr;
  if (!refused && ftruncate(fd, 0) == 0) stream = fdopen(fd, "wb");
  if (stream == nullptr) {
    close(fd);
    if (created) unlink(path);
  }
  return stream;
}

int CloseOutputFile(OutputFile *file, int keep) {
  if (file->handle < 0) return 0;
  if (keep && !file->failed && file->used > 0 && WriteAllBytes(file, file->buffer, file->used) != 0) {
    file->failed = 1;
  }
  free(file->buffer);
  file->buffer = nullptr;
  const int fd = static_cast<int>(file->handle);
  file->handle = -1;
  if (file->standardOutput) {
    if (!file->inSequence) lseek(fd, 0, SEEK_END);  // where writes in sequence would have left it
    return keep ? file->failed : 0;
  }
  const int closeFailed = close(fd) != 0 || FileOperationFails(kFileClose);
  if (keep && !file->failed && !closeFailed && ReplaceFileWith(file->newName, file->target) == 0) return 0;
  unlink(file->newName);
  if (keep) file->failed = 1;
  return keep ? 1 : 0;
}

FILE *CreateExclusiveFile(const char *name) {
  if (FileOperationFails(kFileOpen)) return nullptr;
  // With O_CREAT and O_EXCL the open fails for any name that exists, a link included.
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE *stream = fdopen(fd, "wb");
  if (stream == nullptr) {
    close(fd);
    unlink(name);
  }
  return stream;
}

int ReplaceFileWith(const char *from, const char *to) {
  if (FileOperationFails(kFileRename)) return 1;
  return rename(from, to) == 0 ? 0 : 1;
}

int PathExists(const char *name) {
  struct stat status;
  return lstat(name, &status) == 0 || errno != ENOENT;
}

uint32_t ProcessNumber() { return static_cast<uint32_t>(getpid()); }

static void OnMappingFault(int signalNumber) {
  if (gGuardActive) {
    gGuardActive = 0;
    siglongjmp(*gGuardJump, 1);
  }
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

int RunGuardedInThread(int (*work)(void *context), void *context) {
  sigjmp_buf here;
  volatile int result = -1;
  if (sigsetjmp(here, 1) == 0) {
    gGuardJump = &here;
    gGuardActive = 1;
    result = work(context);
  }
  gGuardActive = 0;
  gGuardJump = nullptr;
  return result;
}

int RunGuarded(int (*work)(void *context), void *context) {
  struct sigaction action;
  struct sigaction previous;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnMappingFault;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previous);
  const int result = RunGuardedInThread(work, context);
  sigaction(SIGBUS, &previous, nullptr);
  return result;
}

void ReadSystemLocalTime(LocalTime *time) {
  time_t now = ::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  time->year = local.tm_year + 1900;
  time->month = local.tm_mon + 1;
  time->day = local.tm_mday;
  time->hour = local.tm_hour;
  time->minute = local.tm_min;
}

// Reads up to count bytes at offset: the number read, 0 at the end, -1 on failure. A file
// operation of the fault simulation.
static int64_t ReadHandleAt(intptr_t handle, void *bytes, size_t count, uint64_t offset) {
  if (FileOperationFails(kFileRead)) return -1;
  for (;;) {
    ssize_t done = pread(static_cast<int>(handle), bytes, count, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    return done;
  }
}

int64_t ReadInputAt(const InputFile *file, void *bytes, size_t count, uint64_t offset) {
  if (file->inMemory) return ReadInputBytes(file, bytes, count, offset);
  return ReadHandleAt(file->handle, bytes, count, offset);
}

void UnmapInputFile(InputFile *file) {
  if (file->inMemory) return;
  if (file->bytes != nullptr) munmap(const_cast<unsigned char *>(file->bytes), static_cast<size_t>(file->size));
  file->bytes = nullptr;
}

static std::atomic<uint32_t> gRunFileCounter{0};  // names this process has tried

int CreateRunFile(const char *folder, RunFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  if (FileOperationFails(kFileOpen)) return 1;
  // No interrupt between the create and the unlink: the name never outlives the process.
  sigset_t previous;
  BlockInterrupts(&previous);
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
    snprintf(file->name, sizeof file->name, "%s/pelmar-%u-%u.run", folder, static_cast<unsigned>(getpid()),
             static_cast<unsigned>(gRunFileCounter++));
    fd = open(file->name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd >= 0) unlink(file->name);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) return 1;
  file->handle = fd;
  return 0;
}

int64_t ReadRunFile(const RunFile *file, void *bytes, size_t count, uint64_t offset) {
  return ReadHandleAt(file->handle, bytes, count, offset);
}

void ReleaseRunFileBytes(const RunFile *file, uint64_t offset, uint64_t count) {
#ifdef FALLOC_FL_PUNCH_HOLE
  fallocate(static_cast<int>(file->handle), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
            static_cast<off_t>(count));
#else
  (void)file;
  (void)offset;
  (void)count;
#endif
}

void RemoveRunFile(RunFile *file) {
  if (file->handle >= 0) close(static_cast<int>(file->handle));
  file->handle = -1;
}

void InputFromRunFile(RunFile *run, InputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = run->handle;
  file->size = run->written;
  run->handle = -1;
}

void SystemTemporaryFolder(char *folder, size_t capacity) {
  const char *name = getenv("TMPDIR");
  if (name == nullptr || name[0] == '\0') name = "/tmp";
  size_t length = strlen(name);
  while (length > 1 && name[length - 1] == '/') length--;
  if (length > capacity - 1) length = capacity - 1;
  memcpy(folder, name, length);
  folder[length] = '\0';
}

uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
}

static char gWatchedName[300];          // the new output file while a run writes it; empty otherwise
static volatile sig_atomic_t gWatching = 0;
static struct sigaction gPreviousInterrupt[3];
static const int kInterrupts[3] = {SIGINT, SIGTERM, SIGHUP};

static void OnInterrupt(int signalNumber) {
  StopWritesAndWait();
  if (gWatching) unlink(gWatchedName);  // the named output stays as it was
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// Called with the interrupts blocked, so that the handler sees the whole name.
static void WatchInterrupts(const OutputFile *output) {
  snprintf(gWatchedName, sizeof gWatchedName, "%s", output->newName);
  gWatching = 1;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; i++) {
    sigaction(kInterrupts[i], &action, &gPreviousInterrupt[i]);
    // An interrupt the caller ignores (nohup) stays ignored.
    if (gPreviousInterrupt[i].sa_handler == SIG_IGN) sigaction(kInterrupts[i], &gPreviousInterrupt[i], nullptr);
  }
}

void StopWatchingInterrupts() {
  if (!gWatching) return;
  for (int i = 0; i < 3; i++) sigaction(kInterrupts[i], &gPreviousInterrupt[i], nullptr);
  gWatching = 0;
}
