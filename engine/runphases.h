// The phases of a sort over bytes in memory, on the pool when there is one: the scan of a
// text input (pass 0), the keys, and the copy of the records to the output in final order.
// Each gives exactly what the same phase gives on the calling thread, which it falls back
// to when the pool or its scratch cannot be had. The in-memory run hands them the mapped
// input, an external run each part's buffer, both as a PhaseInput.
// Call order: ScanInput (text), BuildKeys, then, once the groups are sorted and merged,
// WriteOutput (the in-memory run; an external part writes a run file instead). Each runs
// under RunGuarded (os/platform.h): a read of a mapped input that faults ends it with -1.
#ifndef PELMAR_ENGINE_RUNPHASES_H
#define PELMAR_ENGINE_RUNPHASES_H

#include <cstdint>

#include "engine/keys.h"
#include "engine/runoptions.h"
#include "engine/runprogress.h"
#include "engine/scanner.h"
#include "engine/workpool.h"
#include "engine/workspace.h"
#include "os/platform.h"

constexpr uint32_t kScanRangesPerThread = 4;  // ranges of a text input per worker
constexpr uint32_t kMaxScanRanges = kMaxSortThreads * kScanRangesPerThread;

// The ranges pass 0 cut a text input into on the pool, and the records it found in each;
// pass 1 keys the same ranges.
struct ScanRanges {
  uint32_t count;                          // 0 when the text was scanned whole
  uint64_t starts[kMaxScanRanges + 1];     // each range's first byte, then the size
  uint32_t records[kMaxScanRanges];        // records pass 0 found in each range
};

// What the phases work on.
struct PhaseInput {
  const unsigned char *bytes;    // the records: the mapped input, or an external part's buffer
  uint64_t size;                 // bytes
  uint64_t base;                 // the input file's offset of bytes[0]
  int32_t recordLength;          // bytes per record, or kVariableRecords
  SortWorkspace *ws;             // the keys, references and offsets of these records
  const KeyPlan *plan;
  WorkPool *pool;                // null: everything on the calling thread
  int threads;                   // the pool's workers; 1 without one
  unsigned char *scratch;        // a zero-filled record scratch of scratchSize bytes (pass 1 on this thread)
  uint32_t scratchSize;
  SortProgressFunction progress; // the run's reporter; null for an external part, which reports as a whole
  ScanTally tally;               // pass 0's record count and longest record
  ScanRanges ranges;             // pass 0's ranges, on a pool
};

// Guarded work: pass 0 of the scanner over the text (a PhaseInput). Fills tally and, on a
// pool, the ranges. Returns the scan result, or -1 when a worker's read faulted first.
int ScanInput(void *phase);

// Guarded work: builds every key (a PhaseInput; text after ScanInput). Returns 0, or
// kScanChanged when pass 1 disagrees with pass 0; -1 when a worker's read faulted.
int BuildKeys(void *phase);

// The records of a phase's input copied to an output in final order.
struct OutputCopy {
  const PhaseInput *input;
  OutputFile *output;            // a regular file (parts of it written at their offsets at once), or
                                 // one written in sequence (a pipe)
  const unsigned char *lineEnd;  // text lines: the bytes each ends in
  uint32_t lineEndLength;
  uint32_t uniqueLength;         // 0; or the key bytes that make records equal, of which only the first is written
  uint64_t leftOut;              // records left out as equal to the one before
};

// The bytes written text lines end in, by kLineEndCrLf ...; *length receives how many.
const unsigned char *LineEndBytes(int lineEnd, uint32_t *length);

// Guarded work: copies the records (an OutputCopy). Returns 0, 1 when a write failed, or -1
// when a worker's read faulted.
int WriteOutput(void *copy);

#endif
