// The progress of a sort run, for a caller that shows it (pelmar-sort's line on a terminal,
// the Sort dialog's caption): the phases a run passes, the reporter a caller hands the run
// in its options, and the one call that reports. The run hands its reporter down to every
// step; a step that must stay silent (a part of an external run) is handed none.
// With no reporter, a run's only cost is one test per kProgressInterval items.
#ifndef PELMAR_ENGINE_RUNPROGRESS_H
#define PELMAR_ENGINE_RUNPROGRESS_H

#include <cstdint>

constexpr int kPhaseKeying = 0;       // reading the input and building the keys
constexpr int kPhaseSorting = 1;      // sorting the sort groups
constexpr int kPhaseMerging = 2;      // merging the groups
constexpr int kPhaseWriting = 3;      // copying the records to the output
constexpr int kPhaseWritingRuns = 4;  // external sort: reading the input, sorting it a part at a time into run files
constexpr int kPhaseMergingRuns = 5;  // external sort: merging the run files, the last merge into the output

// Called at the start of each phase (done 0) and every kProgressInterval items in it;
// done and total are in the phase's own units (bytes, records or groups).
typedef void (*SortProgressFunction)(int phase, uint64_t done, uint64_t total);

constexpr uint32_t kProgressInterval = 1u << 16;

// Hands one report to reporter; nothing when reporter is null.
void ReportProgress(SortProgressFunction reporter, int phase, uint64_t done, uint64_t total);

#endif
