// The portable part of the engine's platform layer: the output buffer, the clock and the
// test hooks. The system calls are in platform_posix.cpp or platform_win32.cpp.
#include <chrono>
#include <cstring>

#include "engine/platform.h"
#include "engine/platform_os.h"

static uint32_t (*gTestMilliseconds)() = nullptr;
static void (*gTestLocalTime)(LocalTime *) = nullptr;
static int64_t gFailAfterBytes = -1;  // test hook: writes past this many bytes fail
static int gFailClose = 0;            // test hook: the close reports a failure

int WriteAllBytes(OutputFile *file, const unsigned char *bytes, size_t count) {
  while (count > 0) {
    size_t chunk = count;
    if (gFailAfterBytes >= 0) {
      if (file->written >= static_cast<uint64_t>(gFailAfterBytes)) return 1;
      const uint64_t room = static_cast<uint64_t>(gFailAfterBytes) - file->written;
      if (chunk > room) chunk = static_cast<size_t>(room);
    }
    const int64_t done = WriteSomeBytes(file->handle, bytes, chunk);
    if (done <= 0) return 1;
    bytes += done;
    count -= static_cast<size_t>(done);
    file->written += static_cast<uint64_t>(done);
  }
  return 0;
}

int OutputCloseFault() { return gFailClose; }

int WriteOutputAt(const OutputFile *file, const void *bytes, size_t count, uint64_t offset) {
  if (gFailAfterBytes >= 0 && offset + count > static_cast<uint64_t>(gFailAfterBytes)) return 1;
  const unsigned char *next = static_cast<const unsigned char *>(bytes);
  while (count > 0) {
    const int64_t done = WriteSomeBytesAt(file->handle, next, count, offset);
    if (done <= 0) return 1;
    next += done;
    offset += static_cast<uint64_t>(done);
    count -= static_cast<size_t>(done);
  }
  return 0;
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

void SetOutputFaultForTesting(int64_t failAfterBytes, int failClose) {
  gFailAfterBytes = failAfterBytes;
  gFailClose = failClose;
}
