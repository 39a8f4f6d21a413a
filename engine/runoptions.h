// What a sort run takes beyond its job, and what it tells back beyond its result. The
// caller (pelmar-sort, the Sort dialog, a test) fills a RunOptions; SortRun copies it,
// resolved, at its start, and below SortRun only that copy is read. SortRun fills a
// RunOutcome at its end.
#ifndef PELMAR_ENGINE_RUNOPTIONS_H
#define PELMAR_ENGINE_RUNOPTIONS_H

#include <cstdint>

#include "engine/keys.h"
#include "engine/runprogress.h"
#include "engine/sorttypes.h"

constexpr uint64_t kMinimumMemoryBudget = uint64_t{16} << 20;  // the least budget a run takes
constexpr int kDefaultMostThreads = 8;                          // the default thread count: the cores, at most this

constexpr int kMostInputs = 1024;  // inputs one run takes

// What a run does with its inputs.
constexpr int kRunSort = 0;   // sorts them (the described run)
constexpr int kRunMerge = 1;  // merges inputs that are each in key order, in one pass
constexpr int kRunCheck = 2;  // only checks that they are in key order, writing nothing

// How written text lines end.
constexpr int kLineEndCrLf = 0;  // CR LF, as described
constexpr int kLineEndLf = 1;
constexpr int kLineEndCr = 2;
constexpr int kLineEndNul = 3;

// pelmar-sort's inputs and output beyond the job's two names, and what the run does with them.
struct StreamSettings {
  const char *const *inputs;  // the inputs, taken as one in this order ("-": standard input); null: the job's
  int inputCount;
  int standardOutput;         // 1: the output is standard output, whatever the job names
  int action;                 // kRunSort, kRunMerge or kRunCheck
  int unique;                 // 1: of equal keys only the first in input order is written; a check takes
                              // equal keys as out of order
  int lineEnd;                // kLineEndCrLf ...
};

struct RunOptions {
  int threads;                      // 0 for the cores (at most kDefaultMostThreads); 1 for everything on the
                                    // calling thread; at most kMaxSortThreads. Every count gives the same
                                    // output, report and messages
  uint64_t memoryBudget;            // bytes the run may use; 0 for DefaultMemoryBudget(); less than the
                                    // minimum counts as the minimum
  char temporaryFolder[kNameSize];  // folder of the run files; empty for the system's temporary folder
  SortProgressFunction progress;    // receives the run's progress; null for none
  KeySettings keySettings;          // pelmar-sort's: stable order, and how keys on a field find it
  StreamSettings streams;           // pelmar-sort's: several inputs, standard input and output, merge, check
};

struct RunOutcome {
  int statisticsWritten;  // 1 after a run that wrote its statistics report whole
  int ranExternally;      // 1 after a run that took the external path (external.h)
  uint64_t invalidFields[kMaxKeys];  // per key: fields that were not valid numbers (pd, zd, za)
  uint64_t leftOut;                  // records a unique run left out: equal keys after the first
  int outOfOrder;                    // 1 after a check that found a record out of key order
};

// Half the physical memory, at least the minimum (1 GiB when the system does not tell).
uint64_t DefaultMemoryBudget();

// given with every default replaced by what it stands for: threads 1 to kMaxSortThreads, a
// budget of at least the minimum, the temporary folder named. given may be null (all defaults).
void ResolveRunOptions(const RunOptions *given, RunOptions *resolved);

#endif
