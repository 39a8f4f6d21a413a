// The path a run takes, chosen for its memory budget: in memory, the input mapped and every
// key and array held at once, when that fits; otherwise external (external.h), the input
// read in sequence, with parts and merges sized to fit.
// Call order: for a text input, MapsForScan before pass 0 (may pass 0 map the input?);
// then ChooseRunPath once the records are counted.
#ifndef PELMAR_ENGINE_RUNPATH_H
#define PELMAR_ENGINE_RUNPATH_H

#include <cstddef>
#include <cstdint>

#include "engine/runstate.h"

// Inputs from this size on take 8-byte offsets (text lines keep them in their keys).
bool OffsetsAreWide(uint64_t inputSize);

// Bytes the run would take in memory for n records: its arrays, buffers and the mapped input.
uint64_t InMemoryBytes(const SortRunState *run, uint64_t n);

// A text input that pass 0 may map: it fits the budget by itself, its count cannot pass
// 32 bits, and no test sends every run the external way. Otherwise pass 0 reads it in
// blocks (runparts.h).
bool MapsForScan(const SortRunState *run);

// The first block of the scan of a text input read in blocks, in bytes.
size_t FirstScanBlock();

// Chooses the path for the run's counted records (2 to 2^32 - 1): run->external (already
// set for a text input that pass 0 read in blocks), and for the external path
// run->externalPlan. Allocates nothing.
void ChooseRunPath(SortRunState *run);

// Test seams: records per part (a multiple of 997) and run files per merge for the external
// path, with every run taking it (0, 0: the budget decides), and the first block of its
// scan of text lines in bytes (0: 8 MiB); and the input size from which offsets are 8
// bytes wide (0: 4 GiB).
void SetExternalLimitsForTesting(uint32_t partRecords, uint32_t fanIn, size_t scanBlock = 0);
void SetWideOffsetsForTesting(uint64_t fromSize);

#endif
