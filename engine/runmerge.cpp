#include "engine/runmerge.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/seqwriter.h"


static const uint32_t kIndexBytes = 4;           // a run entry's record index
static const uint64_t kExhausted = ~uint64_t{0};  // head prefix of a run file with nothing left
static const uint64_t kReleaseUnit = 4096;       // a merged run file's read bytes go back in pages of this

// One merge of run files: their readers and the loser tree over them.
struct TreeMerge {
  SortRunState *run;
  ExternalSort *ext;
  uint32_t count;        // run files merged
  uint32_t winner;       // the reader whose head comes next
  uint64_t keyLength;    // T
};

uint64_t RunMergeBytes(uint32_t fanIn, size_t readSize, uint64_t groupCount) {
  const uint64_t perReader = readSize + sizeof(RunReader) + 2 * sizeof(uint32_t);  // window, reader, tree
  const uint64_t perGroup = 2 * sizeof(uint64_t) + sizeof(uint32_t) + sizeof(uint16_t);  // the streamed count
  return uint64_t{fanIn} * perReader + groupCount * perGroup;
}

// A run file's entries, read as they were written.
static int64_t FillFromRunFile(RunReader *reader, unsigned char *bytes, size_t room) {
  const RunFile *file = static_cast<const RunFile *>(reader->source);
  if (reader->offset == file->written) return 0;
  const int64_t got = ReadRunFile(file, bytes, room, reader->offset);
  if (got <= 0) return -1;  // the file ends before its length
  reader->offset += static_cast<uint64_t>(got);
  // What the window holds now, the file need not: its pages go back at once (whole pages
  // only), to serve the merge's own writes, and so does its room on the disk.
  const uint64_t read = reader->offset / kReleaseUnit * kReleaseUnit;
  if (read > reader->released) ReleaseRunFileBytes(file, reader->released, read - reader->released);
  reader->released = read;
  return got;
}

// Makes the head entry of the reader whole in its window, or marks it done. Returns 0, or 1
// when its entries could not be had or end inside an entry.
static int LoadHead(const TreeMerge *m, RunReader *reader) {
  const SortRunState *run = m->run;
  // A fixed-length entry is its head and the record; a text entry's length follows its head.
  size_t need = m->ext->entryHead + (run->variable ? 2 : static_cast<size_t>(run->job.recordLength));
  for (int round = 0; round < 2; round++) {
    if (reader->end - reader->start < need) {
      memmove(reader->buffer, reader->buffer + reader->start, reader->end - reader->start);
      reader->end -= reader->start;
      reader->start = 0;
      int64_t got = 1;
      while (reader->end < need && (got = reader->fill(reader, reader->buffer + reader->end, reader->capacity - reader->end)) > 0) {
        reader->end += static_cast<size_t>(got);
      }
      if (got < 0) return 1;
      if (reader->end == 0) {
        reader->done = true;
        reader->prefix = kExhausted;
        return 0;
      }
      if (reader->end < need) return 1;
    }
    if (!run->variable) break;
    uint16_t length;
    memcpy(&length, reader->buffer + reader->start + m->ext->entryHead, sizeof length);
    need = m->ext->entryHead + 2 + length;
  }
  reader->headLength = need;
  reader->prefix = KeyPrefix(reader->buffer + reader->start, static_cast<uint32_t>(m->keyLength));
  return 0;
}

static inline bool HeadBefore(const TreeMerge *m, uint32_t a, uint32_t b) {
  const RunReader *ra = &m->ext->readers[a];
  const RunReader *rb = &m->ext->readers[b];
  if (ra->done || rb->done) return !ra->done || (rb->done && a < b);
  if (ra->prefix != rb->prefix) return ra->prefix < rb->prefix;
  if (m->keyLength > 8) {
    const int order = memcmp(ra->buffer + ra->start + 8, rb->buffer + rb->start + 8, m->keyLength - 8);
    if (order != 0) return order < 0;
  }
  return a < b;  // equal keys: the earlier run file
}

// A reader's entries that could not be had: a run file's are named (an input's failure has
// been told). Returns 1.
static int FailReader(SortRunState *run, const RunReader *reader) {
  if (!run->failed) FailWithName(run, kCannotReadTemporary, reader->name);
  return 1;
}

// Opens readers[0, count) on runs[0, count).
static void OpenRunFileReaders(ExternalSort *ext, const RunFile *runs, uint32_t count) {
  for (uint32_t r = 0; r < count; r++) {
    RunReader *reader = &ext->readers[r];
    reader->fill = FillFromRunFile;
    reader->source = const_cast<RunFile *>(&runs[r]);
    reader->name = runs[r].name;
    reader->offset = 0;
    reader->released = 0;
  }
}

