#include "engine/sortrun.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/keys.h"
#include "engine/merge.h"
#include "os/platform.h"
#include "engine/scanner.h"
#include "tests/support/reference.h"
#include "tests/support/testfiles.h"

namespace {

const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";
const std::string kReportName = kPathSeparator + std::string("SortStat.txt");

ParameterRecord MakeJob(const std::string &input, const std::string &output, int32_t recordLength,
                        std::vector<KeyField> keys) {
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  CopyText(job.inputName, sizeof job.inputName, input.c_str());
  CopyText(job.outputName, sizeof job.outputName, output.c_str());
  job.recordLength = recordLength;
  job.keyCount = static_cast<int32_t>(keys.size());
  for (size_t k = 0; k < keys.size(); k++) job.keys[k] = keys[k];
  for (int k = 0; k < kMaxKeys; k++) snprintf(job.keyTitles[k], kKeyTitleSize, "Key %d:", k + 1);
  return job;
}

int RunJob(const ParameterRecord &job) {
  ClearErrorText();
  return SortRun(&job);
}

std::string RandomRecords(std::mt19937_64 &random, size_t n, size_t length, int alphabet) {
  std::string bytes;
  for (size_t i = 0; i < n * length; i++) bytes += static_cast<char>(alphabet == 256 ? random() % 256 : 'a' + random() % alphabet);
  return bytes;
}

// Records in the orders the differential runs use: 0 random, 1 few distinct, 2 sorted,
// 3 reverse sorted, 4 all equal (as whole records, so sorted by a leading 'a' key too).
std::vector<std::string> ShapedRecords(std::mt19937_64 &random, size_t n, size_t length, int shape) {
  std::vector<std::string> records;
  for (size_t i = 0; i < n; i++) records.push_back(RandomRecords(random, 1, length, shape == 1 ? 2 : 256));
  if (shape == 2) std::sort(records.begin(), records.end());
  if (shape == 3) std::sort(records.rbegin(), records.rend());
  if (shape == 4) std::fill(records.begin(), records.end(), records[0]);
  return records;
}

uint32_t ZeroClock() { return 0; }
void FixedLocalTime(LocalTime *time) { *time = LocalTime{2026, 12, 6, 23, 0}; }

// What a run leaves: its result, messages, output file and statistics report.
struct RunOutcome {
  int result;
  std::string errorText;
  std::string output;
  std::string report;
};

// Runs the job on the given thread count with statistics on (in folder) and a fixed clock.
RunOutcome RunOnThreads(ParameterRecord job, int threads, const TempFolder &folder) {
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  RemoveFile(folder.File("SortStat.txt"));
  RemoveFile(job.outputName);
  SetClockForTesting(ZeroClock, FixedLocalTime);
  SortThreads = threads;
  RunOutcome outcome;
  outcome.result = RunJob(job);
  SortThreads = 0;
  SetClockForTesting(nullptr, nullptr);
  outcome.errorText = ErrorText;
  outcome.output = ReadFile(job.outputName);
  outcome.report = ReadFile(folder.File("SortStat.txt"));
  return outcome;
}

// The job on 1, 2, 3 and 8 threads: every run leaves exactly what the one-thread run leaves.
RunOutcome ExpectSameOnEveryThreadCount(const ParameterRecord &job, const TempFolder &folder) {
  const RunOutcome one = RunOnThreads(job, 1, folder);
  for (int threads : {2, 3, 8}) {
    const RunOutcome many = RunOnThreads(job, threads, folder);
    EXPECT_EQ(many.result, one.result) << threads << " threads";
    EXPECT_EQ(many.errorText, one.errorText) << threads << " threads";
    EXPECT_TRUE(many.output == one.output) << threads << " threads: output differs";
    EXPECT_TRUE(one.result != 0 || one.report.find(" Lo Branch =") != std::string::npos);
    EXPECT_EQ(many.report, one.report) << threads << " threads";
  }
  return one;
}

}  // namespace

