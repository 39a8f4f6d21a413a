#include "engine/runinput.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/scanner.h"

const char kStandardInputName[] = "standard input";

static const size_t kReadChunk = size_t{1} << 20;  // bytes read from an input at a time
static const char kStandardInput[] = "-";

// The inputs taken as one, as they are read: in memory, or past the limit in a run file.
struct Assembly {
  unsigned char *bytes;  // in memory: capacity bytes, size of them read
  uint64_t size;
  uint64_t capacity;
  uint64_t limit;        // the most bytes kept in memory
  RunFile spill;         // past the limit: the temporary file that holds them; handle -1 until then
  bool lineEnded;        // text: the bytes so far end with a delimiter (or there are none)
};

const char *SourceName(const SortRunState *run, int s) {
  const char *name = run->options.streams.inputs[s];
  return strcmp(name, kStandardInput) == 0 ? kStandardInputName : name;
}

int OpenSource(SortRunState *run, int s, InputFile *file) {
  const char *name = run->options.streams.inputs[s];
  const int failed = strcmp(name, kStandardInput) == 0 ? OpenStandardInput(file) : OpenInputFile(name, file);
  if (failed != 0) {
    FailWithName(run, kCannotOpenInput, SourceName(run, s));
    return 1;
  }
  if (file->identity.volume != 0 || file->identity.index != 0) run->sources[run->sourceCount++] = file->identity;
  return 0;
}

// Moves what is in memory into a new run file, which takes every byte from now on.
static int Spill(SortRunState *run, Assembly *a) {
  if (CreateRunFile(run->options.temporaryFolder, &a->spill) != 0) {
    FailWithName(run, kCannotCreateTemporary, run->options.temporaryFolder);
    return 1;
  }
  if (a->size > 0 && WriteRunFileAt(&a->spill, a->bytes, a->size, 0) != 0) {
    FailWithName(run, kCannotWriteTemporary, a->spill.name);
    return 1;
  }
  a->spill.written = a->size;
  free(a->bytes);
  a->bytes = nullptr;
  return 0;
}

// Makes room in memory for count more bytes: the block grows to twice its size (or what
// is needed), at most to the limit. Returns 0, or 1 once the run has failed.
static int Reserve(SortRunState *run, Assembly *a, uint64_t count) {
  if (a->size + count <= a->capacity) return 0;
  const uint64_t capacity = std::min(std::max(2 * a->capacity, a->size + count), a->limit);
  unsigned char *larger = static_cast<unsigned char *>(ResizeAllocation(a->bytes, static_cast<size_t>(capacity)));
  if (larger == nullptr) {
    Fail(run, kMemoryError);
    return 1;
  }
  a->bytes = larger;
  a->capacity = capacity;
  return 0;
}

// Adds count bytes to the assembly. Returns 0, or 1 once the run has failed.
static int Append(SortRunState *run, Assembly *a, const unsigned char *bytes, size_t count) {
  if (a->spill.handle < 0 && a->size + count > a->limit && Spill(run, a) != 0) return 1;
  if (a->spill.handle >= 0) {
    if (WriteRunFileAt(&a->spill, bytes, count, a->spill.written) != 0) {
      FailWithName(run, kCannotWriteTemporary, a->spill.name);
      return 1;
    }
    a->spill.written += count;
    return 0;
  }
  if (Reserve(run, a, count) != 0) return 1;
  memcpy(a->bytes + a->size, bytes, count);
  a->size += count;
  return 0;
}

// The delimiter that ends a line in the run's mode.
static void DelimiterBytes(unsigned char bytes[2], size_t *count) {
  static const unsigned char kEnds[4][2] = {{0x0D, 0x0A}, {0x0D, 0}, {0x0A, 0}, {0, 0}};
  memcpy(bytes, kEnds[DelimiterMode], 2);
  *count = DelimiterMode == kDelimiterBoth ? 2 : 1;
}

