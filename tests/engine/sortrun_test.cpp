#include "engine/sortrun.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/merge.h"
#include "engine/scanner.h"
#include "engine/statreport.h"
#include "os/platform.h"
#include "tests/support/model.h"
#include "tests/support/testfiles.h"

namespace {

const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";

int RunJob(const ParameterRecord &job) {
  ClearErrorText();
  return SortRun(&job);
}

std::string Letters(std::mt19937_64 &random, size_t length) {
  std::string text;
  while (text.size() < length) text += static_cast<char>('a' + random() % 26);
  return text;
}

std::string Records(int shape, uint32_t n, uint32_t length, std::mt19937_64 &random) {
  const ReferenceKeys records = MakeKeys(shape, n, length, random);
  return std::string(records.bytes.begin(), records.bytes.end());
}

// Text lines in delimiter mode from n records of a shape: letters, 1 to 70 of them (70 for
// the shapes with ties), now and then a stray CR or LF (kept in the span, never in a key)
// or an empty line, the last line unended; in one text of four a bad CR or an overlong
// line at a random line start.
std::string Lines(int shape, uint32_t n, int mode, std::mt19937_64 &random) {
  const ReferenceKeys records = MakeKeys(shape, n, 70, random);
  const std::string end = mode == kDelimiterBoth ? "\r\n" : mode == kDelimiterCr ? "\r" : "\n";
  const bool ties = shape == kAllEqual || shape == kFewDistinct || shape == kDescendingTies;
  std::string text;
  for (size_t at = 0; at < records.bytes.size(); at += 70) {
    std::string line;
    for (size_t j = 0, length = ties ? 70 : 1 + random() % 70; j < length; j++) line += 'a' + records.bytes[at + j] % 26;
    if (random() % 8 == 0) line.insert(random() % line.size(), mode == kDelimiterLf ? "\r" : "\n");
    text += line + end;
    if (random() % 16 == 0) text += end;
  }
  text += "unended";
  if (random() % 4 == 0) {
    const size_t at = text.find(end, random() % text.size());
    const std::string bad = mode == kDelimiterBoth && random() % 2 ? "ab\rcd" : std::string(261, 'x');
    text.insert(at == std::string::npos ? text.size() : at + end.size(), bad + end);
  }
  return text;
}

uint32_t ZeroClock() { return 0; }
void FixedLocalTime(LocalTime *time) { *time = LocalTime{2026, 12, 6, 23, 0}; }

// The lines of the report that the reference sort decides: each group's counters and the
// compares.
std::string ReportedSort(const ReferenceSortResult &sort) {
  std::string text;
  char line[128], sorts[kCountFieldSize], merges[kCountFieldSize];
  for (const GroupCounters &c : sort.counters) {
    snprintf(line, sizeof line, " Lo Branch =%5u  Hi Branch =%5u   Returns =%5u  Stack Depth =%5u\r\n", c.loBranches,
             c.hiBranches, c.returns, c.invocations - c.returns);
    text += line;
  }
  FormatCount(sort.sortCompares, sorts);
  FormatCount(sort.mergeCompares, merges);
  return text + "\r\n  Number of Sort Compares:" + sorts + "\r\n Number of Merge Compares:" + merges;
}

}  // namespace