// Every shape and key set, at the group boundaries and past the merge's two-round size, on
// every thread count: output as the reference sort gives it, report as one thread writes it.
TEST(SortRun, FixedLengthOutputMatchesTheReferenceSort) {
  TempFolder folder;
  std::mt19937_64 random(11);
  const std::vector<std::vector<KeyField>> keySets = {
      {KeyField{1, 10, 'a', 'a'}},
      {KeyField{3, 2, 'c', 'd'}, KeyField{9, 4, 'i', 'a'}},
      {KeyField{1, 1, 'a', 'a'}, KeyField{5, 4, 'f', 'd'}, KeyField{11, 2, 'u', 'd'}},
      {KeyField{13, 8, 'f', 'a'}, KeyField{2, 1, 'c', 'a'}},
  };
  const uint32_t twoRounds = kMergeBatch * kSortGroupSize + 1500;
  for (size_t n : {size_t{2}, size_t{3}, size_t{997}, size_t{998}, size_t{1994}, size_t{5003}, size_t{twoRounds}}) {
    for (int shape = 0; shape < 5; shape++) {
      const size_t set = (n + shape) % keySets.size();
      SCOPED_TRACE("n=" + std::to_string(n) + " shape=" + std::to_string(shape) + " set=" + std::to_string(set));
      std::string bytes;
      for (const std::string &record : ShapedRecords(random, n, 20, shape)) bytes += record;
      WriteFile(folder.File("in.dat"), bytes);
      ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 20, keySets[set]);
      const RunOutcome outcome = ExpectSameOnEveryThreadCount(job, folder);
      ASSERT_EQ(outcome.result, 0) << outcome.errorText;
      EXPECT_TRUE(outcome.output == ExpectedFixedOutput(bytes, job));
    }
  }
}

namespace {

// The output the described sort gives text lines: keys from the scanner run over the whole
// text on one thread, sorted by the plain reference, records copied with CR LF.
std::string ExpectedLineOutput(const std::string &text, const ParameterRecord &job, int mode) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
  ScanTally tally = {0, 0};
  EXPECT_EQ(ScanRecords(0, bytes, text.size(), mode, &tally, nullptr), kScanGood);
  SortWorkspace ws;
  EXPECT_EQ(AllocateWorkspace(&ws, tally.recordCount, &job), 0);
  KeyPlan plan;
  PrepareKeyPlan(job.keys, job.keyCount, true, &plan);
  std::vector<unsigned char> scratch(1024, 0);
  ScanKeying keying = {&ws, &plan, scratch.data()};
  EXPECT_EQ(ScanRecords(1, bytes, text.size(), mode, &tally, &keying), kScanGood);
  ReferenceKeys keys;
  keys.keyLength = ws.keyLength;
  keys.bytes.assign(ws.keyArray, ws.keyArray + uint64_t{ws.recordCount} * ws.keyLength);
  std::string output;
  for (uint32_t i : ReferenceSort(keys).order) output += text.substr(ws.recordOffsets[i], ws.recordLengths[i]) + "\r\n";
  ReleaseWorkspace(&ws);
  return output;
}

}  // namespace

// Text lines in each delimiter mode, with empty lines, stray CR and LF bytes and an unended
// last line, on every thread count.
TEST(SortRun, TextLinesMatchTheReferenceSortOnEveryThreadCount) {
  TempFolder folder;
  std::mt19937_64 random(12);
  const char *ends[] = {"\r\n", "\r", "\n"};
  for (int mode : {kDelimiterBoth, kDelimiterCr, kDelimiterLf}) {
    for (size_t n : {size_t{997}, size_t{1994}, size_t{5003}}) {
      for (int shape = 0; shape < 5; shape++) {
        SCOPED_TRACE("mode=" + std::to_string(mode) + " n=" + std::to_string(n) + " shape=" + std::to_string(shape));
        std::string text;
        for (std::string record : ShapedRecords(random, n, 6, shape)) {
          for (char &c : record) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);  // no line ends inside
          text += record.substr(0, shape == 4 ? 6 : 3 + random() % 4);
          if (random() % 8 == 0) text += mode == kDelimiterLf ? "\r" : "\n";  // a stray byte, kept in the span
          text += ends[mode];
          if (random() % 16 == 0) text += ends[mode];  // an empty line
        }
        text += "unended";
        WriteFile(folder.File("in.txt"), text);
        DelimiterMode = mode;
        ParameterRecord job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords,
                                      {KeyField{1, 2, 'c', shape == 3 ? 'd' : 'a'}, KeyField{3, 4, 'a', 'a'}});
        const RunOutcome outcome = ExpectSameOnEveryThreadCount(job, folder);
        ASSERT_EQ(outcome.result, 0) << outcome.errorText;
        EXPECT_TRUE(outcome.output == ExpectedLineOutput(text, job, mode));
        DelimiterMode = kDelimiterBoth;
      }
    }
  }
}

