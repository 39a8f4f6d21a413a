// The external sort: a run whose keys, arrays and mapped input would not fit its memory
// budget. Call order, from the sort run's steps: PlanExternalSort (at the allocation step:
// sizes and allocates everything and gives the report's figure), SortExternally (the sort
// and the output), ReleaseExternalSort (at the end, on every way out).
//
// The input is read in sequence in parts of whole sort groups. Each part's keys are built,
// its groups sorted by the group quicksort and merged (exactly as a run in memory does,
// on every core), and the part is written in key order to a run file: each entry its key,
// its record index and the record itself, so that nothing of the input is read again.
// The run files are then merged, ties going to the earlier run (the earlier groups); with
// more run files than one merge may take, consecutive ones are merged into longer ones
// first. The last merge writes the records to the output in sequence.
//
// The order is the one the whole run in memory gives: within a part, (key, group, place in
// the sorted group) as the group merge orders it; parts are consecutive groups, so the
// earlier run holds the lower groups. Example: with parts of one group each, groups 0 and
// 1 sorted to keys 2 5 and 1 5 become runs 0 and 1; the merge emits 1 (run 1), 2, 5 (run
// 0), 5 (run 1), as the group merge does.
//
// The report: the group lines and SortCompares as in memory (the same groups, the same
// quicksort); MergeCompares is the count of the selection merge over all the groups,
// recovered exactly from the final order as it is emitted (mergecount.cpp's rule, streamed).
#ifndef PELMAR_ENGINE_EXTERNAL_H
#define PELMAR_ENGINE_EXTERNAL_H

#include <cstdint>

#include "engine/runstate.h"

// Bytes the run would take in memory for n records: its arrays, buffers and the mapped input.
uint64_t InMemoryBytes(const SortRunState *run, uint64_t n);

// Guarded work for a text input too large to map within the budget: pass 0 of the scanner
// over the input read in blocks. Fills run->tally; returns the scan result, -1 when a read
// failed, or kScanTooManyRecords.
int ScanInputInBlocks(SortRunState *run);
constexpr int kScanTooManyRecords = 4;

// Sizes the parts and the merges for the budget and allocates the part's buffer and arrays.
// Returns 0, or 2 when an allocation failed. *figure receives the bytes allocated for the
// report: the part's arrays as the report counts a run's arrays, its buffer, the run file
// buffers and the run's two record buffers.
int PlanExternalSort(SortRunState *run, uint64_t *figure);

// Sorts and writes the output. Returns 0, or 1 once the run has failed (message written).
int SortExternally(SortRunState *run);

// 1 when the test seam sends every run the external way.
int ExternalForcedForTesting();

// Frees everything and closes (so removes) every run file; nothing when there is nothing.
void ReleaseExternalSort(SortRunState *run);

#endif
