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

struct RunReader;

// Adds whole entries to a reader's window, at most room bytes of them at bytes: read from
// its run file, or made from the records of an input (mergeinputs.h). Returns the bytes
// added, 0 when no entry is left, or -1 when it failed (an input's failure has failed the run).
typedef int64_t (*FillEntries)(RunReader *reader, unsigned char *bytes, size_t room);

// One run of entries being merged: a window of it in memory holding at least its head entry
// whole. An entry is a key of T bytes, the record's index in 4 when a report counts the
// merge (entryHead bytes so far), then the record (a text line's after its length in 2
// bytes).
struct RunReader {
  FillEntries fill;        // where its entries come from
  void *source;            // the run file, or the input
  const char *name;        // for the messages of a run file that cannot be read
  uint64_t offset;         // a run file: the next byte to read
  uint64_t released;       // and the bytes before this one given back
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

// Merges the entries of readers[0, count) of the external sort into the output (whose line
// ends and unique rule the run's options give), ties going to the lower reader; counts
// MergeCompares when the merge count was started. Returns 0, or 1 once the run has failed.
int MergeReadersIntoOutput(SortRunState *run, uint32_t count);

// Merge passes while there are more run files than one merge takes. Returns 0, or 1 once
// the run has failed.
int MergeDown(SortRunState *run);

// The last merge: the records into the output in sequence, MergeCompares counted as they
// go. Returns 0, or 1 once the run has failed.
int MergeIntoOutput(SortRunState *run);

#endif