// Bytes behind the last whole record (the file grew after it was checked) are never dropped
// silently: the run fails and leaves the output empty.
TEST(SortRun, PartRecordAtTheEndFailsTheRun) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "bbbbaaaatai");
  WriteFile(folder.File("out.dat"), "old contents");
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 4, {KeyField{1, 4, 'a', 'a'}});
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText),
            "\n File Size NOT Equally Divisible by Record Length: " + folder.File("in.dat") + "!\n" + kTerminated);
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "");
}

TEST(SortRun, VariableLengthRecordsAreWrittenWithCrLfInKeyOrder) {
  TempFolder folder;
  WriteFile(folder.File("in.txt"), "beta\r\nAlpha\r\nbeta\r\n");
  ParameterRecord job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{1, 4, 'c', 'a'}});
  ASSERT_EQ(RunJob(job), 0) << ErrorText;
  EXPECT_EQ(ReadFile(folder.File("out.txt")), "Alpha\r\nbeta\r\nbeta\r\n");
  EXPECT_STREQ(ErrorText, "\n Longest Variable Record Length  = 5\n");
}

TEST(SortRun, VariableLengthKeyPositionsAreCheckedAgainstTheLongestRecord) {
  TempFolder folder;
  std::string forty(40, 'x');
  WriteFile(folder.File("in.txt"), forty + "\r\nshort\r\n");
  ParameterRecord job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords,
                                {KeyField{40, 8, 'c', 'a'}});
  EXPECT_EQ(RunJob(job), 0) << ErrorText;  // position 40 and position + length 48 are accepted
  ASSERT_TRUE(RemoveFile(folder.File("out.txt")));
  job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords,
                {KeyField{41, 1, 'c', 'a'}, KeyField{39, 10, 'a', 'd'}});
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText),
            "\n Longest Variable Record Length  = 40\n"
            "\n Postion in Key 1: Key > Variable Record Length!\n"
            "\n Postion + Length in Key 2: Key > Variable Record Length!\n" +
                std::string(kTerminated));
  EXPECT_FALSE(FileExists(folder.File("out.txt")));
}

TEST(SortRun, EmptyVariableFileFailsBeforeTheOutputIsOpened) {
  TempFolder folder;
  WriteFile(folder.File("in.txt"), "");
  ParameterRecord job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords,
                                {KeyField{1, 5, 'c', 'a'}, KeyField{6, 3, 'c', 'a'}});
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText),
            "\n Longest Variable Record Length  = 0\n"
            "\n Postion in Key 1: Key > Variable Record Length!\n"
            "\n Postion in Key 2: Key > Variable Record Length!\n"
            "\n Postion + Length in Key 2: Key > Variable Record Length!\n" +
                std::string(kTerminated));
  EXPECT_FALSE(FileExists(folder.File("out.txt")));
}

