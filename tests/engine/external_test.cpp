// The external path and wide offsets against the run in memory: the same bytes, messages and
// report (but for the memory figure, which each path defines for itself), on generated
// inputs with ties, at several part sizes and merge widths and on several thread counts;
// its faults and interrupts leave nothing behind; and an input past 4 GiB.
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
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/scanner.h"
#include "os/platform.h"
#include "tests/support/model.h"
#include "tests/support/testfiles.h"

namespace {

uint32_t ZeroClock() { return 0; }
void FixedLocalTime(LocalTime *time) { *time = LocalTime{2026, 12, 7, 4, 0}; }

// How a run is to go: the external path's part size and merge width (0, 0: the budget
// decides), the budget, threads, and offsets wide from the first byte.
struct Path {
  uint32_t partRecords;
  uint32_t fanIn;
  uint64_t budget;
  int threads;
  bool wide;
};

struct Outcome {
  int result;
  bool external;
  std::string errorText;
  std::string output;
  std::string report;  // without the memory figure
};

std::string WithoutMemoryFigure(std::string report) {
  const size_t at = report.find(" Allocated Memory Usage:");
  if (at != std::string::npos) report.erase(at, report.find('\n', at) - at);
  return report;
}

// Runs job with a report along path, its run files in folder's tmp (or temporary).
Outcome RunAlong(ParameterRecord job, const Path &path, const TempFolder &folder, const char *temporary = "tmp") {
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  CopyText(TemporaryFolder, sizeof TemporaryFolder, folder.File(temporary).c_str());
  RemoveFile(folder.File("SortStat.txt"));
  SetClockForTesting(ZeroClock, FixedLocalTime);
  SetExternalLimitsForTesting(path.partRecords, path.fanIn);
  SetWideOffsetsForTesting(path.wide ? 1 : 0);
  SortMemoryBudget = path.budget;
  SortThreads = path.threads;
  ClearErrorText();
  Outcome outcome;
  outcome.result = SortRun(&job);
  outcome.external = SortRanExternally == 1;
  SortThreads = 0;
  SortMemoryBudget = 0;
  SetWideOffsetsForTesting(0);
  SetExternalLimitsForTesting(0, 0);
  SetClockForTesting(nullptr, nullptr);
  TemporaryFolder[0] = '\0';
  outcome.errorText = ErrorText;
  outcome.output = ReadFile(job.outputName);
  outcome.report = WithoutMemoryFigure(ReadFile(folder.File("SortStat.txt")));
  return outcome;
}

// Files left in a folder (POSIX: run files have no name once created, so none may show).
int FilesIn(const std::string &path) {
#ifndef _WIN32
  return static_cast<int>(std::distance(std::filesystem::directory_iterator(path), {}));
#else
  (void)path;
  return 0;
#endif
}

// Fixed-length records with ties: a 2-byte key from a small alphabet, the rest random.
std::string FixedInput(std::mt19937_64 &random, size_t n, size_t length, int alphabet) {
  std::string bytes(n * length, '\0');
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<char>(i % length < 2 ? 'a' + random() % alphabet : random());
  return bytes;
}

}  // namespace

