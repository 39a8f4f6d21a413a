// The external path where the model cannot follow it (the generated jobs of sortrun_test.cpp
// take it too, and its fault loop fails each file operation and allocation in turn): the
// budget's own choice of it, interrupts, and an input past 4 GiB.
#include "engine/sortrun.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/runpath.h"
#include "os/platform.h"
#include "tests/support/model.h"
#include "tests/support/testfiles.h"

namespace {

// Fixed-length records with ties: a 2-byte key from a small alphabet, the rest random.
std::string FixedInput(std::mt19937_64 &random, size_t n, size_t length, int alphabet) {
  std::string bytes(n * length, '\0');
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<char>(i % length < 2 ? 'a' + random() % alphabet : random());
  return bytes;
}

}  // namespace

// The budget alone sends an input that does not fit the least budget the external way
// (on two threads, on a clock that stands still), with the same bytes and the same report
// but for the memory figure.
TEST(ExternalSort, AnInputPastTheBudgetSortsExternallyWithTheSameBytes) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("tmp"));
  std::mt19937_64 random(7);
  WriteFile(folder.File("in.dat"), FixedInput(random, 300000, 80, 26));
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 80, {KeyField{1, 6, 'a', 'a', 0}});
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  RunOptions options = MakeOptions(2, nullptr, folder.File("tmp"));
  SetClockForTesting([]() -> uint32_t { return 0; }, [](LocalTime *time) { *time = LocalTime{2026, 12, 7, 4, 0}; });
  std::string outputs[2], reports[2];
  for (int external = 0; external < 2; external++) {
    options.memoryBudget = external ? kMinimumMemoryBudget : 0;
    RunOutcome outcome;
    ASSERT_EQ(RunJob(job, &options, &outcome), 0) << ErrorText;
    EXPECT_EQ(outcome.ranExternally, external);
    outputs[external] = ReadFile(job.outputName);
    reports[external] = WithoutMemoryFigure(ReadFile(folder.File("SortStat.txt")));
  }
  SetClockForTesting(nullptr, nullptr);
  EXPECT_TRUE(outputs[0] == outputs[1]);
  EXPECT_EQ(reports[0], reports[1]);
}

#ifndef _WIN32
// An interrupt while run files are written, and while they are merged into the output, of a
// named input and of standard input: the process ends by the signal, the output is as it
// was, and no run file or new output file is left.
TEST(ExternalSortFaults, InterruptsLeaveTheOutputAsItWasAndNoFileOfTheirs) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("tmp"));
  std::mt19937_64 random(5);
  // 70 runs of 997 records of 100 bytes: the output has had 4 MiB written when the merge
  // reports its first progress.
  WriteFile(folder.File("in.dat"), FixedInput(random, 70 * 997, 100, 26));
  const ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 100, {KeyField{1, 4, 'a', 'a', 0}});
  static int interruptPhase;
  for (int round = 0; round < 8; round++) {
    const int phase = round % 2 ? kPhaseMergingRuns : kPhaseWritingRuns, signalNumber = round % 4 < 2 ? SIGINT : SIGTERM;
    const bool standardInput = round >= 4;
    {
      SCOPED_TRACE("phase " + std::to_string(phase) + " signal " + std::to_string(signalNumber) + (standardInput ? " stdin" : ""));
      WriteFile(job.outputName, "stale");
      interruptPhase = phase;
      static int interruptSignal;
      interruptSignal = signalNumber;
      const pid_t child = fork();
      if (child == 0) {
        RunOptions options = MakeOptions(0, [](int at, uint64_t done, uint64_t) {
          if (at == kPhaseWritingRuns && done == 0) close(0);  // the first run file gets descriptor 0
          if (at == interruptPhase && done > 0) raise(interruptSignal);
        }, folder.File("tmp"));
        static const char *const kStandardInput[] = {"-"};
        if (standardInput) {
          options.streams.inputs = kStandardInput;
          options.streams.inputCount = 1;
          if (dup2(open(job.inputName, O_RDONLY), 0) != 0) _exit(1);
          SetStandardInputInSequenceForTesting(true);  // read as a pipe is, into a temporary file
        }
        SetExternalLimitsForTesting(997, 0);
        RunJob(job, &options);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << status;
      EXPECT_EQ(ReadFile(job.outputName), "stale");
      EXPECT_TRUE(std::filesystem::is_empty(folder.File("tmp")));
      EXPECT_EQ(FolderNames(folder.path), (std::vector<std::string>{"in.dat", "out.dat", "tmp"}));
    }
  }
}

// A real input past 4 GiB (sparse: it takes almost no room), fixed-length records of 4300
// bytes, a few of them with keys, the last ones past 4 GiB; sorted by that key descending,
// they come first, in key order, and every record is there. The output takes 4.3 GB of
// /tmp for a few seconds.
TEST(SortRunLarge, AnInputPastFourGigabytesSortsExactly) {
  TempFolder folder;
  const std::string input = folder.File("huge.dat");
  const uint64_t records = 1000500;  // 4,302,150,000 bytes
  WriteFile(input, "");
  ASSERT_TRUE(ResizeFile(input, records * 4300));
  const uint64_t marked[] = {0, 17, 998999, 999999, 1000499};  // the last three past 4 GiB
  FILE *file = fopen(input.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  for (size_t m = 0; m < 5; m++) {
    ASSERT_EQ(fseeko(file, static_cast<off_t>(marked[m] * 4300), SEEK_SET), 0);
    const unsigned char key[2] = {static_cast<unsigned char>(m + 1), static_cast<unsigned char>(marked[m])};
    fwrite(key, 1, 2, file);
  }
  fclose(file);
  const ParameterRecord job = MakeJob(input, folder.File("out.dat"), 4300, {KeyField{1, 2, 'a', 'd', 0}});
  ClearErrorText();
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  ASSERT_EQ(SortRun(&job), 0) << ErrorText;
  RemoveFile(input);
  FILE *output = fopen(folder.File("out.dat").c_str(), "rb");
  ASSERT_NE(output, nullptr);
  std::vector<unsigned char> record(4300);
  uint64_t count = 0;
  uint64_t nonZero = 0;
  while (fread(record.data(), 1, record.size(), output) == record.size()) {
    if (count < 5) {
      EXPECT_EQ(record[0], 5 - count);
      EXPECT_EQ(record[1], static_cast<unsigned char>(marked[4 - count]));
    }
    for (unsigned char byte : record) nonZero += byte != 0;
    count++;
  }
  fclose(output);
  EXPECT_EQ(count, records);
  uint64_t expectedNonZero = 0;
  for (size_t m = 0; m < 5; m++) expectedNonZero += 1 + (static_cast<unsigned char>(marked[m]) != 0);
  EXPECT_EQ(nonZero, expectedNonZero);
}
#endif