// The first error in file order decides, wherever the threads' ranges cut the file.
TEST(SortRun, ScannerFailuresNameTheInput) {
  TempFolder folder;
  const std::string input = folder.File("in.txt");
  const std::string delimiterError = "\n Record Delimeter Error in: " + input + "!\n" + kTerminated;
  const std::string tooLong = "\n Found Record Length > 256 Bytes in: " + input + "!\n" + kTerminated;
  std::string lines;
  for (int i = 0; i < 5000; i++) lines += "line " + std::to_string(i) + "\r\n";
  const std::string badCr = "ab\rcd\r\n", longLine = std::string(261, 'x') + "\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {badCr, delimiterError},
      {longLine, tooLong},
      {lines + badCr + lines + longLine + lines, delimiterError},
      {lines + longLine + lines + badCr + lines, tooLong},
      {lines + lines + lines + "end\r", delimiterError},
  };
  ParameterRecord job = MakeJob(input, folder.File("out.txt"), kVariableRecords, {KeyField{1, 2, 'c', 'a'}});
  for (const auto &c : cases) {
    WriteFile(input, c.first);
    for (int threads : {1, 2, 3, 8}) {
      SortThreads = threads;
      EXPECT_EQ(RunJob(job), 1);
      EXPECT_EQ(std::string(ErrorText), c.second) << threads << " threads";
    }
  }
  SortThreads = 0;
}

TEST(SortRun, FewerThanTwoRecordsLeaveAnEmptyOutput) {
  TempFolder folder;
  const std::string output = folder.File("out.dat");
  for (const std::string &bytes : {std::string(), std::string("one record"), std::string("one record+7")}) {
    WriteFile(folder.File("in.dat"), bytes);
    WriteFile(output, "old contents");
    ParameterRecord job = MakeJob(folder.File("in.dat"), output, 10, {KeyField{1, 3, 'a', 'a'}});
    EXPECT_EQ(RunJob(job), 1);
    EXPECT_EQ(std::string(ErrorText), std::string("\n Only ONE Record in File - No Need to Sort!\n") + kTerminated);
    EXPECT_TRUE(FileExists(output));
    EXPECT_EQ(ReadFile(output), "");
  }
  WriteFile(folder.File("in.txt"), "just one line\n");
  DelimiterMode = kDelimiterLf;
  ParameterRecord job = MakeJob(folder.File("in.txt"), output, kVariableRecords, {KeyField{1, 3, 'a', 'a'}});
  EXPECT_EQ(RunJob(job), 1);
  DelimiterMode = kDelimiterBoth;
  EXPECT_EQ(std::string(ErrorText),
            "\n Longest Variable Record Length  = 13\n\n Only ONE Record in File - No Need to Sort!\n" +
                std::string(kTerminated));
}

TEST(SortRun, FilesThatCannotBeOpenedAreNamed) {
  TempFolder folder;
  ParameterRecord job = MakeJob(folder.File("missing.dat"), folder.File("out.dat"), 4, {KeyField{1, 2, 'a', 'a'}});
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Input File: " + folder.File("missing.dat") + "!\n" + kTerminated);
  WriteFile(folder.File("in.dat"), "abcdefgh");
  job = MakeJob(folder.File("in.dat"), folder.File("no/such/out.dat"), 4, {KeyField{1, 2, 'a', 'a'}});
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Output File: " + folder.File("no/such/out.dat") + "!\n" + kTerminated);
  job = MakeJob(folder.path, folder.File("out.dat"), 4, {KeyField{1, 2, 'a', 'a'}});  // a folder is no input
  EXPECT_EQ(RunJob(job), 1);
}

