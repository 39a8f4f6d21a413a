// Fuzz target: the whole sort run on arbitrary bytes and arbitrary jobs, against the
// shared model (tests/support/model.h). The data's first bytes choose the job as
// DecodeJob reads them; the rest (up to 4 KB) is the input file. The run must leave what
// the model expects: its result, its whole error text, the output (made only by a run that
// succeeds), the input untouched, and the report written after a run that asked for one.
#include <cstdint>
#include <string>

#include "engine/errortext.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/support/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  ParameterRecord job;
  RunOptions options;
  memset(&options, 0, sizeof options);
  const size_t taken = DecodeJob(data, size, "in.dat", "out.dat", &job, &DelimiterMode, &options.keySettings);
  const std::string input(reinterpret_cast<const char *>(data) + taken, std::min<size_t>(size - taken, 4096));
  WriteFile("in.dat", input);
  const ExpectedRun expected = ExpectRun(input, job, DelimiterMode, options.keySettings);

  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, PrivateFolder().c_str());
  ClearErrorText();
  RunOutcome outcome;
  const int result = SortRun(&job, &options, &outcome);

  FUZZ_CHECK(ReadWholeFile("in.dat") == input, "the input is untouched");
  FUZZ_CHECK(result == expected.result, "the run succeeds exactly when the model says");
  FUZZ_CHECK(ErrorText == expected.errorText, "the error text is the model's");
  bool opened = false;
  FUZZ_CHECK(ReadWholeFile("out.dat", &opened) == expected.output, "the output is what the reference sort gives");
  FUZZ_CHECK(opened == (expected.result == 0), "the output is made only by a run that succeeds");
  FUZZ_CHECK(outcome.statisticsWritten == (result == 0 && job.statisticsFlag == 1), "a report after a sort that asked for one");
  return 0;
}