// Reads input s whole into the assembly, then ends its last line. Returns 0, or 1 once the
// run has failed.
static int ReadSource(SortRunState *run, Assembly *a, int s, unsigned char *chunk) {
  InputFile file;
  if (OpenSource(run, s, &file) != 0) return 1;
  uint64_t read = 0;
  for (;;) {
    // Straight into memory while a chunk more stays within the limit; else through the chunk.
    const bool inMemory = a->spill.handle < 0 && a->size + kReadChunk <= a->limit;
    if (inMemory && Reserve(run, a, kReadChunk) != 0) break;
    unsigned char *into = inMemory ? a->bytes + a->size : chunk;
    const int64_t got = file.standardInput ? ReadInputNext(&file, into, kReadChunk) : ReadInputAt(&file, into, kReadChunk, read);
    if (got < 0) FailWithName(run, kReadError, SourceName(run, s));
    if (got <= 0) break;
    if (inMemory) {
      a->size += static_cast<uint64_t>(got);
    } else if (Append(run, a, chunk, static_cast<size_t>(got)) != 0) {
      break;
    }
    read += static_cast<uint64_t>(got);
    a->lineEnded = into[got - 1] == (DelimiterMode == kDelimiterCr ? 0x0D : DelimiterMode == kDelimiterNul ? 0 : 0x0A);
  }
  CloseInputFile(&file);
  if (run->failed) return 1;
  if (!run->variable && read % static_cast<uint64_t>(run->job.recordLength) != 0) {
    FailWithName(run, kPartialRecord, SourceName(run, s));
    return 1;
  }
  if (!run->variable || a->lineEnded) return 0;
  unsigned char delimiter[2];
  size_t count;
  DelimiterBytes(delimiter, &count);
  a->lineEnded = true;
  return Append(run, a, delimiter, count);
}

// The inputs' names, as messages and the report give them: joined by ", ", cut to the slot.
static void NameInputs(SortRunState *run) {
  char names[kNameSize] = "";
  for (int s = 0; s < run->options.streams.inputCount; s++) {
    const size_t used = strlen(names);
    snprintf(names + used, sizeof names - used, "%s%s", s > 0 ? ", " : "", SourceName(run, s));
  }
  CopyText(run->job.inputName, sizeof run->job.inputName, names);
}

// Reads every input into one, in memory or a run file, and makes it the run's input.
static int AssembleInputs(SortRunState *run) {
  Assembly a;
  memset(&a, 0, sizeof a);
  a.spill.handle = -1;
  a.limit = run->options.memoryBudget / 4;
  a.lineEnded = true;
  unsigned char *chunk = static_cast<unsigned char *>(AllocateZeroed(kReadChunk, 1));
  if (chunk == nullptr) Fail(run, kMemoryError);
  for (int s = 0; s < run->options.streams.inputCount && !run->failed; s++) ReadSource(run, &a, s, chunk);
  free(chunk);
  if (run->failed) {
    free(a.bytes);
    RemoveRunFile(&a.spill);
    return 1;
  }
  if (a.spill.handle >= 0) {
    InputFromRunFile(&a.spill, &run->input);
  } else {
    AdoptInputBytes(&run->input, a.bytes, a.size);
  }
  return 0;
}

int OpenRunInput(SortRunState *run) {
  const StreamSettings *streams = &run->options.streams;
  if (streams->inputs == nullptr || (streams->inputCount == 1 && strcmp(streams->inputs[0], kStandardInput) != 0)) {
    const char *name = streams->inputs != nullptr ? streams->inputs[0] : run->job.inputName;
    CopyText(run->job.inputName, sizeof run->job.inputName, name);
    if (OpenInputFile(name, &run->input) != 0) {
      FailWithName(run, kCannotOpenInput, name);
      return 1;
    }
    run->sources[run->sourceCount++] = run->input.identity;
    return 0;
  }
  NameInputs(run);
  if (streams->inputCount == 1 && OpenSource(run, 0, &run->input) == 0 && !run->input.standardInput) {
    return 0;  // standard input that is a regular file: read where it lies
  }
  return run->failed ? 1 : AssembleInputs(run);
}
