// The external path where the model cannot follow it (the generated jobs of sortrun_test.cpp
// take it too): the budget's own choice of it, the system's refusals, interrupts, and an
// input past 4 GiB.
#include "engine/sortrun.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
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

// Runs job on two threads, on a clock that stands still, with a report and the run files in folder/temporary, along parts of
// partRecords records merged two at a time (0: as the budget decides). Returns the result.
int RunWith(ParameterRecord job, const TempFolder &folder, const char *temporary, uint32_t partRecords, uint64_t budget) {
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  CopyText(TemporaryFolder, sizeof TemporaryFolder, folder.File(temporary).c_str());
  SetExternalLimitsForTesting(partRecords, partRecords > 0 ? 2 : 0);
  SortMemoryBudget = budget;
  SortThreads = 2;
  SetClockForTesting([]() -> uint32_t { return 0; }, [](LocalTime *time) { *time = LocalTime{2026, 12, 7, 4, 0}; });
  ClearErrorText();
  const int result = SortRun(&job);
  SetClockForTesting(nullptr, nullptr);
  SortThreads = 0;
  SortMemoryBudget = 0;
  SetExternalLimitsForTesting(0, 0);
  TemporaryFolder[0] = '\0';
  return result;
}

}  // namespace

// The budget alone sends an input that does not fit the least budget the external way,
// with the same bytes and the same report but for the memory figure.
TEST(ExternalSort, AnInputPastTheBudgetSortsExternallyWithTheSameBytes) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("tmp"));
  std::mt19937_64 random(7);
  WriteFile(folder.File("in.dat"), FixedInput(random, 300000, 80, 26));
  const ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 80, {KeyField{1, 6, 'a', 'a'}});
  std::string outputs[2], reports[2];
  for (int external = 0; external < 2; external++) {
    ASSERT_EQ(RunWith(job, folder, "tmp", 0, external ? kMinimumMemoryBudget : 0), 0) << ErrorText;
    EXPECT_EQ(SortRanExternally, external);
    outputs[external] = ReadFile(job.outputName);
    reports[external] = ReadFile(folder.File("SortStat.txt"));
    const size_t figure = reports[external].find(" Allocated Memory Usage:");
    reports[external].erase(figure, reports[external].find('\n', figure) - figure);
  }
  EXPECT_TRUE(outputs[0] == outputs[1]);
  EXPECT_EQ(reports[0], reports[1]);
}

#ifndef _WIN32
// What the system refuses gives its one message (the run's first), fails the run, empties
// the output and leaves no run file behind: a missing temporary folder, a full disk (a file
// size limit that the run files pass, and that the output passes in memory). Every file
// operation and allocation failed in turn: sortrun_test.cpp.
TEST(ExternalSortFaults, EveryRefusalEndsCleanlyWithItsMessage) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("tmp"));
  std::mt19937_64 random(3);
  WriteFile(folder.File("in.dat"), FixedInput(random, 5000, 20, 3));
  const ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 20, {KeyField{1, 2, 'c', 'a'}});
  struct Row {
    const char *temporary;  // the run files' folder in the folder
    rlim_t fileLimit;       // the largest file the run may write
    uint32_t partRecords;   // 0: in memory
    std::string message;
  };
  const Row rows[] = {
      {"tmp/none", RLIM_INFINITY, 997, "\n Could NOT Create Temporary File in: " + folder.File("tmp/none") + "!\n"},
      {"tmp", 16 << 10, 997, "\n Could NOT Write Temporary File: "},  // run files of 997 records pass 16 KiB
      {"tmp", 16 << 10, 0, "\n Error Writing Output File: " + folder.File("out.dat") + "!\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.message);
    WriteFile(job.outputName, "stale");
    struct rlimit limit, previous;
    getrlimit(RLIMIT_FSIZE, &previous);
    limit = previous;
    limit.rlim_cur = row.fileLimit;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(RunWith(job, folder, row.temporary, row.partRecords, 0), 1);
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(std::string(ErrorText).find(row.message), 0u) << ErrorText;
    EXPECT_EQ(ReadFile(job.outputName), "");
    EXPECT_TRUE(std::filesystem::is_empty(folder.File("tmp")));
  }
}

// An interrupt while run files are written, and while they are merged into the output: the
// process ends by the signal, the output is empty and no run file is left.
TEST(ExternalSortFaults, InterruptsLeaveAnEmptyOutputAndNoRunFile) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("tmp"));
  std::mt19937_64 random(5);
  // 70 runs of 997 records of 100 bytes: the output has had 4 MiB written when the merge
  // reports its first progress.
  WriteFile(folder.File("in.dat"), FixedInput(random, 70 * 997, 100, 26));
  const ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 100, {KeyField{1, 4, 'a', 'a'}});
  static int interruptPhase;
  for (int phase : {kPhaseWritingRuns, kPhaseMergingRuns}) {
    for (int signalNumber : {SIGINT, SIGTERM}) {
      SCOPED_TRACE("phase " + std::to_string(phase) + " signal " + std::to_string(signalNumber));
      WriteFile(job.outputName, "stale");
      interruptPhase = phase;
      static int interruptSignal;
      interruptSignal = signalNumber;
      const pid_t child = fork();
      if (child == 0) {
        CopyText(TemporaryFolder, sizeof TemporaryFolder, folder.File("tmp").c_str());
        SetExternalLimitsForTesting(997, 0);
        SortProgress = [](int at, uint64_t done, uint64_t) {
          if (at == interruptPhase && done > 0) raise(interruptSignal);
        };
        ClearErrorText();
        SortRun(&job);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << status;
      EXPECT_EQ(ReadFile(job.outputName), "");
      EXPECT_TRUE(std::filesystem::is_empty(folder.File("tmp")));
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
  const ParameterRecord job = MakeJob(input, folder.File("out.dat"), 4300, {KeyField{1, 2, 'a', 'd'}});
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
