// The portable part of the os door: the output buffer, writes at offsets, the clock and
// the test hooks. The system calls are in platform_posix.cpp or platform_win32.cpp.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "os/platform.h"
#include "os/platform_os.h"

static uint32_t (*gTestMilliseconds)() = nullptr;
static void (*gTestLocalTime)(LocalTime *) = nullptr;

// Fault simulation: operations and allocations counted since the fault was set, and the
// one that fails (0: none).
static std::atomic<uint64_t> gFileOperations{0};
static uint64_t gFailingOperation = 0;
static int gFailPersistently = 0;
static int gFaultKind = -1;  // the only kind counted, or -1 for all
static std::atomic<uint64_t> gAllocations{0};
static uint64_t gFailingAllocation = 0;

int FileOperationFails(int kind) {
  if (gFaultKind >= 0 && kind != gFaultKind) return 0;
  const uint64_t operation = ++gFileOperations;
  return gFailingOperation != 0 && (operation == gFailingOperation || (gFailPersistently && operation > gFailingOperation));
}

void *AllocateZeroed(size_t count, size_t size) {
  if (++gAllocations == gFailingAllocation) return nullptr;
  return calloc(count, size);
}

void *ResizeAllocation(void *bytes, size_t size) {
  if (++gAllocations == gFailingAllocation) return nullptr;
  return realloc(bytes, size);
}

void SetFileFaultForTesting(uint64_t failingOperation, int persistent, int kind) {
  gFileOperations = 0;
  gFaultKind = kind;
  gFailingOperation = failingOperation;
  gFailPersistently = persistent;
}

void SetAllocationFaultForTesting(uint64_t failingAllocation) {
  gAllocations = 0;
  gFailingAllocation = failingAllocation;
}

uint64_t FileOperationsCounted() { return gFileOperations; }
uint64_t AllocationsCounted() { return gAllocations; }

int WriteAllBytes(OutputFile *file, const unsigned char *bytes, size_t count) {
  while (count > 0) {
    const int64_t done = WriteSomeBytes(file->handle, bytes, count);
    if (done <= 0) return 1;
    bytes += done;
    count -= static_cast<size_t>(done);
    file->written += static_cast<uint64_t>(done);
  }
  return 0;
}

void AdoptInputBytes(InputFile *file, unsigned char *bytes, uint64_t size) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  file->bytes = bytes;
  file->size = size;
  file->inMemory = true;
}

int64_t ReadInputBytes(const InputFile *file, void *bytes, size_t count, uint64_t offset) {
  if (FileOperationFails(kFileRead)) return -1;
  if (offset >= file->size) return 0;
  const size_t copied = static_cast<size_t>(std::min<uint64_t>(count, file->size - offset));
  memcpy(bytes, file->bytes + offset, copied);
  return static_cast<int64_t>(copied);
}

// Writes count bytes in sequence through WriteSomeBytes. Returns 0, or 1 when a write failed.
static int WriteAllInSequence(intptr_t handle, const void *bytes, size_t count) {
  const unsigned char *next = static_cast<const unsigned char *>(bytes);
  while (count > 0) {
    const int64_t done = WriteSomeBytes(handle, next, count);
    if (done <= 0) return 1;
    next += done;
    count -= static_cast<size_t>(done);
  }
  return 0;
}

// Writes count bytes at offset through WriteSomeBytesAt. Returns 0, or 1 when a write failed.
static int WriteAllBytesAt(intptr_t handle, const void *bytes, size_t count, uint64_t offset) {
  const unsigned char *next = static_cast<const unsigned char *>(bytes);
  while (count > 0) {
    const int64_t done = WriteSomeBytesAt(handle, next, count, offset);
    if (done <= 0) return 1;
    next += done;
    offset += static_cast<uint64_t>(done);
    count -= static_cast<size_t>(done);
  }
  return 0;
}

int WriteOutputAt(const OutputFile *file, const void *bytes, size_t count, uint64_t offset) {
  if (file->inSequence) return WriteAllInSequence(file->handle, bytes, count);
  return WriteAllBytesAt(file->handle, bytes, count, file->base + offset);
}

int WriteRunFileAt(const RunFile *file, const void *bytes, size_t count, uint64_t offset) {
  return WriteAllBytesAt(file->handle, bytes, count, offset);
}

int WriteOutputBuffered(OutputFile *file, const void *bytes, size_t count) {
  const unsigned char *next = static_cast<const unsigned char *>(bytes);
  while (count > 0 && !file->failed) {
    const size_t room = kOutputBufferSize - file->used;
    const size_t chunk = count < room ? count : room;
    memcpy(file->buffer + file->used, next, chunk);
    file->used += chunk;
    next += chunk;
    count -= chunk;
    if (file->used == kOutputBufferSize) {
      if (WriteAllBytes(file, file->buffer, file->used) != 0) file->failed = 1;
      file->used = 0;
    }
  }
  return file->failed;
}

uint32_t ElapsedMilliseconds() {
  if (gTestMilliseconds != nullptr) return gTestMilliseconds();
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void ReadLocalTime(LocalTime *time) {
  if (gTestLocalTime != nullptr) {
    gTestLocalTime(time);
  } else {
    ReadSystemLocalTime(time);
  }
}

void SetClockForTesting(uint32_t (*milliseconds)(), void (*localTime)(LocalTime *)) {
  gTestMilliseconds = milliseconds;
  gTestLocalTime = localTime;
}


int FlushOutputFile(OutputFile *file) {
  if (!file->failed && file->used > 0 && WriteAllBytes(file, file->buffer, file->used) != 0) file->failed = 1;
  file->used = 0;
  return file->failed;
}

static std::atomic<int> gWritesInFlight{0};
static std::atomic<int> gProcessEnding{0};
static thread_local int tWriting = 0;  // 1 while this thread is inside a fenced write

int BeginWrite() {
  if (gProcessEnding.load() != 0) return 0;
  tWriting = 1;
  ++gWritesInFlight;
  if (gProcessEnding.load() != 0) {
    EndWrite();
    return 0;
  }
  return 1;
}

void EndWrite() {
  --gWritesInFlight;
  tWriting = 0;
}

void StopWritesAndWait() {
  gProcessEnding = 1;
  while (gWritesInFlight.load() > tWriting) {
    // another thread's write is finishing
  }
}
