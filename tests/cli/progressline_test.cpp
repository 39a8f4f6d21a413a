// pelmar-sort's progress line on a terminal.
#include "cli/progressline.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/sortrun.h"
#include "os/platform.h"

// The line appears only once the run has taken a moment, and is cleared at its end.
TEST(ProgressLine, ShowsPhaseAndPercentAfterAMomentAndClearsWhatItShowed) {
  static uint32_t now = 0;
  SetClockForTesting([] { return now; }, nullptr);
  FILE *terminal = tmpfile();
  StartProgress(terminal);
  ShowProgress(kPhaseKeying, 1, 100);  // too early: nothing
  now += kProgressDelay;
  ShowProgress(kPhaseWriting, 5, 5);
  ShowProgress(kPhaseKeying, 42, 100);
  EndProgress();
  char text[100];
  rewind(terminal);
  EXPECT_EQ(std::string(text, fread(text, 1, sizeof text, terminal)),
            "\rpelmar-sort: writing  100%\rpelmar-sort: keying    42%\r" + std::string(28, ' ') + "\r");
  fclose(terminal);
  SetClockForTesting(nullptr, nullptr);
}
