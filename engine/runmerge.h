// The second half of an external run: the run files merged, ties going to the earlier run
// file (so to the earlier groups), in passes while there are more run files than one merge
// takes (each fanIn consecutive ones into a longer one), the last merge into the output.
// Call order: StartRunMerge, MergeDown, MergeIntoOutput.
//
// The order is the one the whole run in memory gives: within a part, (key, group, place in
// the sorted group) as the group merge orders it; parts are consecutive groups, so the
// earlier run holds the lower groups. Example: with parts of one group each, groups 0 and
// 1 sorted to keys 2 5 and 1 5 become runs 0 and 1; the merge emits 1 (run 1), 2, 5 (run
// 0), 5 (run 1), as the group merge does.
#ifndef PELMAR_ENGINE_RUNMERGE_H
#define PELMAR_ENGINE_RUNMERGE_H

#include <cstddef>
#include <cstdint>

#include "engine/runstate.h"

// One run file being merged: a window of it in memory holding at least its head entry whole.
struct RunReader {
  const RunFile *file;
  uint64_t offset;         // the next byte of the file to read
  unsigned char *buffer;   // the window, capacity bytes
  size_t capacity;
  size_t start;            // the head entry's first byte in the window
  size_t end;              // bytes in the window
  size_t headLength;       // bytes of the head entry
  uint64_t prefix;         // its key's first eight bytes, big-endian; all ones when done
  bool done;               // no entry left
};

// Bytes the merges allocate for fanIn readers of readSize bytes and an order of G groups.
uint64_t RunMergeBytes(uint32_t fanIn, size_t readSize, uint64_t groupCount);

// Allocates the readers, the tree and the merge count, and starts the merges' progress
// (kPhaseMergingRuns: every record once per pass). Returns 0, or 1 once the run has failed.
int StartRunMerge(SortRunState *run);

// Merge passes while there are more run files than one merge takes. Returns 0, or 1 once
// the run has failed.
int MergeDown(SortRunState *run);

// The last merge: the records into the output in sequence, MergeCompares counted as they
// go. Returns 0, or 1 once the run has failed.
int MergeIntoOutput(SortRunState *run);

#endif
