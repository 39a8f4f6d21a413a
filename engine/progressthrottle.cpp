#include "engine/progressthrottle.h"

#include "engine/runprogress.h"
#include "os/platform.h"

static const PhaseNames kPhaseNames[] = {
    {kPhaseKeying, "reading keys", "keying"},
    {kPhaseSorting, "sorting groups", "sorting"},
    {kPhaseMerging, "merging groups", "merging"},
    {kPhaseWriting, "writing output", "writing"},
    {kPhaseWritingRuns, "writing runs", "writing runs"},
    {kPhaseMergingRuns, "merging runs", "merging runs"},
};

const PhaseNames *FindPhaseNames(int phase) {
  for (const PhaseNames &names : kPhaseNames) {
    if (names.phase == phase) return &names;
  }
  return nullptr;
}

int ProgressPercent(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  return done >= total ? 100 : static_cast<int>(done * 100 / total);
}

void StartProgressThrottle(ProgressThrottle *throttle) {
  throttle->start = ElapsedMilliseconds();
  throttle->shownPhase = -1;
  throttle->shownPercent = -1;
}

int ThrottleProgress(ProgressThrottle *throttle, int phase, uint64_t done, uint64_t total) {
  if (ElapsedMilliseconds() - throttle->start < kProgressDelay) return kProgressHidden;
  const int percent = ProgressPercent(done, total);
  if (phase == throttle->shownPhase && percent == throttle->shownPercent) return kProgressSame;
  throttle->shownPhase = phase;
  throttle->shownPercent = percent;
  return kProgressChanged;
}
