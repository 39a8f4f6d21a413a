// Writing a file in sequence from two buffers: the caller fills one while a thread of the
// writer's own hands the other to the system, so that the copy into the file's pages
// overlaps the caller's work (an external run's merge, or the gathering of a part).
// Call order: StartWriter, Put as often as needed, FinishWriter (always, once started).
#ifndef PELMAR_ENGINE_SEQWRITER_H
#define PELMAR_ENGINE_SEQWRITER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "os/platform.h"

constexpr size_t kWriterBuffer = size_t{2} << 20;  // bytes of each of a writer's two buffers

// Writes count bytes to file at offset. Returns 0, or 1.
typedef int (*WriteAtFunction)(const void *file, const void *bytes, size_t count, uint64_t offset);

struct SequentialWriter {
  WriteAtFunction write;            // how a buffer goes to the file
  const void *file;
  unsigned char *buffers[2];        // kWriterBuffer bytes each
  unsigned char *fill;              // the one being filled
  size_t used;                      // bytes in it
  uint64_t offset;                  // where the next handed-over buffer goes
  const unsigned char *handed;      // the buffer the thread writes; null while it waits
  size_t handedBytes;
  bool stop;
  std::atomic<int> failed;          // 1 once a write failed: the rest is not written
  std::mutex lock;                  // guards handed, handedBytes, offset and stop
  std::condition_variable changed;
  std::thread thread;
};

// Starts the writer's thread on a run file, or on the output, from offset 0; buffers holds
// 2 * kWriterBuffer bytes.
void StartRunFileWriter(SequentialWriter *w, const RunFile *file, unsigned char *buffers);
void StartOutputWriter(SequentialWriter *w, const OutputFile *file, unsigned char *buffers);

// Puts bytes that do not fit the buffer being filled (Put's slow way).
void PutMore(SequentialWriter *w, const unsigned char *bytes, size_t count);

// Adds count bytes to what is written, in order.
inline void Put(SequentialWriter *w, const void *bytes, size_t count) {
  if (count < kWriterBuffer - w->used) {
    memcpy(w->fill + w->used, bytes, count);
    w->used += count;
  } else {
    PutMore(w, static_cast<const unsigned char *>(bytes), count);
  }
}

// Writes what is left, ends the thread and returns the bytes written, or UINT64_MAX when
// a write failed.
uint64_t FinishWriter(SequentialWriter *w);

#endif
