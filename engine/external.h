// The external sort: a run whose keys, arrays and mapped input would not fit its memory
// budget (runpath.h chooses it and sizes its parts and merges). The input is read in
// sequence in parts of whole sort groups, each part sorted into a run file (runparts.h),
// and the run files merged into the output (runmerge.h). The output and the report are
// those of the run in memory, but for the memory figure.
// Call order, from the sort run's steps: AllocateExternalSort (at the allocation step),
// SortExternally (the sort and the output), ReleaseExternalSort (at the end, on every way
// out).
//
// The report: the group lines and SortCompares as in memory (the same groups, the same
// quicksort); MergeCompares is the count of the selection merge over all the groups,
// recovered exactly from the final order as it is emitted (mergecount.h, streamed).
#ifndef PELMAR_ENGINE_EXTERNAL_H
#define PELMAR_ENGINE_EXTERNAL_H

#include <cstdint>

#include "engine/runstate.h"

// Allocates what the plan sizes: the part's buffer and arrays, the table of run files and
// the writer's buffers. Returns 0; 1 when the keys of fixed-length records add up to more
// than the record length; 2 when an allocation failed. *figure receives the bytes the
// report gives: the part's arrays as the report counts a run's arrays, its buffer and a run
// file's write buffers, or, when larger, the merges' windows and buffers; plus the run's
// two record buffers.
int AllocateExternalSort(SortRunState *run, uint64_t *figure);

// Sorts and writes the output; a failure is in run->failed with its message.
void SortExternally(SortRunState *run);

// Frees everything and closes (so removes) every run file; nothing when there is nothing.
void ReleaseExternalSort(SortRunState *run);

#endif
