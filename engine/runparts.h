// The first half of an external run: the input read in sequence a part at a time, each
// part keyed, its groups sorted and merged exactly as a run in memory does it (on every
// core), and the part written in key order to a run file. A run file holds, per record, its
// key, its index in the input when a report counts the merge, and the record itself (text:
// its length in two bytes, then its bytes), so that nothing of the input is read again.
// Call order: ScanInputInBlocks (pass 0 of a text input that is not mapped, before the path
// is chosen), then WriteRunFiles once the external sort is allocated (external.h).
#ifndef PELMAR_ENGINE_RUNPARTS_H
#define PELMAR_ENGINE_RUNPARTS_H

#include "engine/runstate.h"

constexpr int kScanTooManyRecords = 4;  // pass 0 counted more than 2^32 - 1 records
constexpr int kScanNoMemory = 5;        // a block of text had to grow and could not
constexpr int kScanReadFailed = -1;     // a read failed, or the input ended before its size

// Pass 0 of the scanner over the input read in blocks (TextBlock), each block scanned as a
// mapped input is, in ranges on the run's pool. Fills run->phase.tally. Returns kScanGood,
// kScanDelimiterError, kScanTooLong, kScanTooManyRecords, kScanNoMemory or kScanReadFailed.
int ScanInputInBlocks(SortRunState *run);

// Sorts the input into run files, the parts in input order, their progress reported as
// bytes of the input (kPhaseWritingRuns). Returns 0, or 1 once the run has failed.
int WriteRunFiles(SortRunState *run);

#endif
