// The sort run: the engine's only entry. SortRun does one whole sort in one blocking call:
// it checks the job, opens and (for text lines) scans the input, chooses the path for its
// memory budget (runpath.h), builds every record's key (keys.h; for text lines through the
// scanner, scanner.h), sorts the sort groups (groupsort.h), merges them (merge.h), copies
// the records unchanged in key order to the output and, when asked, writes the statistics
// report (statreport.h).
// Only keys, references, offsets and lengths are held in memory, never the records: the
// output copies each record from the mapped input at its offset. A run that would not fit
// its memory budget that way sorts externally (external.h), with the same output.
// With more than one thread every phase runs on a pool of workers that lives for the run
// (workpool.h, runphases.h): keys in ranges of records (text in ranges cut after a line
// end), the groups each on one worker, the merge in key ranges, the output in ranges of
// output positions written at their offsets. Each gives exactly the one-thread result.
#ifndef PELMAR_ENGINE_SORTRUN_H
#define PELMAR_ENGINE_SORTRUN_H

#include "engine/runoptions.h"
#include "engine/sorttypes.h"

// Folder of the statistics file, set by the caller before a run with statistics on.
// The report goes to StatisticsDirectory followed by the separator and "SortStat.txt".
extern char StatisticsDirectory[kNameSize];

// Runs the sort that job describes, with options (null: every default), and fills outcome
// (unless null). The caller has cleared the error text; every message of the run is
// appended to it, a failed run's last one being "\n* * * ERRORS! - Sort Terminated * * *".
// Returns 0 when the output file has been written whole, 1 when the run failed; a failed
// run leaves the output file empty (or untouched, when it was never opened) and the input
// file always untouched.
int SortRun(const ParameterRecord *job, const RunOptions *options = nullptr, RunOutcome *outcome = nullptr);

#endif