// Sets up the merge of readers[0, count): every reader's head loaded, then the loser tree,
// leaves count + r, inner nodes 1 to count - 1, each keeping its match's loser. Returns 0,
// or 1 after failing the run.
static int StartTree(TreeMerge *m, SortRunState *run, uint32_t count) {
  ExternalSort *ext = run->externalSort;
  *m = TreeMerge{run, ext, count, 0, run->plan.keyLength};
  for (uint32_t r = 0; r < count; r++) {
    RunReader *reader = &ext->readers[r];
    reader->start = reader->end = 0;
    reader->done = false;
    if (LoadHead(m, reader) != 0) return FailReader(run, reader);
  }
  auto entrant = [&](uint32_t node) { return node >= count ? node - count : ext->winners[node]; };
  for (uint32_t node = count - 1; node >= 1; node--) {
    const uint32_t left = entrant(2 * node), right = entrant(2 * node + 1);
    const bool rightWins = HeadBefore(m, right, left);
    ext->winners[node] = rightWins ? right : left;
    ext->losers[node] = rightWins ? left : right;
  }
  m->winner = entrant(1);
  return 0;
}

// The step every merge shares: past the winner's head entry, its next one loaded, and the
// tree replayed from its leaf for the new winner. Returns 0, or 1 when the winner's file
// could not be read (the winner stays, for the message).
static int NextWinner(TreeMerge *m) {
  RunReader *reader = &m->ext->readers[m->winner];
  reader->start += reader->headLength;
  if (LoadHead(m, reader) != 0) return 1;
  uint32_t winner = m->winner;
  for (uint32_t node = (winner + m->count) >> 1; node >= 1; node >>= 1) {
    if (HeadBefore(m, m->ext->losers[node], winner)) std::swap(m->ext->losers[node], winner);
  }
  m->winner = winner;
  return 0;
}

// One more record emitted by a merge: the pass's progress.
static void CountProgress(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  if (++ext->mergeDone % kProgressInterval == 0 && ext->mergeTotal > 0) {
    ReportProgress(run->options.progress, kPhaseMergingRuns, ext->mergeDone, ext->mergeTotal);
  }
}

// Merges runs[0, count) into target, entries whole. Returns 0, or 1 after failing the run.
static int MergeIntoRunFile(SortRunState *run, const RunFile *runs, uint32_t count, RunFile *target) {
  TreeMerge m;
  OpenRunFileReaders(run->externalSort, runs, count);
  if (StartTree(&m, run, count) != 0) return 1;
  SequentialWriter writer;
  StartRunFileWriter(&writer, target, run->externalSort->writerBuffers);
  int readFailed = 0;
  while (!m.ext->readers[m.winner].done && writer.failed == 0 && readFailed == 0) {
    const RunReader *head = &m.ext->readers[m.winner];
    Put(&writer, head->buffer + head->start, head->headLength);
    readFailed = NextWinner(&m);
    CountProgress(run);
  }
  target->written = FinishWriter(&writer);
  if (readFailed) {
    FailReader(run, &m.ext->readers[m.winner]);
  } else if (target->written == UINT64_MAX) {
    FailWithName(run, kCannotWriteTemporary, target->name);
  }
  return run->failed;
}

// Writes the head entry's record, unless a unique run leaves it out (its key equal to the
// last one written, kept in lastKey).
static void PutRecord(SortRunState *run, const RunReader *head, unsigned char *lastKey, SequentialWriter *writer) {
  ExternalSort *ext = run->externalSort;
  const unsigned char *entry = head->buffer + head->start;
  const uint32_t uniqueLength = UniqueLength(&run->plan, &run->options);
  if (uniqueLength > 0 && ext->emitted > 0 && memcmp(lastKey, entry, uniqueLength) == 0) {
    run->leftOut++;
    return;
  }
  memcpy(lastKey, entry, uniqueLength);
  ext->emitted++;
  const unsigned char *record = entry + ext->entryHead;
  if (run->variable) {
    uint32_t lineEndLength;
    const unsigned char *lineEnd = LineEndBytes(run->options.streams.lineEnd, &lineEndLength);
    Put(writer, record + 2, head->headLength - ext->entryHead - 2);
    Put(writer, lineEnd, lineEndLength);
  } else {
    Put(writer, record, static_cast<size_t>(run->job.recordLength));
  }
}

int MergeIntoOutput(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  OpenRunFileReaders(ext, ext->runs, ext->runCount);
  return MergeReadersIntoOutput(run, ext->runCount);
}

