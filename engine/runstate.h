// The state of one sort run, shared by the run's steps (sortrun.cpp) and its phases on the
// pool (runphases.cpp). Nothing outside those two files includes this header.
// Call order of the phases: ScanInput (text input), BuildKeys, then, after the groups are
// sorted and merged, WriteOutput.
#ifndef PELMAR_ENGINE_RUNSTATE_H
#define PELMAR_ENGINE_RUNSTATE_H

#include <cstdint>
#include <cstdio>

#include "engine/keys.h"
#include "engine/scanner.h"
#include "engine/sorttypes.h"
#include "engine/workpool.h"
#include "engine/workspace.h"
#include "os/platform.h"

constexpr uint32_t kScanRangesPerThread = 4;  // ranges of a text input per worker
constexpr uint32_t kMaxScanRanges = kMaxSortThreads * kScanRangesPerThread;

struct ExternalSort;

// Everything one run owns, from its start to its return.
struct SortRunState {
  ParameterRecord job;           // the job, copied
  bool variable;                 // record length -1
  int statisticsFlag;            // the job's flag; 0 once the report cannot be opened
  uint32_t bufferSize;           // bytes of the record buffer; 0 until the job passed its check
  unsigned char *recordBuffer;   // B bytes: the scanner's zero-filled record scratch
  InputFile input;               // mapped whole; not mapped when the run sorts externally
  uint64_t inputBase;            // the file offset of input.bytes[0]: 0, or a part's first byte
  OutputFile output;
  bool outputOpen;
  uint32_t recordCount;          // n, once counted
  uint64_t budget;               // bytes the run may use
  bool wideOffsets;              // input of 4 GiB or more: 8-byte offsets in text keys
  bool external;                 // sorted by parts and run files (external.h)
  ExternalSort *externalSort;    // that path's buffers and run files; null otherwise
  FILE *statistics;              // open while the report is being written
  SortWorkspace ws;
  KeyPlan plan;
  ScanTally tally;               // pass 0's record count and longest record
  uint32_t t[5];                 // clock readings t0 to t4, milliseconds
  int failed;                    // 1 once a failing message was written
  int threads;                   // threads the run uses; 0 until its first parallel phase asks
  WorkPool *pool;                // started by that phase, stopped at the run's end; null with one thread
  uint32_t scanRanges;           // text input: the ranges pass 0 scanned on the pool; 0 when scanned whole
  uint64_t scanStarts[kMaxScanRanges + 1];  // each range's first byte, then the file size
  uint32_t scanRecords[kMaxScanRanges];     // records pass 0 found in each range
};

// Messages more than one step of a run may write.
extern const char kMemoryError[];
extern const char kInputChanged[];
extern const char kReadError[];
extern const char kWriteError[];
extern const char kSequenceError[];

void Fail(SortRunState *run, const char *message);
void FailWithName(SortRunState *run, const char *format, const char *name);

// The run's pool, started on first use; null when the run has one thread (or no pool could
// be started: the run then goes on with one).
WorkPool *RunPool(SortRunState *run);

// Guarded work (RunGuarded): pass 0 of the scanner over the mapped text input. Returns the
// scan result, or -1 when a worker's read faulted first.
int ScanInput(void *run);

// Guarded work: builds every key. Returns 0, or kScanChanged when pass 1 disagrees with
// pass 0; -1 when a worker's read faulted.
int BuildKeys(void *run);

// Guarded work: copies the records to the output in final order. Returns 0, 1 when a write
// failed, or -1 when a worker's read faulted.
int WriteOutput(void *run);

#endif
