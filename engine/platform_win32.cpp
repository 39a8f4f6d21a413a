// Win32 implementation of the engine's platform layer.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "engine/platform.h"
#include "engine/platform_os.h"
#include "engine/sorttypes.h"

static HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

int OpenInputFile(const char *name, InputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
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
  file->volume = info.dwVolumeSerialNumber;
  file->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return 0;
}

int MapInputFile(InputFile *file) {
  if (file->size == 0) return 0;
  HANDLE mapping = CreateFileMappingA(Handle(file->handle), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return 1;
  void *bytes = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (bytes == nullptr) {
    CloseHandle(mapping);
    return 1;
  }
  file->mapping = reinterpret_cast<uintptr_t>(mapping);
  file->bytes = static_cast<const unsigned char *>(bytes);
  return 0;
}

int InputFileChanged(const InputFile *file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Handle(file->handle), &size)) return 1;
  return static_cast<uint64_t>(size.QuadPart) != file->size;
}

void CloseInputFile(InputFile *file) {
  if (file->bytes != nullptr) UnmapViewOfFile(file->bytes);
  if (file->mapping != 0) CloseHandle(reinterpret_cast<HANDLE>(file->mapping));
  if (file->handle != -1) CloseHandle(Handle(file->handle));
  file->bytes = nullptr;
  file->mapping = 0;
  file->handle = -1;
}

int64_t WriteSomeBytes(intptr_t handle, const unsigned char *bytes, size_t count) {
  const DWORD chunk = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
  DWORD done = 0;
  if (!WriteFile(Handle(handle), bytes, chunk, &done, nullptr) || done == 0) return -1;
  return done;
}

int64_t WriteSomeBytesAt(intptr_t handle, const unsigned char *bytes, size_t count, uint64_t offset) {
  const DWORD chunk = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
  OVERLAPPED at;
  memset(&at, 0, sizeof at);
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD done = 0;
  if (!WriteFile(Handle(handle), bytes, chunk, &done, &at) || done == 0) return -1;
  return done;
}

int OutputTakesOffsets(const OutputFile *file) { return GetFileType(Handle(file->handle)) == FILE_TYPE_DISK; }

// Empties an open file.
static void EmptyFile(HANDLE h) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) SetEndOfFile(h);
}

int OpenOutputFile(const char *name, const InputFile *input, OutputFile *file) {
  memset(file, 0, sizeof *file);
  file->handle = -1;
  CopyText(file->name, sizeof file->name, name);
  HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kOutputCannotOpen;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h, &info)) {
    const uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    if (info.dwVolumeSerialNumber == input->volume && index == input->index) {
      CloseHandle(h);
      return kOutputIsInput;
    }
  }
  file->buffer = static_cast<unsigned char *>(malloc(kOutputBufferSize));
  if (file->buffer == nullptr) {
    CloseHandle(h);
    return kOutputCannotOpen;
  }
  if (GetFileType(h) == FILE_TYPE_DISK) EmptyFile(h);
  file->handle = reinterpret_cast<intptr_t>(h);
  return kOutputOpened;
}

int CloseOutputFile(OutputFile *file, int keep) {
  if (file->handle == -1) return 0;
  HANDLE h = Handle(file->handle);
  if (keep && !file->failed && file->used > 0 && WriteAllBytes(file, file->buffer, file->used) != 0) file->failed = 1;
  if (!keep || file->failed) EmptyFile(h);
  const bool closeFailed = !CloseHandle(h) || OutputCloseFault();
  if (keep && !file->failed && closeFailed) {
    file->failed = 1;
    HANDLE again = CreateFileA(file->name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
  }
  free(file->buffer);
  file->buffer = nullptr;
  file->handle = -1;
  return keep ? file->failed : 0;
}

// The input is opened so that no one can shorten it while it is mapped, so a read of the
// view cannot fault for that reason; the work runs unguarded.
int RunGuarded(int (*work)(void *context), void *context) { return work(context); }
int RunGuardedInThread(int (*work)(void *context), void *context) { return work(context); }

void ReadSystemLocalTime(LocalTime *time) {
  SYSTEMTIME local;
  GetLocalTime(&local);
  time->year = local.wYear;
  time->month = local.wMonth;
  time->day = local.wDay;
  time->hour = local.wHour;
  time->minute = local.wMinute;
}