#ifndef _WIN32  // Windows' pipes and devices: windows_test.cpp
// A FIFO would block the open or the read forever; devices are no record files either.
TEST(SortRun, FifosAndDevicesAreRefusedWithoutWaiting) {
  TempFolder folder;
  const std::string fifo = folder.File("pipe.dat");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteFile(folder.File("in.dat"), "bbaa");
  ParameterRecord job = MakeJob(fifo, folder.File("out.dat"), 2, {KeyField{1, 2, 'a', 'a'}});
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Input File: " + fifo + "!\n" + kTerminated);
  for (const std::string &output : {fifo, std::string("/dev/null")}) {
    job = MakeJob(folder.File("in.dat"), output, 2, {KeyField{1, 2, 'a', 'a'}});
    EXPECT_EQ(RunJob(job), 1);
    EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Output File: " + output + "!\n" + kTerminated);
  }
  // A report that is a FIFO is a report that cannot be opened: the sort goes on.
  ASSERT_EQ(mkfifo(folder.File("SortStat.txt").c_str(), 0600), 0);
  job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 2, {KeyField{1, 2, 'a', 'a'}});
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  EXPECT_EQ(RunJob(job), 0);
  EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Statistics File: " + kReportName + "!\n");
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "aabb");
}
#endif

// A file whose length reads 0 but that has content (the system makes it up as it is read)
// cannot be counted or mapped: it is an input that cannot be read, not an empty one.
TEST(SortRun, InputThatReadsAsEmptyButHasContentIsARefusedRead) {
  const char *made = "/proc/self/status";
  if (!FileExists(made)) GTEST_SKIP() << "no " << made;
  TempFolder folder;
  for (int32_t length : {kVariableRecords, 1}) {
    ParameterRecord job = MakeJob(made, folder.File("out.txt"), length, {KeyField{1, 1, 'a', 'a'}});
    EXPECT_EQ(RunJob(job), 1);
    EXPECT_EQ(std::string(ErrorText), std::string("\n Error Reading Input File: ") + made + "!\n" + kTerminated);
  }
}

// The report is opened as carefully as the output: when its name leads to the input or
// the output, it is a report that cannot be opened, and both files stay as they are.
TEST(SortRun, StatisticsReportNeverOverwritesTheInputOrTheOutput) {
  TempFolder folder;
  const std::string report = folder.File("SortStat.txt");
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  const std::string cannotOpen = "\n Could NOT Open Statistics File: " + kReportName + "!\n";
  WriteFile(report, "ddccbbaa");
  ParameterRecord job = MakeJob(report, folder.File("out.dat"), 2, {KeyField{1, 2, 'a', 'a'}});
  job.statisticsFlag = 1;
  EXPECT_EQ(RunJob(job), 0) << ErrorText;
  EXPECT_EQ(std::string(ErrorText), cannotOpen);
  EXPECT_EQ(ReadFile(report), "ddccbbaa");
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "aabbccdd");

  job = MakeJob(folder.File("out.dat"), report, 2, {KeyField{1, 2, 'a', 'd'}});
  job.statisticsFlag = 1;
  EXPECT_EQ(RunJob(job), 0) << ErrorText;
  EXPECT_EQ(std::string(ErrorText), cannotOpen);
  EXPECT_EQ(ReadFile(report), "ddccbbaa");
}

TEST(SortRun, KeysLongerThanTheRecordFailAfterTheOutputIsOpened) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "abcdefgh");
  WriteFile(folder.File("out.dat"), "old");
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 4,
                                {KeyField{1, 3, 'a', 'a'}, KeyField{2, 3, 'a', 'a'}});
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText), std::string("\n Total Length of Keys Specified > Record Length!\n") + kTerminated);
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "");
}

TEST(SortRun, StatisticsFileThatCannotBeOpenedDoesNotFailTheRun) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "bbaa");
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 2, {KeyField{1, 2, 'a', 'a'}});
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.File("no-such-folder").c_str());
  EXPECT_EQ(RunJob(job), 0);
  EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Statistics File: " + kReportName + "!\n");
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "aabb");
}

