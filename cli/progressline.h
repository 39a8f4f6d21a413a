// pelmar-sort's progress line on a terminal: the phase and a percentage, rewritten in
// place, shown only once a run has taken more than a moment and cleared at its end.
#ifndef PELMAR_CLI_PROGRESSLINE_H
#define PELMAR_CLI_PROGRESSLINE_H

#include <cstdint>
#include <cstdio>

constexpr uint32_t kProgressDelay = 500;  // milliseconds before the line appears

// Starts showing progress on terminal (the engine's SortProgress calls back here).
void StartProgress(FILE *terminal);

// The engine's callback: writes "\rpelmar-sort: keying   42%" when the phase or the
// whole percentage changed, once kProgressDelay has passed since StartProgress.
void ShowProgress(int phase, uint64_t done, uint64_t total);

// Clears the line if anything was shown, and stops.
void EndProgress();

#endif
