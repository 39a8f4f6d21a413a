// The state of one sort run, shared by the run's steps (sortrun.cpp) and the external path
// below them (runpath, runparts, runmerge, external): what the run owns from its start to
// its return, the messages more than one of them writes, and the one way a step fails.
#ifndef PELMAR_ENGINE_RUNSTATE_H
#define PELMAR_ENGINE_RUNSTATE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/keys.h"
#include "engine/mergecount.h"
#include "engine/runoptions.h"
#include "engine/runphases.h"
#include "engine/scanner.h"
#include "engine/sorttypes.h"
#include "engine/workpool.h"
#include "engine/workspace.h"
#include "os/platform.h"

// The sizes of an external run, chosen with its path (runpath.h) for its memory budget.
struct ExternalPlan {
  uint32_t partRecords;  // most records of one part, a multiple of 997
  size_t partBuffer;     // bytes of the part buffer (text: to begin with; it grows for long lines)
  uint32_t fanIn;        // most run files one merge takes
  size_t readSize;       // bytes of each merged run file's window
  uint32_t runCapacity;  // run files the parts make
};

struct RunReader;  // a run file being merged (runmerge.h)


// What an external run owns besides the run's own state (external.h allocates it).
struct ExternalSort {
  PhaseInput part;              // the part being sorted: its buffer as input, its own workspace, no reporter
  SortWorkspace partWorkspace;  // the part's arrays
  TextBlock block;              // the part buffer: a block of the input in memory
  uint32_t entryHead;           // each run entry's key (T bytes) and, for a report's merge count, the
                                // record's index in 4 more, before the record
  RunFile *runs;                // the run files, in input order of their records
  uint32_t runCount;
  RunFile *merged;              // during a merge pass: the longer run files it makes
  uint32_t mergedCount;
  unsigned char *writerBuffers; // the two buffers of the one file being written (seqwriter.h)
  RunReader *readers;           // fanIn readers with their windows (runmerge.h)
  uint32_t *losers;             // the merge's loser tree: fanIn nodes
  uint32_t *winners;            // and its set-up
  StreamedMergeCount count;     // MergeCompares, kept as the last merge emits the order
  uint64_t mergeDone;           // records the merges have emitted, over all passes
  uint64_t mergeTotal;          // records times merge passes; 0 for a merge of inputs (no progress)
  uint64_t emitted;             // records the last merge wrote to the output
};

// Everything one run owns, from its start to its return.
struct SortRunState {
  ParameterRecord job;           // the job, copied
  RunOptions options;            // the caller's options, resolved
  bool variable;                 // record length -1
  int statisticsFlag;            // the job's flag; 0 once the report cannot be opened
  uint32_t bufferSize;           // bytes of the record buffer; 0 until the job passed its check
  unsigned char *recordBuffer;   // B bytes: the scanner's zero-filled record scratch
  InputFile input;               // mapped whole when the run sorts in memory; several inputs or standard input
                                 // read into memory or a temporary file (runinput.h)
  FileIdentity sources[kMostInputs];  // the named inputs': none may be the output or the report
  int sourceCount;
  OutputFile output;
  bool outputOpen;
  uint32_t recordCount;          // n, once counted
  bool wideOffsets;              // input of 4 GiB or more: 8-byte offsets in text keys
  bool external;                 // sorted by parts and run files (external.h)
  ExternalPlan externalPlan;     // that path's sizes
  ExternalSort *externalSort;    // that path's buffers and run files; null otherwise
  FILE *statistics;              // open while the report is being written
  SortWorkspace ws;              // in memory: the arrays
  KeyPlan plan;
  uint64_t invalidFields[kMaxKeys];  // per key: fields that were not valid numbers, counted as keys are built
  PhaseInput phase;              // the phases over the input: its mapping in memory; pass 0's tally either way
  uint32_t t[5];                 // clock readings t0 to t4, milliseconds
  uint64_t leftOut;              // unique: records with a key equal to the one before, not written
  int outOfOrder;                // a check: 1 once a record out of key order was found
  int failed;                    // 1 once a failing message was written
  WorkPool *pool;                // started at the first parallel step, stopped at the run's end; null with one thread
};

// Messages more than one step of a run may write.
extern const char kMemoryError[];
extern const char kCannotOpenInput[];
extern const char kInputChanged[];
extern const char kReadError[];
extern const char kWriteError[];
extern const char kSequenceError[];
extern const char kPartialRecord[];
extern const char kDelimiterError[];
extern const char kRecordTooLong[];
extern const char kCannotCreateTemporary[];
extern const char kCannotWriteTemporary[];
extern const char kCannotReadTemporary[];

// Appends the message (with the name, for FailWithName's printf-style format) and marks
// the run failed.
void Fail(SortRunState *run, const char *message);
void FailWithName(SortRunState *run, const char *format, const char *name);

// A read of the input that failed or faulted: "Input File Changed During Sort" when the
// file's length is no longer what it was, else "Error Reading Input File" (also when the
// length cannot be told).
void FailInputRead(SortRunState *run);

// Checks that the input still has the length it was opened with. Returns 0; 1 after
// failing the run with "Input File Changed During Sort", or with "Error Reading Input File"
// when the length cannot be told.
int FailIfInputChanged(SortRunState *run);

// The key bytes that make two records equal for a unique run (up to the index or offset
// that ends every key), or 0 when the run keeps every record.
uint32_t UniqueLength(const KeyPlan *plan, const RunOptions *options);

// The run's pool, started on first use; null when the run has one thread (or no pool could
// be started: the run then goes on with one).
WorkPool *RunPool(SortRunState *run);

#endif
