#include "cli/progressline.h"

#include "os/platform.h"
#include "engine/sortrun.h"

static const char *const kPhaseNames[] = {"keying", "sorting", "merging", "writing", "writing runs", "merging runs"};
static const int kLineWidth = 28;  // "pelmar-sort: merging  100%" and room; longer lines clear their own width

static FILE *gTerminal = nullptr;  // where the line goes; null when not started
static uint32_t gStart = 0;        // clock reading at StartProgress
static int gShownPhase = -1;       // what the line shows now; -1: nothing shown
static int gShownPercent = -1;
static int gShownWidth = 0;        // the longest line shown

void StartProgress(FILE *terminal) {
  gTerminal = terminal;
  gStart = ElapsedMilliseconds();
  gShownPhase = -1;
  gShownPercent = -1;
  gShownWidth = kLineWidth;
}

void ShowProgress(int phase, uint64_t done, uint64_t total) {
  if (gTerminal == nullptr || phase < kPhaseKeying || phase > kPhaseMergingRuns) return;
  if (ElapsedMilliseconds() - gStart < kProgressDelay) return;
  const int percent = total == 0 ? 0 : static_cast<int>(done >= total ? 100 : done * 100 / total);
  if (phase == gShownPhase && percent == gShownPercent) return;
  const int width = fprintf(gTerminal, "\rpelmar-sort: %-8s %3d%%", kPhaseNames[phase], percent) - 1;
  if (width > gShownWidth) gShownWidth = width;
  fflush(gTerminal);
  gShownPhase = phase;
  gShownPercent = percent;
}

void EndProgress() {
  if (gTerminal != nullptr && gShownPhase >= 0) {
    fprintf(gTerminal, "\r%*s\r", gShownWidth, "");
    fflush(gTerminal);
  }
  gTerminal = nullptr;
}
