// How often a run's progress is shown, and under what names: the one throttle of every
// display of the progress a run reports (runprogress.h), pelmar-sort's line on a terminal and the Sort
// dialog's caption alike. Nothing is shown for a run shorter than kProgressDelay; after
// it, a display is redrawn only when the phase or the whole percentage changed.
// Call order: StartProgressThrottle when the run starts, then ThrottleProgress with each
// report of the hook.
#ifndef PELMAR_ENGINE_PROGRESSTHROTTLE_H
#define PELMAR_ENGINE_PROGRESSTHROTTLE_H

#include <cstdint>

constexpr uint32_t kProgressDelay = 500;  // milliseconds before anything is shown

// The names of the phases, as each display shows them. A new phase is one more row.
struct PhaseNames {
  int phase;            // kPhaseKeying and the others of runprogress.h
  const char *caption;  // in the Sort dialog's caption: "merging groups"
  const char *line;     // on pelmar-sort's line, at most 12 characters: "merging", "merging runs"
};

// The row of phase, or null for a phase without one.
const PhaseNames *FindPhaseNames(int phase);

// What one display has shown of the run now going on.
struct ProgressThrottle {
  uint32_t start;    // ElapsedMilliseconds (os/platform.h) when the run started
  int shownPhase;    // the phase shown last; -1 while nothing has been shown
  int shownPercent;  // the whole percentage shown last
};

// The whole percentage of done out of total: 0 for an empty total, never above 100.
int ProgressPercent(uint64_t done, uint64_t total);

// The run starts now: nothing is shown yet.
void StartProgressThrottle(ProgressThrottle *throttle);

// What a display does with one report of the hook.
constexpr int kProgressHidden = 0;   // the run is younger than kProgressDelay: show nothing
constexpr int kProgressSame = 1;     // the display shows this phase and percentage already
constexpr int kProgressChanged = 2;  // draw it: the throttle takes it as shown

int ThrottleProgress(ProgressThrottle *throttle, int phase, uint64_t done, uint64_t total);

#endif
