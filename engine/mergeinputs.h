// pelmar-sort's runs over inputs that are each in key order already: a merge of them into
// the output in one pass (MergeInputs), and a check that they are in key order (CheckInputs).
// Each input is read in sequence a block at a time: the block's records are cut and keyed
// as a part of an external sort is (runphases.h), but not sorted: each key is held against
// the one before it, and the first record out of key order ends the run with a message that
// names it ("Record 3 at Byte 210 of day2.txt Is Out of Key Order!"). The merge makes run
// entries of the records for the run-file merge's readers (runmerge.h), ties going to the
// earlier input. Keys end in no offset or index: equal keys keep their input's order.
// Call order: one of the two, after the job's check; either opens every input itself.
#ifndef PELMAR_ENGINE_MERGEINPUTS_H
#define PELMAR_ENGINE_MERGEINPUTS_H

#include "engine/runstate.h"

// Opens the inputs, then the output with openOutput (so an output that is one of the inputs
// is known as such, and a missing input stops the run before any output exists), and
// merges the inputs into it. Returns 0, or 1 once the run has failed (an input out of key
// order leaves the output as it was).
int MergeInputs(SortRunState *run, int (*openOutput)(SortRunState *run));

// Checks that the inputs, taken as one, are in key order (equal keys in any order; with
// unique, equal keys are out of order), writing nothing. Returns 0; or 1 once a record out
// of order was found (run->outOfOrder, its message written) or the run failed.
int CheckInputs(SortRunState *run);

#endif
