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

struct RunOptions {
  int threads;                      // 0 for the cores (at most kDefaultMostThreads); 1 for everything on the
                                    // calling thread; at most kMaxSortThreads. Every count gives the same
                                    // output, report and messages
  uint64_t memoryBudget;            // bytes the run may use; 0 for DefaultMemoryBudget(); less than the
                                    // minimum counts as the minimum
  char temporaryFolder[kNameSize];  // folder of the run files; empty for the system's temporary folder
  SortProgressFunction progress;    // receives the run's progress; null for none
  KeySettings keySettings;          // pelmar-sort's: stable order, and how keys on a field find it
};

struct RunOutcome {
  int statisticsWritten;  // 1 after a run that wrote its statistics report whole
  int ranExternally;      // 1 after a run that took the external path (external.h)
  uint64_t invalidFields[kMaxKeys];  // per key: fields that were not valid numbers (pd, zd, za)
};

// Half the physical memory, at least the minimum (1 GiB when the system does not tell).
uint64_t DefaultMemoryBudget();

// given with every default replaced by what it stands for: threads 1 to kMaxSortThreads, a
// budget of at least the minimum, the temporary folder named. given may be null (all defaults).
void ResolveRunOptions(const RunOptions *given, RunOptions *resolved);

#endif