// Jobs decoded from random bytes (every record length and key type, valid and refused),
// over inputs of every shape at the group boundaries, at a size of a few groups, and at
// and past the most groups one merge round takes, on 1, 2, 3 and 8 threads. Each run leaves what the model
// says (result, whole error text, output), the report's group lines and compares are the
// reference sort's, and every thread count writes the one-thread report.
TEST(SortRun, GeneratedJobsLeaveWhatTheModelSaysOnEveryThreadCount) {
  TempFolder folder;
  std::mt19937_64 random(11);
  const std::string input = folder.File("in.dat"), output = folder.File("out.dat"), report = folder.File("SortStat.txt");
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  SetClockForTesting(ZeroClock, FixedLocalTime);
  const uint32_t oneRound = kMergeBatch * kSortGroupSize;  // the most groups one merge round takes
  int sorted = 0;
  for (uint32_t n : {2u, 997u, 998u, 2500u, oneRound, oneRound + 1, oneRound + 1500}) {
    for (int round = 0; round < (n < oneRound ? 12 : 3); round++) {
      uint8_t choice[2 + 4 * kMaxKeys];
      for (uint8_t &b : choice) b = static_cast<uint8_t>(random());
      if (n > 2) choice[1] &= ~0x20;                   // raw key fields, refused, only at n = 2
      if (n >= oneRound) choice[0] = choice[0] % 12;  // records of at most 16 bytes
      ParameterRecord job;
      int mode;
      DecodeJob(choice, sizeof choice, input, output, &job, &mode);
      job.statisticsFlag = 1;
      const int shape = static_cast<int>(random() % kShapeCount);
      std::string bytes = "abcd";
      if (job.recordLength == kVariableRecords) bytes = Lines(shape, n, mode, random);
      else if (job.recordLength > 0 && job.recordLength <= 1024) bytes = Records(shape, n, job.recordLength, random);
      if (round % 6 == 5 && job.recordLength > 1) bytes += "z";  // a part record at the end
      SCOPED_TRACE(testing::Message() << "n=" << n << " round=" << round << " length=" << job.recordLength
                                      << " keys=" << job.keyCount << " shape=" << ShapeName(shape) << " mode=" << mode);
      WriteFile(input, bytes);
      const ExpectedRun expected = ExpectRun(bytes, job, mode);
      sorted += expected.result == 0;
      DelimiterMode = mode;
      std::string oneThread;
      for (int threads : {1, 2, 3, 8}) {
        WriteFile(output, "stale");
        RemoveFile(report);
        SortThreads = threads;
        EXPECT_EQ(RunJob(job), expected.result) << threads << " threads";
        EXPECT_EQ(std::string(ErrorText), expected.errorText) << threads << " threads";
        EXPECT_TRUE(ReadFile(output) == (expected.outputOpened ? expected.output : "stale")) << threads << " threads";
        if (threads == 1) oneThread = ReadFile(report);
        EXPECT_EQ(ReadFile(report), oneThread) << threads << " threads";
      }
      if (expected.result == 0) {
        EXPECT_NE(oneThread.find(ReportedSort(expected.sort)), std::string::npos) << oneThread;
      }
      if (HasFailure()) break;
    }
  }
  SortThreads = 0;
  DelimiterMode = kDelimiterBoth;
  SetClockForTesting(nullptr, nullptr);
  EXPECT_GE(sorted, 25);
}

