// Progress of a sort run, for a caller that shows it (the command-line runner on a
// terminal). With no function set, the run's only cost is one test per 65536 items.
#ifndef PELMAR_ENGINE_PROGRESS_H
#define PELMAR_ENGINE_PROGRESS_H

#include <cstdint>

constexpr int kPhaseKeying = 0;   // reading the input and building the keys
constexpr int kPhaseSorting = 1;  // sorting the sort groups
constexpr int kPhaseMerging = 2;  // merging the groups
constexpr int kPhaseWriting = 3;  // copying the records to the output

// Called at the start of each phase (done 0) and every kProgressInterval items in it;
// done and total are in the phase's own units (bytes or records).
typedef void (*SortProgressFunction)(int phase, uint64_t done, uint64_t total);

extern SortProgressFunction SortProgress;  // null: no reports

constexpr uint32_t kProgressInterval = 1u << 16;

inline void ReportProgress(int phase, uint64_t done, uint64_t total) {
  if (SortProgress != nullptr) SortProgress(phase, done, total);
}

#endif
