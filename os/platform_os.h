// What each platform file (platform_posix.cpp, platform_win32.cpp) gives the portable part
// of the os door (platform.cpp), and what that part gives them back. Nothing outside os/
// includes this header.
#ifndef PELMAR_OS_PLATFORM_OS_H
#define PELMAR_OS_PLATFORM_OS_H

#include <cstddef>
#include <cstdint>

#include "os/platform.h"

// Writes up to count bytes to an open output; returns the number written (at least 1),
// or -1 on failure. Interrupted writes are resumed inside.
int64_t WriteSomeBytes(intptr_t handle, const unsigned char *bytes, size_t count);

// Writes up to count bytes at offset; returns the number written (at least 1), or -1.
int64_t WriteSomeBytesAt(intptr_t handle, const unsigned char *bytes, size_t count, uint64_t offset);

// The local time from the system.
void ReadSystemLocalTime(LocalTime *time);

// Copies up to count bytes of an input in memory at offset: the number copied, 0 at its end.
int64_t ReadInputBytes(const InputFile *file, void *bytes, size_t count, uint64_t offset);

// Writes all bytes through WriteSomeBytes, counting file->written. Returns 0, or 1 when
// a write failed.
int WriteAllBytes(OutputFile *file, const unsigned char *bytes, size_t count);


// Writes of the output and the run files, fenced against an interrupt that empties the
// output: BeginWrite returns 1 and counts the write in flight until EndWrite, or 0 (write
// nothing) once the process is ending. StopWritesAndWait, from the interrupt's handler,
// lets no write start and waits for those in flight on other threads, so that none lands
// after the output is emptied. Lock-free, so safe in a signal handler.
int BeginWrite();
void EndWrite();
void StopWritesAndWait();

#endif