// What the model cannot know: names that lead nowhere, to the input or to something other
// than a file, and reports that cannot be written. Every row starts from in.dat and
// SortStat.txt holding "ddccbbaa" and no out.dat; both stay as they were unless named as
// the output.
TEST(SortRun, FilesThatCannotServeAreRefusedByName) {
  struct Row {
    const char *input;       // in the folder; "" the folder itself; absolute from '/'; appended from '\\'
    const char *output;      // the same
    int32_t recordLength;
    const char *statistics;  // null: no report; else its folder within the folder
    int result;
    const char *message;     // $I and $O stand for the input's and output's paths
    const char *outputAfter; // null: it does not exist; "*": not checked
  };
  const Row rows[] = {
      {"missing.dat", "out.dat", 2, nullptr, 1, "\n Could NOT Open Input File: $I!\n", nullptr},
      {"", "out.dat", 2, nullptr, 1, "\n Could NOT Open Input File: $I!\n", nullptr},
      {"in.dat", "no/such/out.dat", 2, nullptr, 1, "\n Could NOT Open Output File: $O!\n", nullptr},
      {"in.dat", "in.dat", 2, nullptr, 1, "\n Output File Is the Input File: $O!\n", "*"},
      {"in.dat", "./in.dat", 2, nullptr, 1, "\n Output File Is the Input File: $O!\n", "*"},
      {"in.dat", "link.dat", 2, nullptr, 1, "\n Output File Is the Input File: $O!\n", "*"},
      {"in.dat", "hard.dat", 2, nullptr, 1, "\n Output File Is the Input File: $O!\n", "*"},
      {"in.dat", "out.dat", 2, "no-such-folder", 0, "\n Could NOT Open Statistics File: \\SortStat.txt!\n", "aabbccdd"},
      {"SortStat.txt", "out.dat", 2, ".", 0, "\n Could NOT Open Statistics File: \\SortStat.txt!\n", "aabbccdd"},
      {"in.dat", "SortStat.txt", 2, ".", 0, "\n Could NOT Open Statistics File: \\SortStat.txt!\n", "aabbccdd"},
#ifdef _WIN32
      // Names that differ in letter case or by a .\\ prefix, and both separators.
      {"in.dat", "IN.DAT", 2, nullptr, 1, "\n Output File Is the Input File: $O!\n", "*"},
      {"in.dat", "\\.\\In.Dat", 2, nullptr, 1, "\n Output File Is the Input File: $O!\n", "*"},
      {"in.dat", "\\in.dat", 2, nullptr, 1, "\n Output File Is the Input File: $O!\n", "*"},
#else
      // A FIFO would block the open or the read forever; devices are no record files either;
      // a file whose length reads 0 but that has content cannot be counted or mapped.
      {"pipe.dat", "out.dat", 2, nullptr, 1, "\n Could NOT Open Input File: $I!\n", nullptr},
      {"in.dat", "pipe.dat", 2, nullptr, 1, "\n Could NOT Open Output File: $O!\n", "*"},
      {"in.dat", "/dev/null", 2, nullptr, 1, "\n Could NOT Open Output File: $O!\n", "*"},
      {"in.dat", "out.dat", 2, "fifo", 0, "\n Could NOT Open Statistics File: /SortStat.txt!\n", "aabbccdd"},
      {"/proc/self/status", "out.dat", kVariableRecords, nullptr, 1, "\n Error Reading Input File: $I!\n", nullptr},
      {"/proc/self/status", "out.dat", 2, nullptr, 1, "\n Error Reading Input File: $I!\n", nullptr},
#endif
  };
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "ddccbbaa");
  ASSERT_TRUE(MakeLink(folder.File("in.dat"), folder.File("link.dat")));
  ASSERT_TRUE(MakeHardLink(folder.File("in.dat"), folder.File("hard.dat")));
#ifndef _WIN32
  ASSERT_EQ(mkfifo(folder.File("pipe.dat").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.File("fifo").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(folder.File("fifo/SortStat.txt").c_str(), 0600), 0);
#endif
  auto path = [&](const std::string &name) {
    return name.empty() ? folder.path : name[0] == '/' ? name : name[0] == '\\' ? folder.path + name : folder.File(name);
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.input) + " -> " + row.output);
    WriteFile(folder.File("SortStat.txt"), "ddccbbaa");
    RemoveFile(folder.File("out.dat"));
    ParameterRecord job = MakeJob(path(row.input), path(row.output), row.recordLength, {KeyField{1, 2, 'a', 'a'}});
    job.statisticsFlag = row.statistics != nullptr;
    if (row.statistics != nullptr) CopyText(StatisticsDirectory, kNameSize, folder.File(row.statistics).c_str());
    EXPECT_EQ(RunJob(job), row.result);
    std::string message = row.message;
    for (size_t at; (at = message.find("$I")) != std::string::npos;) message.replace(at, 2, job.inputName);
    for (size_t at; (at = message.find("$O")) != std::string::npos;) message.replace(at, 2, job.outputName);
    if (kPathSeparator != '\\' && message.find("\\SortStat") != std::string::npos) message.replace(message.find("\\SortStat"), 1, "/");
    EXPECT_EQ(std::string(ErrorText), message + (row.result ? kTerminated : ""));
    if (row.outputAfter == nullptr) {
      EXPECT_FALSE(FileExists(job.outputName));
    } else if (std::string(row.outputAfter) != "*") {
      EXPECT_EQ(ReadFile(job.outputName), row.outputAfter);
    }
    EXPECT_EQ(ReadFile(folder.File("in.dat")), "ddccbbaa");
    if (std::string(row.output) != "SortStat.txt") {
      EXPECT_EQ(ReadFile(folder.File("SortStat.txt")), "ddccbbaa");
    }
  }
}