// Fixed-length and text inputs, each sorted in memory and then along external paths: parts
// of one and of a few groups with merges of 2 and 3 run files (so several merge passes),
// the budget's own sizes, wide offsets; on 1, 2 and 3 threads. Text with long runs of
// stray line breaks fills a part's buffer with fewer than a group of lines. The scan's
// refusals and the key checks against the longest line (a CR alone in CR LF mode, a line
// too long, a key past every line, each after thousands of good lines) come out the same
// when the input is scanned in blocks.
TEST(ExternalSort, GivesTheInMemoryBytesAndReportOnEveryPath) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("tmp"));
  std::mt19937_64 random(2026);
  struct Case {
    int mode;
    ParameterRecord job;
    std::string input;
  };
  std::vector<Case> cases;
  const std::string in = folder.File("in.dat"), out = folder.File("out.dat");
  const ParameterRecord text = MakeJob(in, out, kVariableRecords, {KeyField{1, 2, 'c', 'a'}, KeyField{4, 1, 'a', 'd'}});
  for (size_t n : {size_t{2}, size_t{998}, size_t{13 * 997 + 5}}) {
    for (int alphabet : {2, 26}) {
      cases.push_back({kDelimiterBoth, MakeJob(in, out, 14, {KeyField{1, 2, 'a', 'a'}, KeyField{3, 2, 'i', 'd'}}),
                       FixedInput(random, n, 14, alphabet)});
    }
    for (int mode : {kDelimiterBoth, kDelimiterCr, kDelimiterLf}) {
      for (int shape : {kFewDistinct, kRandomBytes}) cases.push_back({mode, text, MakeLines(shape, n, 12, mode, random)});
      if (n > 2) cases.push_back({mode, text, MakeLines(kFewDistinct, n, 12, mode, random, 100)});
    }
  }
  const std::string good = MakeLines(kRandomBytes, 5000, 12, kDelimiterBoth, random) + "\r\n";
  for (const std::string &bad : {std::string("ab\rcd\r\n"), std::string(300, 'x') + "\r\n", std::string()}) {
    cases.push_back({kDelimiterBoth, MakeJob(in, out, kVariableRecords, {KeyField{1, 2, 'c', 'a'}, KeyField{14, 2, 'a', 'a'}}),
                     good + bad});
  }
  const Path paths[] = {{997, 2, 0, 1, false}, {997, 2, 0, 3, false}, {2 * 997, 3, 0, 2, false},
                        {5 * 997, 0, 0, 2, true}, {3 * 997, 2, 0, 1, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE("length=" + std::to_string(c.job.recordLength) + " mode=" + std::to_string(c.mode) +
                 " bytes=" + std::to_string(c.input.size()));
    DelimiterMode = c.mode;
    WriteFile(in, c.input);
    const Outcome expected = RunAlong(c.job, {0, 0, 0, 1, false}, folder);
    EXPECT_FALSE(expected.external);
    EXPECT_EQ(expected.result, c.job.keys[1].position == 14) << expected.errorText;
    for (const Path &path : paths) {
      SCOPED_TRACE("part=" + std::to_string(path.partRecords) + " fan-in=" + std::to_string(path.fanIn) +
                   " threads=" + std::to_string(path.threads) + " wide=" + std::to_string(path.wide));
      const Outcome outcome = RunAlong(c.job, path, folder);
      EXPECT_TRUE(outcome.external || expected.result == 1);
      EXPECT_EQ(outcome.result, expected.result);
      EXPECT_EQ(outcome.errorText, expected.errorText);
      EXPECT_TRUE(outcome.output == expected.output) << "output differs";
      EXPECT_EQ(outcome.report, expected.report);
      EXPECT_EQ(FilesIn(folder.File("tmp")), 0);
    }
    if (HasFailure()) break;
  }
  DelimiterMode = kDelimiterBoth;
}

// The budget alone sends an input that does not fit the least budget the external way,
// with the same bytes.
TEST(ExternalSort, AnInputPastTheBudgetSortsExternallyWithTheSameBytes) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("tmp"));
  std::mt19937_64 random(7);
  WriteFile(folder.File("in.dat"), FixedInput(random, 300000, 80, 26));
  const ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 80, {KeyField{1, 6, 'a', 'a'}});
  const Outcome expected = RunAlong(job, {0, 0, 0, 2, false}, folder);
  const Outcome outcome = RunAlong(job, {0, 0, kMinimumMemoryBudget, 2, false}, folder);
  ASSERT_EQ(expected.result, 0);
  EXPECT_FALSE(expected.external);
  EXPECT_TRUE(outcome.external);
  EXPECT_EQ(outcome.result, 0) << outcome.errorText;
  EXPECT_TRUE(outcome.output == expected.output);
  EXPECT_EQ(outcome.report, expected.report);
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
    Path path;
    std::string message;
  };
  const Row rows[] = {
      {"tmp/none", RLIM_INFINITY, {997, 2, 0, 2, false}, "\n Could NOT Create Temporary File in: " + folder.File("tmp/none") + "!\n"},
      {"tmp", 16 << 10, {997, 2, 0, 2, false}, "\n Could NOT Write Temporary File: "},  // run files of 997 records pass 16 KiB
      {"tmp", 16 << 10, {0, 0, 0, 2, false}, "\n Error Writing Output File: " + folder.File("out.dat") + "!\n"},
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
    const Outcome outcome = RunAlong(job, row.path, folder, row.temporary);
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.errorText.find(row.message), 0u) << outcome.errorText;
    EXPECT_EQ(ReadFile(job.outputName), "");
    EXPECT_EQ(FilesIn(folder.File("tmp")), 0);
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
      EXPECT_EQ(FilesIn(folder.File("tmp")), 0);
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