int MergeReadersIntoOutput(SortRunState *run, uint32_t count) {
  ExternalSort *ext = run->externalSort;
  TreeMerge m;
  if (StartTree(&m, run, count) != 0) return 1;
  unsigned char *lastKey = static_cast<unsigned char *>(AllocateZeroed(m.keyLength, 1));
  if (lastKey == nullptr) {
    Fail(run, kMemoryError);
    return 1;
  }
  SequentialWriter writer;
  StartOutputWriter(&writer, &run->output, ext->writerBuffers);
  int readFailed = 0;
  while (!ext->readers[m.winner].done && writer.failed == 0 && readFailed == 0) {
    const RunReader *head = &ext->readers[m.winner];
    if (ext->count.remaining != nullptr) {  // a sort's, for its report
      uint32_t index;
      memcpy(&index, head->buffer + head->start + m.keyLength, kIndexBytes);
      CountEmitted(&ext->count, index / kSortGroupSize);
    }
    PutRecord(run, head, lastKey, &writer);
    readFailed = NextWinner(&m);
    CountProgress(run);
  }
  free(lastKey);
  if (FinishWriter(&writer) == UINT64_MAX && !readFailed) {
    run->output.failed = 1;
    FailWithName(run, kWriteError, run->job.outputName);
  }
  if (readFailed) FailReader(run, &ext->readers[m.winner]);
  return run->failed;
}

// One pass: each fanIn consecutive run files into one, so that the earlier run files still
// hold the earlier groups. Returns 0, or 1 after failing the run.
static int MergePass(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  const uint32_t fanIn = run->externalPlan.fanIn;
  const uint32_t count = (ext->runCount + fanIn - 1) / fanIn;
  ext->merged = static_cast<RunFile *>(AllocateZeroed(count, sizeof(RunFile)));
  if (ext->merged == nullptr) {
    Fail(run, kMemoryError);
    return 1;
  }
  for (uint32_t j = 0; j < count; j++) ext->merged[j].handle = -1;
  for (uint32_t j = 0; j < count; j++) {
    if (CreateRunFile(run->options.temporaryFolder, &ext->merged[j]) != 0) {
      FailWithName(run, kCannotCreateTemporary, run->options.temporaryFolder);
      return 1;
    }
    ext->mergedCount = j + 1;
    const uint32_t first = j * fanIn;
    const uint32_t last = std::min(first + fanIn, ext->runCount);
    if (MergeIntoRunFile(run, ext->runs + first, last - first, &ext->merged[j]) != 0) return 1;
    for (uint32_t r = first; r < last; r++) RemoveRunFile(&ext->runs[r]);  // their room goes back at once
  }
  free(ext->runs);
  ext->runs = ext->merged;
  ext->runCount = count;
  ext->merged = nullptr;
  ext->mergedCount = 0;
  return 0;
}

int MergeDown(SortRunState *run) {
  while (run->externalSort->runCount > run->externalPlan.fanIn) {
    if (MergePass(run) != 0) return 1;
  }
  return 0;
}

int StartRunMerge(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  const ExternalPlan *plan = &run->externalPlan;
  ext->readers = static_cast<RunReader *>(AllocateZeroed(plan->fanIn, sizeof(RunReader)));
  ext->losers = static_cast<uint32_t *>(AllocateZeroed(plan->fanIn, sizeof(uint32_t)));
  ext->winners = static_cast<uint32_t *>(AllocateZeroed(plan->fanIn, sizeof(uint32_t)));
  bool allocated = ext->readers != nullptr && ext->losers != nullptr && ext->winners != nullptr &&
                   (ext->entryHead == run->plan.keyLength || StartStreamedCount(&ext->count, run->recordCount) == 0);
  for (uint32_t r = 0; allocated && r < plan->fanIn; r++) {
    ext->readers[r].capacity = plan->readSize;
    ext->readers[r].buffer = static_cast<unsigned char *>(AllocateZeroed(plan->readSize, 1));
    allocated = ext->readers[r].buffer != nullptr;
  }
  if (!allocated) {
    Fail(run, kMemoryError);
    return 1;
  }
  uint32_t passes = 1;
  for (uint64_t files = ext->runCount; files > plan->fanIn; files = (files + plan->fanIn - 1) / plan->fanIn) passes++;
  ext->mergeDone = 0;
  ext->mergeTotal = uint64_t{passes} * run->recordCount;
  ReportProgress(run->options.progress, kPhaseMergingRuns, 0, ext->mergeTotal);
  return 0;
}