TEST(SortRun, AllocatedMemoryUsageCountsBuffersArraysAndKeys) {
  TempFolder folder;
  std::mt19937_64 random(3);
  WriteFile(folder.File("in.dat"), Letters(random, 1000 * 80));
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 80, {KeyField{1, 10, 'c', 'a'}});
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  ASSERT_EQ(RunJob(job), 0) << ErrorText;
  EXPECT_NE(ReadFile(folder.File("SortStat.txt")).find("\r\n Allocated Memory Usage:     24,056 Bytes\r\n"),
            std::string::npos);

  std::string lines;
  for (int i = 0; i < 1000; i++) lines += Letters(random, 12) + "\r\n";
  WriteFile(folder.File("in.txt"), lines);
  job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{1, 10, 'c', 'a'}});
  job.statisticsFlag = 1;
  ASSERT_EQ(RunJob(job), 0) << ErrorText;
  std::string report = ReadFile(folder.File("SortStat.txt"));
  EXPECT_NE(report.find("\r\n Allocated Memory Usage:     30,056 Bytes\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\n Record Size:  Variable Length\r\n"), std::string::npos);
}

// A real write failure: the system refuses to let the output grow past 1 MB.
#ifndef _WIN32
TEST(SortRun, WriteRefusedBySystemFailsTheRunAndEmptiesTheOutput) {
  TempFolder folder;
  std::mt19937_64 random(5);
  WriteFile(folder.File("in.dat"), Letters(random, 100000 * 100));
  const std::string written = "\n Error Writing Output File: " + folder.File("out.dat") + "!\n" + kTerminated;
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 100, {KeyField{1, 10, 'a', 'a'}});
  struct rlimit limit, previous;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  limit = previous;
  limit.rlim_cur = 1 << 20;
  signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const int result = RunJob(job);
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(std::string(ErrorText), written);
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "");
}
#endif

namespace {

std::string gChangingFile;
int gChangeAtPhase = -1;
uint64_t gChangeAtDone = 0;
std::string gReplacement;
bool gCutRefused = false;

// Changes the input while the run is in the chosen phase.
void ChangeInput(int phase, uint64_t done, uint64_t) {
  if (phase != gChangeAtPhase || done != gChangeAtDone) return;
  FILE *file = fopen(gChangingFile.c_str(), "r+b");
  if (gReplacement.empty()) {
    gCutRefused = !ResizeFile(gChangingFile, 100);
  } else {
    fwrite(gReplacement.data(), 1, gReplacement.size(), file);
  }
  fclose(file);
  gChangeAtPhase = -1;
}

}  // namespace

TEST(SortRun, InputChangedDuringTheRunFailsWithoutOverrun) {
  for (int threads : {1, 3}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    SortThreads = threads;
    TempFolder folder;
    std::mt19937_64 random(8);
    gChangingFile = folder.File("in.dat");
    const std::string changed = "\n Input File Changed During Sort: " + gChangingFile + "!\n" + kTerminated;
    SortProgress = ChangeInput;

    // Cut short before the output is copied, and while it is being copied.
    for (uint64_t done : {uint64_t{0}, uint64_t{kProgressInterval}}) {
      WriteFile(gChangingFile, Letters(random, 200000 * 50));
      gReplacement.clear();
      gChangeAtPhase = kPhaseWriting;
      gChangeAtDone = done;
      ParameterRecord job = MakeJob(gChangingFile, folder.File("out.dat"), 50, {KeyField{1, 8, 'a', 'a'}});
#ifdef _WIN32
      // Windows refuses to shorten a file while a view of it is mapped: the run goes on.
      EXPECT_EQ(RunJob(job), 0) << ErrorText;
      EXPECT_TRUE(gCutRefused);
      EXPECT_EQ(ReadFile(folder.File("out.dat")).size(), 200000u * 50u);
#else
      EXPECT_EQ(RunJob(job), 1) << done;
      EXPECT_EQ(std::string(ErrorText), changed);
      EXPECT_EQ(ReadFile(folder.File("out.dat")), "");
#endif
    }

    // Text lines rewritten in place between the two scans: more lines than were counted.
    std::string lines;
    for (int i = 0; i < 1000; i++) lines += "line number " + std::to_string(i) + "\n";
    WriteFile(gChangingFile, lines);
    gReplacement = std::string(lines.size() / 2, '\n').replace(0, 1, "x");
    for (size_t i = 0; i < gReplacement.size(); i += 2) gReplacement[i] = 'y';
    gChangeAtPhase = kPhaseKeying;
    gChangeAtDone = 0;
    DelimiterMode = kDelimiterLf;
    ParameterRecord job = MakeJob(gChangingFile, folder.File("out.txt"), kVariableRecords, {KeyField{1, 4, 'a', 'a'}});
    EXPECT_EQ(RunJob(job), 1);
    DelimiterMode = kDelimiterBoth;
    EXPECT_EQ(std::string(ErrorText), "\n Longest Variable Record Length  = 15\n" + changed);
    EXPECT_EQ(ReadFile(folder.File("out.txt")), "");
    SortProgress = nullptr;
  }
  SortThreads = 0;
}