TEST(SortRun, AllocatedMemoryUsageCountsBuffersArraysAndKeys) {
  TempFolder folder;
  std::mt19937_64 random(3);
  WriteFile(folder.File("in.dat"), RandomRecords(random, 1000, 80, 26));
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 80, {KeyField{1, 10, 'c', 'a'}});
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  ASSERT_EQ(RunJob(job), 0) << ErrorText;
  EXPECT_NE(ReadFile(folder.File("SortStat.txt")).find("\r\n Allocated Memory Usage:     24,056 Bytes\r\n"),
            std::string::npos);

  std::string lines;
  for (int i = 0; i < 1000; i++) lines += RandomRecords(random, 1, 12, 26) + "\r\n";
  WriteFile(folder.File("in.txt"), lines);
  job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{1, 10, 'c', 'a'}});
  job.statisticsFlag = 1;
  ASSERT_EQ(RunJob(job), 0) << ErrorText;
  std::string report = ReadFile(folder.File("SortStat.txt"));
  EXPECT_NE(report.find("\r\n Allocated Memory Usage:     30,056 Bytes\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\n Record Size:  Variable Length\r\n"), std::string::npos);
}

TEST(SortRun, UnsafeJobsAreRefusedBeforeAnyFileIsOpened) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "abcdefgh");
  const std::string out = folder.File("out.dat");
  const std::string in = folder.File("in.dat");
  std::vector<ParameterRecord> jobs = {
      MakeJob(in, out, 4, {}),                                                    // no key
      MakeJob(in, out, 4, {KeyField{0, 2, 'a', 'a'}}),                            // position below 1
      MakeJob(in, out, 4, {KeyField{1, 0, 'a', 'a'}}),                            // length below 1
      MakeJob(in, out, 4, {KeyField{1, 2, 'x', 'a'}}),                            // unknown type
      MakeJob(in, out, 4, {KeyField{1, 2, 'C', 'a'}}),                            // upper case is not a type
      MakeJob(in, out, 4, {KeyField{1, 2, 'a', 'z'}}),                            // unknown sequence
      MakeJob(in, out, 4, {KeyField{3, 2, 'a', 'a'}, KeyField{4, 2, 'a', 'a'}}),  // reaches past the record
      MakeJob(in, out, 4, {KeyField{2147483647, 2, 'a', 'a'}}),                   // position overflows
      MakeJob(in, out, 8, {KeyField{1, 3, 'f', 'a'}}),                            // no such real
      MakeJob(in, out, 0, {KeyField{1, 2, 'a', 'a'}}),                            // record length 0
      MakeJob(in, out, 4301, {KeyField{1, 2, 'a', 'a'}}),                         // record length too long
      MakeJob(in, out, 2147483647, {KeyField{1, 2, 'a', 'a'}}),                   // buffer size would overflow
      MakeJob(in, out, -2, {KeyField{1, 2, 'a', 'a'}}),                           // neither fixed nor variable
      MakeJob(in, out, kVariableRecords, {KeyField{1, 2, 'i', 'a'}}),             // numbers in text lines
      MakeJob(in, out, kVariableRecords, {KeyField{1, 1021, 'a', 'a'}}),          // key does not fit the buffer
  };
  jobs[0].keyCount = 0;
  ParameterRecord sevenKeys = MakeJob(in, out, 4, {KeyField{1, 1, 'a', 'a'}});
  sevenKeys.keyCount = 7;
  jobs.push_back(sevenKeys);
  for (size_t i = 0; i < jobs.size(); i++) {
    EXPECT_EQ(RunJob(jobs[i]), 1) << i;
    EXPECT_EQ(std::string(ErrorText), std::string("\n Invalid Sort Parameters!\n") + kTerminated) << i;
    EXPECT_FALSE(FileExists(out)) << i;
  }
}

TEST(SortRun, OutputThatIsTheInputIsRefusedAndTheInputKept) {
  TempFolder folder;
  const std::string input = folder.File("in.dat");
  const std::string contents = "dddcccbbbaaa";
  WriteFile(input, contents);
  ASSERT_TRUE(MakeLink(input, folder.File("link.dat")));
  ASSERT_TRUE(MakeHardLink(input, folder.File("hard.dat")));
  std::vector<std::string> spellings = {input, folder.path + "/./in.dat", folder.File("link.dat"), folder.File("hard.dat")};
#ifdef _WIN32
  // Names differ in letter case and by a .\ prefix, and both separators are taken.
  spellings.insert(spellings.end(), {folder.File("IN.DAT"), folder.path + "\\.\\In.Dat", folder.path + "\\in.dat"});
#endif
  for (const std::string &output : spellings) {
    ParameterRecord job = MakeJob(input, output, 3, {KeyField{1, 3, 'a', 'a'}});
    EXPECT_EQ(RunJob(job), 1);
    EXPECT_EQ(std::string(ErrorText), "\n Output File Is the Input File: " + output + "!\n" + kTerminated);
    EXPECT_EQ(ReadFile(input), contents);
  }
}

