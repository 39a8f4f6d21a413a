// pelmar-sort's progress line on a terminal: the phase and a percentage, rewritten in
// place, shown only once a run has taken more than a moment (the throttle of
// engine/progressthrottle.h) and cleared at its end.
#ifndef PELMAR_CLI_PROGRESSLINE_H
#define PELMAR_CLI_PROGRESSLINE_H

#include <cstdint>
#include <cstdio>

#include "engine/progressthrottle.h"

// Starts showing progress on terminal (ShowProgress is the run's reporter, runprogress.h).
void StartProgress(FILE *terminal);

// The engine's callback: writes "\rpelmar-sort: keying   42%" when the throttle says the
// phase or the whole percentage changed after kProgressDelay; a phase without a name for
// the line is not shown.
void ShowProgress(int phase, uint64_t done, uint64_t total);

// Clears the line if anything was shown, and stops.
void EndProgress();

#endif