TEST(ErrorText, AppendsAreCutAtTheCapacity) {
  ClearErrorText();
  std::string long1(700, 'a');
  AppendErrorText(long1.c_str());
  AppendErrorFormat("%s", std::string(700, 'b').c_str());
  EXPECT_EQ(ErrorTextLength(), kErrorTextSize - 1);
  EXPECT_EQ(ErrorText[kErrorTextSize - 1], '\0');
  AppendErrorText("more");
  EXPECT_EQ(std::string(ErrorText), long1 + std::string(323, 'b'));
}

// Runs job once with nothing failing, then again failing each file operation, and then
// each allocation, in turn. Every run must end as the clean one did, or fail cleanly:
// the run's closing message, an empty output, the input untouched. A report that could
// not be opened is the only failure a run may take in its stride. check, when given, sees
// each failed-into run's result and error text. Returns the number of failure points tried.
// (The external sort's fault test uses it too.)
int FailEachOperationInTurn(const ParameterRecord &job, const std::string &inputBytes,
                            void (*check)(int result, const std::string &text) = nullptr) {
  ClearErrorText();
  EXPECT_EQ(SortRun(&job), 0) << ErrorText;
  const std::string expected = ReadFile(job.outputName);
  int points = 0;
  for (int kind = 0; kind < 2; kind++) {
    for (uint64_t n = 1;; n++) {
      if (kind == 0) SetFileFaultForTesting(n); else SetAllocationFaultForTesting(n);
      WriteFile(job.outputName, "stale");
      ClearErrorText();
      const int result = SortRun(&job);
      const uint64_t counted = kind == 0 ? FileOperationsCounted() : AllocationsCounted();
      SetFileFaultForTesting(0);
      SetAllocationFaultForTesting(0);
      if (counted < n) {  // nothing failed: the whole run happened
        EXPECT_EQ(result, 0);
        break;
      }
      points++;
      SCOPED_TRACE(testing::Message() << (kind == 0 ? "file operation " : "allocation ") << n << ": " << ErrorText);
      const std::string text = ErrorText;
      EXPECT_EQ(ReadFile(job.inputName), inputBytes);
      if (result == 0) {
        EXPECT_EQ(ReadFile(job.outputName), expected);
        EXPECT_TRUE(text.empty() || text.find("Could NOT Open Statistics File") != std::string::npos);
      } else {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(text.substr(text.size() - strlen(kTerminated)), kTerminated);
        const std::string output = ReadFile(job.outputName);
        EXPECT_TRUE(output.empty() || output == "stale") << output.size();
      }
      if (check != nullptr) check(result, text);
      if (::testing::Test::HasFailure()) return points;
    }
  }
  return points;
}

// On one thread and on three (parts of the output written at their offsets).
TEST(SortRunFaults, EveryFailedFileOperationOrAllocationEndsCleanly) {
  for (int threads : {1, 3}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    SortThreads = threads;
    TempFolder folder;
    std::mt19937_64 random(12);
    CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
    const std::string records = Letters(random, 60000 * 100);  // two output buffers
    WriteFile(folder.File("in.dat"), records);
    ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 100, {KeyField{1, 6, 'a', 'a'}});
    job.statisticsFlag = 1;
    EXPECT_GE(FailEachOperationInTurn(job, records), 15);

    std::string lines;
    for (int i = 0; i < 3000; i++) lines += Letters(random, 1 + random() % 30) + "\r\n";
    WriteFile(folder.File("in.txt"), lines);
    job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{2, 3, 'c', 'd'}});
    EXPECT_GE(FailEachOperationInTurn(job, lines), 15);
  }
  SortThreads = 0;
}