TEST(SortRun, FailedWritesAreReportedAndLeaveAnEmptyOutput) {
  TempFolder folder;
  std::mt19937_64 random(5);
  WriteFile(folder.File("in.dat"), RandomRecords(random, 100000, 100, 26));  // 10 MB: several buffers
  const std::string written = "\n Error Writing Output File: " + folder.File("out.dat") + "!\n" + kTerminated;
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 100, {KeyField{1, 10, 'a', 'a'}});
  for (int threads : {1, 3}) {  // one output file, or parts written at their offsets
    SCOPED_TRACE(std::to_string(threads) + " threads");
    SortThreads = threads;
    // The first write, a later one and every one from the second on; then the final close.
    const int faults[][3] = {{1, 0, kFileWrite}, {3, 0, kFileWrite}, {2, 1, kFileWrite}, {1, 0, kFileClose}};
    for (const auto &fault : faults) {
      SetFileFaultForTesting(fault[0], fault[1], fault[2]);
      EXPECT_EQ(RunJob(job), 1) << fault[0] << " " << fault[2];
      SetFileFaultForTesting(0);
      EXPECT_EQ(std::string(ErrorText), written);
      EXPECT_EQ(ReadFile(folder.File("out.dat")), "");
    }
  }
  SortThreads = 0;

#ifndef _WIN32
  // A real write failure: the system refuses to let the file grow past 1 MB.
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
#endif
}

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
      WriteFile(gChangingFile, RandomRecords(random, 200000, 50, 26));
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

TEST(SortRun, SecondRunCountsOnlyItsOwnCompares) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "cba");
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 1, {KeyField{1, 1, 'a', 'a'}});
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  ASSERT_EQ(RunJob(job), 0);
  const std::string first = ReadFile(folder.File("SortStat.txt"));
  ASSERT_EQ(RunJob(job), 0);
  const std::string second = ReadFile(folder.File("SortStat.txt"));
  auto compares = [](const std::string &report) {
    size_t at = report.find("Number of Sort Compares:");
    return report.substr(at, 40);
  };
  EXPECT_EQ(compares(first), compares(second));
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "abc");
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

namespace {

// Runs job once with nothing failing, then again failing each file operation, and then
// each allocation, in turn. Every run must end as the clean one did, or fail cleanly:
// the run's closing message, an empty output, the input untouched. A report that could
// not be opened is the only failure a run may take in its stride. Returns the number of
// failure points tried.
int FailEachOperationInTurn(const ParameterRecord &job, const std::string &inputBytes) {
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
      if (::testing::Test::HasFailure()) return points;
    }
  }
  return points;
}

}  // namespace

TEST(SortRunFaults, EveryFailedFileOperationOrAllocationEndsCleanly) {
  TempFolder folder;
  std::mt19937_64 random(12);
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  const std::string records = RandomRecords(random, 60000, 100, 26);  // two output buffers
  WriteFile(folder.File("in.dat"), records);
  ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 100, {KeyField{1, 6, 'a', 'a'}});
  job.statisticsFlag = 1;
  EXPECT_GE(FailEachOperationInTurn(job, records), 15);

  std::string lines;
  for (int i = 0; i < 3000; i++) lines += RandomRecords(random, 1, 1 + random() % 30, 26) + "\r\n";
  WriteFile(folder.File("in.txt"), lines);
  job = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{2, 3, 'c', 'd'}});
  EXPECT_GE(FailEachOperationInTurn(job, lines), 15);
}
