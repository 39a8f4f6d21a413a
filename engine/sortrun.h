// The sort run: the engine's only entry. SortRun does one whole sort in one blocking call:
// it checks the job, maps the input, builds every record's key (keys.h; for
// variable-length records through the scanner, scanner.h), sorts the sort groups
// (groupsort.h), merges them (merge.h), copies the records unchanged in key order to the
// output and, when asked, writes the statistics report (statreport.h).
// Only keys, references, offsets and lengths are held in memory, never the records: the
// output copies each record from the mapped input at its offset. A run that would not fit
// its memory budget that way sorts externally (external.h), with the same output.
// With more than one thread (SortThreads) every phase runs on a pool of workers that lives
// for the run (workpool.h): keys in ranges of records (text in ranges cut after a line
// end), the groups each on one worker, the merge in key ranges, the output in ranges of
// output positions written at their offsets. Each gives exactly the one-thread result.
#ifndef PELMAR_ENGINE_SORTRUN_H
#define PELMAR_ENGINE_SORTRUN_H

#include <cstddef>
#include <cstdint>

#include "engine/sorttypes.h"
#include "engine/workspace.h"

// ---- Progress, for a caller that shows it (pelmar-sort's line on a terminal, the Sort
// dialog's caption). With no function set, the run's only cost is one test per 65536 items.

constexpr int kPhaseKeying = 0;   // reading the input and building the keys
constexpr int kPhaseSorting = 1;  // sorting the sort groups
constexpr int kPhaseMerging = 2;  // merging the groups
constexpr int kPhaseWriting = 3;  // copying the records to the output
constexpr int kPhaseWritingRuns = 4;  // external sort: reading the input, sorting it a part at a time into run files
constexpr int kPhaseMergingRuns = 5;  // external sort: merging the run files, the last merge into the output

// Called at the start of each phase (done 0) and every kProgressInterval items in it;
// done and total are in the phase's own units (bytes or records).
typedef void (*SortProgressFunction)(int phase, uint64_t done, uint64_t total);

extern SortProgressFunction SortProgress;  // null: no reports

constexpr uint32_t kProgressInterval = 1u << 16;

inline void ReportProgress(int phase, uint64_t done, uint64_t total) {
  if (SortProgress != nullptr) SortProgress(phase, done, total);
}

// Folder of the statistics file, set by the caller before a run with statistics on.
// The report goes to StatisticsDirectory followed by the separator and "SortStat.txt".
extern char StatisticsDirectory[kNameSize];

// Threads a run uses: 0 (the default) for the cores, at most 8; 1 for everything on the
// calling thread. Any count gives the same output, report and messages.
extern int SortThreads;

// 1 after a run that wrote its statistics report whole; 0 after any other run.
extern int StatisticsWritten;

// ---- Memory budget and the external sort. A run whose keys, arrays and mapped input would
// take more than the budget sorts externally (external.h): the input read in sequence a part
// at a time, each part sorted into a run file, the run files merged into the output. The
// output is the same, byte for byte, on either path.

constexpr uint64_t kMinimumMemoryBudget = uint64_t{16} << 20;  // the least budget a run takes

// Bytes a run may use; 0 (the default) for DefaultMemoryBudget(). A budget below the
// minimum counts as the minimum.
extern uint64_t SortMemoryBudget;

// Half the physical memory, at least the minimum (1 GiB when the system does not tell).
uint64_t DefaultMemoryBudget();

// Folder of the run files; empty (the default) for the system's temporary folder.
extern char TemporaryFolder[kNameSize];

// 1 after a run that took the external path; 0 after any other.
extern int SortRanExternally;

// Test seam: records per part (a multiple of 997) and run files per merge for the external
// path, with every run taking it (0, 0: the budget decides), and the first block of its
// scan of text lines in bytes (0: 8 MiB); and the input size from which offsets are 8
// bytes wide (0: 4 GiB).
void SetExternalLimitsForTesting(uint32_t partRecords, uint32_t fanIn, size_t scanBlock = 0);
void SetWideOffsetsForTesting(uint64_t fromSize);

// Runs the sort that job describes. The caller has cleared the error text; every message
// of the run is appended to it, a failed run's last one being
// "\n* * * ERRORS! - Sort Terminated * * *". Returns 0 when the output file has been
// written whole, 1 when the run failed; a failed run leaves the output file empty (or
// untouched, when it was never opened) and the input file always untouched.
int SortRun(const ParameterRecord *job);

// Sizes the workspace for n records and the job's keys, and allocates every array
// zero-filled. Returns 0; 1 when the keys of fixed-length records add up to more than
// the record length (nothing allocated); 2 when an allocation failed.
// Fills ws->allocatedMemoryUsage with 12n + 4G + nT (+ 2n for variable-length records);
// the caller adds the two record buffers.
// wideOffsets (variable-length records of an input of 4 GiB or more): 8-byte offsets and
// key suffixes; the figure then counts the offsets' 8 bytes.
int AllocateWorkspace(SortWorkspace *ws, uint32_t recordCount, const ParameterRecord *job, bool wideOffsets = false);

// Frees every array of the workspace (those allocated) and clears it.
void ReleaseWorkspace(SortWorkspace *ws);

#endif
