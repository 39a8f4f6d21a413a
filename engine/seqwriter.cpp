#include "engine/seqwriter.h"

#include <algorithm>

static void WriteHandedBuffers(SequentialWriter *w) {
  std::unique_lock<std::mutex> hold(w->lock);
  for (;;) {
    w->changed.wait(hold, [w] { return w->handed != nullptr || w->stop; });
    if (w->handed == nullptr) return;
    const unsigned char *bytes = w->handed;
    const size_t count = w->handedBytes;
    const uint64_t offset = w->offset;
    hold.unlock();
    const int failed = w->failed == 0 ? w->write(w->file, bytes, count, offset) : 1;
    hold.lock();
    if (failed != 0) w->failed = 1;
    w->offset += count;
    w->handed = nullptr;
    w->changed.notify_all();
  }
}

static void StartWriter(SequentialWriter *w, WriteAtFunction write, const void *file, unsigned char *buffers) {
  w->write = write;
  w->file = file;
  w->buffers[0] = buffers;
  w->buffers[1] = buffers + kWriterBuffer;
  w->fill = w->buffers[0];
  w->used = 0;
  w->offset = 0;
  w->handed = nullptr;
  w->stop = false;
  w->failed = 0;
  w->thread = std::thread(WriteHandedBuffers, w);
}

static int WriteToRunFile(const void *file, const void *bytes, size_t count, uint64_t offset) {
  return WriteRunFileAt(static_cast<const RunFile *>(file), bytes, count, offset);
}

static int WriteToOutput(const void *file, const void *bytes, size_t count, uint64_t offset) {
  return WriteOutputAt(static_cast<const OutputFile *>(file), bytes, count, offset);
}

void StartRunFileWriter(SequentialWriter *w, const RunFile *file, unsigned char *buffers) {
  StartWriter(w, WriteToRunFile, file, buffers);
}

void StartOutputWriter(SequentialWriter *w, const OutputFile *file, unsigned char *buffers) {
  StartWriter(w, WriteToOutput, file, buffers);
}

// Hands the filled buffer to the thread once it is free, and fills the other.
static void HandOver(SequentialWriter *w) {
  std::unique_lock<std::mutex> hold(w->lock);
  w->changed.wait(hold, [w] { return w->handed == nullptr; });
  w->handed = w->fill;
  w->handedBytes = w->used;
  w->fill = w->fill == w->buffers[0] ? w->buffers[1] : w->buffers[0];
  w->used = 0;
  w->changed.notify_all();
}

void PutMore(SequentialWriter *w, const unsigned char *bytes, size_t count) {
  while (count > 0) {
    const size_t part = std::min(count, kWriterBuffer - w->used);
    memcpy(w->fill + w->used, bytes, part);
    w->used += part;
    bytes += part;
    count -= part;
    if (w->used == kWriterBuffer) HandOver(w);
  }
}

uint64_t FinishWriter(SequentialWriter *w) {
  if (w->used > 0) HandOver(w);
  {
    std::unique_lock<std::mutex> hold(w->lock);
    w->changed.wait(hold, [w] { return w->handed == nullptr; });
    w->stop = true;
    w->changed.notify_all();
  }
  w->thread.join();
  return w->failed != 0 ? UINT64_MAX : w->offset;
}
