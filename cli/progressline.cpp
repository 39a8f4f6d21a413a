#include "cli/progressline.h"

static const int kLineWidth = 28;  // "pelmar-sort: merging  100%" and room; a longer line clears its own width

static FILE *gTerminal = nullptr;  // where the line goes; null when not started
static ProgressThrottle gShown;    // what the line shows now
static int gShownWidth = 0;        // the width to clear at the end: kLineWidth, or the longest line shown

void StartProgress(FILE *terminal) {
  gTerminal = terminal;
  StartProgressThrottle(&gShown);
  gShownWidth = kLineWidth;
}

void ShowProgress(int phase, uint64_t done, uint64_t total) {
  const PhaseNames *names = FindPhaseNames(phase);
  if (gTerminal == nullptr || names == nullptr) return;
  if (ThrottleProgress(&gShown, phase, done, total) != kProgressChanged) return;
  const int width = fprintf(gTerminal, "\rpelmar-sort: %-8s %3d%%", names->line, gShown.shownPercent) - 1;
  if (width > gShownWidth) gShownWidth = width;
  fflush(gTerminal);
}

void EndProgress() {
  if (gTerminal != nullptr && gShown.shownPhase >= 0) {
    fprintf(gTerminal, "\r%*s\r", gShownWidth, "");
    fflush(gTerminal);
  }
  gTerminal = nullptr;
}
