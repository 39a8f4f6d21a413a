#include "cli/progressline.h"

static const int kLineWidth = 28;  // "pelmar-sort: merging  100%" and room

static FILE *gTerminal = nullptr;  // where the line goes; null when not started
static ProgressThrottle gShown;    // what the line shows now

void StartProgress(FILE *terminal) {
  gTerminal = terminal;
  StartProgressThrottle(&gShown);
}

void ShowProgress(int phase, uint64_t done, uint64_t total) {
  const PhaseNames *names = FindPhaseNames(phase);
  if (gTerminal == nullptr || names == nullptr) return;
  if (ThrottleProgress(&gShown, phase, done, total) != kProgressChanged) return;
  fprintf(gTerminal, "\rpelmar-sort: %-8s %3d%%", names->line, gShown.shownPercent);
  fflush(gTerminal);
}

void EndProgress() {
  if (gTerminal != nullptr && gShown.shownPhase >= 0) {
    fprintf(gTerminal, "\r%*s\r", kLineWidth, "");
    fflush(gTerminal);
  }
  gTerminal = nullptr;
}
