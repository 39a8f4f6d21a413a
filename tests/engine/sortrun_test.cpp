#include "engine/sortrun.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/merge.h"
#include "engine/runpath.h"
#include "engine/scanner.h"
#include "engine/statreport.h"
#include "os/platform.h"
#include "tests/support/model.h"
#include "tests/support/tables.h"
#include "tests/support/testfiles.h"

namespace {

// Letters, for records whose bytes do not matter.
std::string Letters(std::mt19937_64 &random, size_t length) {
  std::string text(length, 'a');
  for (char &c : text) c = static_cast<char>('a' + random() % 26);
  return text;
}

uint32_t ZeroClock() { return 0; }
void FixedLocalTime(LocalTime *time) { *time = LocalTime{2026, 12, 6, 23, 0}; }

// The lines of the report that the job and the reference sort decide: the memory figure
// (12n + 4G + nT, 2n more for text lines, and two record buffers: 1 KiB up to records of
// 1000 bytes, else the length rounded down to 16 bytes and 32 more), the groups,
// each group's counters and the compares.
std::string ReportedSort(const ReferenceSortResult &sort, const ParameterRecord &job, const KeySettings &settings) {
  const bool variable = job.recordLength == kVariableRecords;
  uint64_t n = sort.order.size(), g = sort.counters.size(), t = variable || settings.stable ? 4 : 0;
  for (int k = 0; k < job.keyCount; k++) t += KeyWidth(job.keys[k].type, job.keys[k].length);
  char line[128], field[3][kCountFieldSize];
  const uint64_t buffer = variable || job.recordLength < 1000 ? 1024 : job.recordLength / 16 * 16 + 32;
  FormatCount(12 * n + 4 * g + n * t + (variable ? 2 * n : 0) + 2 * buffer, field[0]);
  FormatCount(g, field[1]);
  std::string text = std::string("\r\n Allocated Memory Usage:") + field[0] + " Bytes\r\n\r\n Number of Sort Groups:" +
                     field[1] + "\r\n\r\n Stack Recursion Statistics for Each Sort Group\r\n \r\n";
  for (const GroupCounters &c : sort.counters) {
    snprintf(line, sizeof line, " Lo Branch =%5u  Hi Branch =%5u   Returns =%5u  Stack Depth =%5u\r\n", c.loBranches,
             c.hiBranches, c.returns, c.invocations - c.returns);
    text += line;
  }
  FormatCount(sort.sortCompares, field[0]);
  FormatCount(sort.mergeCompares, field[1]);
  FormatCount(sort.sortCompares + sort.mergeCompares, field[2]);
  return text + "\r\n  Number of Sort Compares:" + field[0] + "\r\n Number of Merge Compares:" + field[1] +
         "\r\n Total Number of Compares:" + field[2] + "\r\n";
}

}  // namespace

// Jobs decoded from random bytes (every record length and key type, valid and refused),
// over inputs of every shape at the group boundaries, at a size of a few groups, and at
// and past the most groups one merge round takes. In memory on 1, 2, 3 and 8 threads, and
// along the external path (parts of one and two groups, merges of 2 and 3 run files, so
// several merge passes; offsets 8 bytes wide from the first byte or not; text scanned in
// blocks of 64 and 300 bytes that must grow and cut between lines; 1 to 3 threads),
// each run leaves what the model says (result, whole error text, output) and the
// one-thread report, and no run file; the report's figures, group lines and compares are
// the model's.
TEST(SortRun, GeneratedJobsLeaveWhatTheModelSaysOnEveryPath) {
  TempFolder folder;
  std::mt19937_64 random(11);
  const std::string input = folder.File("in.dat"), output = folder.File("out.dat"), report = folder.File("SortStat.txt");
  const std::string temporary = folder.File("tmp");
  std::filesystem::create_directory(temporary);
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  SetClockForTesting(ZeroClock, FixedLocalTime);
  struct Path {
    int threads;
    uint32_t partRecords, fanIn;  // 0: in memory
    bool wide;
    size_t scanBlock;  // the external scan's first block of text, 0: its own
  };
  const Path paths[] = {{1, 0, 0, false, 0},    {2, 0, 0, false, 0},         {3, 0, 0, false, 0},
                        {8, 0, 0, false, 0},    {1, 997, 2, false, 64},      {3, 997, 2, true, 300},
                        {2, 2 * 997, 3, false, 0}, {1, 3 * 997, 3, true, 0}};
  // Progress comes at each phase's start and every 65536 items, never past the phase's total;
  // the run files' merge counts each record once in every pass over it.
  static int progressReports;
  static bool progressPastTotal;
  static uint64_t mergeTotal;
  progressPastTotal = false;
  RunOptions options = MakeOptions(0, [](int phase, uint64_t done, uint64_t total) {
    progressReports++, progressPastTotal |= done > total;
    if (phase == kPhaseMergingRuns) mergeTotal = total;
  }, temporary);
  const uint32_t oneRound = kMergeBatch * kSortGroupSize;  // the most groups one merge round takes
  int sorted = 0;
  // 65537: one record past four output tasks of 16384 records on a pool.
  for (uint32_t n : {0u, 2u, 997u, 998u, 2500u, oneRound, oneRound + 1, 65537u}) {
    for (int round = 0; round < (n < oneRound ? 12 : 3); round++) {
      uint8_t choice[2 + 4 * kMaxKeys];
      for (uint8_t &b : choice) b = static_cast<uint8_t>(random());
      if (n > 2) choice[1] &= ~0x20;                   // raw key fields, mostly refused, only at n = 2
      if (n >= oneRound) {  // text lines, then records of at most 16 bytes; one key: every job runs
        choice[0] = round == 0 ? 0 : choice[0] % 12;
        choice[1] &= ~0xCC;
      }
      ParameterRecord job;
      int mode;
      DecodeJob(choice, sizeof choice, input, output, &job, &mode, &options.keySettings);
      job.statisticsFlag = 1;
      const int shape = static_cast<int>(random() % kShapeCount);
      std::string bytes = "abcd";
      if (job.recordLength == kVariableRecords) {
        bytes = n == 0 ? "" : MakeLines(shape, n - 1, 70, mode, random, round % 4 == 2 ? 100 : 0);  // and the unended line
        if (round % 4 == 3 && n > 0) {  // a bad CR or an overlong line at a line start
          const std::string bad = mode == kDelimiterBoth && random() % 2 ? "ab\rcd\r\n" : std::string(261, 'x') + "\n";
          bytes.insert(bytes.rfind(mode == kDelimiterCr ? '\r' : '\n', random() % bytes.size()) + 1, bad);
        }
      } else if (job.recordLength > 0 && job.recordLength <= 1024) {
        const ReferenceKeys records = MakeKeys(shape, n, job.recordLength, random);
        bytes.assign(records.bytes.begin(), records.bytes.end());
      }
      if (round % 6 == 5 && job.recordLength > 1) bytes += "z";  // a part record at the end
      SCOPED_TRACE(testing::Message() << "n=" << n << " round=" << round << " length=" << job.recordLength
                                      << " keys=" << job.keyCount << " shape=" << shape << " mode=" << mode);
      WriteFile(input, bytes);
      const ExpectedRun expected = ExpectRun(bytes, job, mode, options.keySettings);
      sorted += expected.result == 0;
      DelimiterMode = mode;
      std::string oneThread;
      for (const Path &path : paths) {
        SCOPED_TRACE(testing::Message() << path.threads << " threads, parts of " << path.partRecords << " by "
                                        << path.fanIn << (path.wide ? ", wide" : ""));
        WriteFile(output, "stale");
        RemoveFile(report);
        options.threads = path.threads;
        SetExternalLimitsForTesting(path.partRecords, path.fanIn, path.scanBlock);
        SetWideOffsetsForTesting(path.wide ? 1 : 0);
        progressReports = 0, mergeTotal = 0;
        RunOutcome outcome;
        EXPECT_EQ(RunJob(job, &options, &outcome), expected.result);
        EXPECT_LE(progressReports, 16 + 2 * n / kSortGroupSize);  // a few for each part of the external path
        SetExternalLimitsForTesting(0, 0);
        SetWideOffsetsForTesting(0);
        EXPECT_EQ(std::string(ErrorText), expected.errorText);
        EXPECT_TRUE(ReadFile(output) == (expected.result == 0 ? expected.output : "stale"));
        if (path.partRecords == 0 && path.threads == 1) oneThread = ReadFile(report);
        EXPECT_EQ(path.partRecords == 0 ? ReadFile(report) : WithoutMemoryFigure(ReadFile(report)),
                  path.partRecords == 0 ? oneThread : WithoutMemoryFigure(oneThread));
        EXPECT_TRUE(expected.result == 1 || outcome.ranExternally == (path.partRecords > 0));
        if (expected.result == 0 && path.partRecords > 0 && job.recordLength != kVariableRecords) {
          const uint64_t records = expected.sort.order.size(), runs = (records + path.partRecords - 1) / path.partRecords;
          uint64_t passes = 1;
          for (uint64_t merged = path.fanIn; merged < runs; merged *= path.fanIn) passes++;
          EXPECT_EQ(mergeTotal, passes * records);
        }
#ifndef _WIN32
        EXPECT_TRUE(std::filesystem::is_empty(temporary));  // run files have no name once made
#endif
      }
      if (expected.result == 0) {
        EXPECT_NE(oneThread.find(ReportedSort(expected.sort, job, options.keySettings)), std::string::npos) << oneThread;
      }
      if (HasFailure()) break;
    }
  }
  DelimiterMode = kDelimiterBoth;
  SetClockForTesting(nullptr, nullptr);
  EXPECT_GE(sorted, 25);
  EXPECT_FALSE(progressPastTotal);
}

// files_refused.txt's rows: names that lead nowhere, to the input or to something other
// than a file, and reports that cannot be written.
TEST(SortRun, FilesThatCannotServeAreRefusedByName) {
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
  PlayTable(PELMAR_ENGINE_DATA "files_refused.txt", 19, [&](const TableRow &row) {
    std::vector<std::string> w = row.words;
    if (w[0] == "posix" || w[0] == "windows") {
      if ((w[0] == "windows") != (kPathSeparator == '\\')) return;
      w.erase(w.begin());
    }
    ASSERT_TRUE(w.size() == 8 && w[4] == "->") << "a row is INPUT OUTPUT LENGTH REPORT -> RESULT MESSAGE OUTPUT-AFTER";
    WriteFile(folder.File("SortStat.txt"), "ddccbbaa");
    RemoveFile(folder.File("out.dat"));
    ParameterRecord job = MakeJob(path(w[0]), path(w[1]), w[2] == "var" ? kVariableRecords : std::stoi(w[2]), {KeyField{1, 2, 'a', 'a', 0}});
    job.statisticsFlag = w[3] != "-";
    if (job.statisticsFlag) CopyText(StatisticsDirectory, kNameSize, folder.File(w[3]).c_str());
    const int result = std::stoi(w[5]);
    EXPECT_EQ(RunJob(job), result);
    std::string message = w[6];
    const std::pair<std::string, std::string> names[] = {{"{input}", job.inputName}, {"{output}", job.outputName}, {"{sep}", {kPathSeparator}}};
    for (const auto &name : names) {
      for (size_t at; (at = message.find(name.first)) != std::string::npos;) message.replace(at, name.first.size(), name.second);
    }
    EXPECT_EQ(std::string(ErrorText), message + (result ? kSortTerminated : ""));
    EXPECT_TRUE(w[7] == "*" || (w[7] == "-" ? !FileExists(job.outputName) : ReadFile(job.outputName) == w[7])) << ReadFile(job.outputName);
    EXPECT_EQ(ReadFile(folder.File("in.dat")), "ddccbbaa");
    EXPECT_TRUE(w[1] == "SortStat.txt" || ReadFile(folder.File("SortStat.txt")) == "ddccbbaa");
  });
}

namespace {

std::string gChangingFile, gReplacement;  // the input, and what overwrites its start (empty: cut to 100 bytes)
int gChangeAtPhase = -1;
uint64_t gChangeAtDone = 0;
bool gCutRefused = false;

// Changes the input while the run is in the chosen phase.
void ChangeInput(int phase, uint64_t done, uint64_t) {
  if (phase != gChangeAtPhase || done != gChangeAtDone) return;
  gChangeAtPhase = -1;
  FILE *file = fopen(gChangingFile.c_str(), "r+b");
  if (gReplacement.empty()) gCutRefused = !ResizeFile(gChangingFile, 100);
  else fwrite(gReplacement.data(), 1, gReplacement.size(), file);
  fclose(file);
}

}  // namespace

// Cut short before the output is copied and while it is being copied; text lines
// rewritten in place between the two scans, so that there are more than were counted,
// fewer, or one too long; in one scan and in ranges on a pool; and each of these while
// run files are written.
TEST(SortRun, InputChangedDuringTheRunFailsWithoutOverrun) {
  std::mt19937_64 random(8);
  const std::string records = Letters(random, 200000 * 50);
  std::string lines, more(500 * 15 / 2, '\n'), joined(200, 'y'), overlong(300, 'y');
  for (int i = 0; i < 1000; i++) lines += "line number " + std::to_string(i) + "\n";
  for (size_t i = 0; i < more.size(); i += 2) more[i] = 'y';
  struct Row {
    int phase;
    uint64_t done;
    const std::string &replacement;  // over the start of the text lines; empty: the records cut short
    uint32_t partRecords;            // 0: in memory
  };
  const std::string longest = "\n Longest Variable Record Length  = 15\n", cut;
  const Row rows[] = {{kPhaseWriting, 0, cut, 0}, {kPhaseWriting, kProgressInterval, cut, 0}, {kPhaseKeying, 0, more, 0},
                      {kPhaseKeying, 0, joined, 0}, {kPhaseKeying, 0, overlong, 0}, {kPhaseWritingRuns, 0, cut, 997},
                      {kPhaseWritingRuns, 0, more, 997}, {kPhaseWritingRuns, 0, joined, 997}, {kPhaseWritingRuns, 0, overlong, 997}};
  TempFolder folder;
  gChangingFile = folder.File("in.dat");
  RunOptions options = MakeOptions(0, ChangeInput);
  DelimiterMode = kDelimiterLf;
  for (int threads : {1, 3}) {
    for (const Row &row : rows) {
      const bool text = !row.replacement.empty();  // else fixed-length records of 50 bytes
      SCOPED_TRACE(std::to_string(threads) + " threads, phase " + std::to_string(row.phase) + (text ? ", text" : ""));
      options.threads = threads;
      WriteFile(gChangingFile, text ? lines : records);
      std::error_code gone;
      std::filesystem::remove(folder.File("out"), gone);  // a finished run on Windows leaves one
      gReplacement = row.replacement;
      gChangeAtPhase = row.phase;
      gChangeAtDone = row.done;
      SetExternalLimitsForTesting(row.partRecords, 0);
      const int result = RunJob(MakeJob(gChangingFile, folder.File("out"), text ? kVariableRecords : 50, {KeyField{1, 8, 'a', 'a', 0}}),
                                &options);
#ifdef _WIN32
      if (row.replacement.empty() && row.partRecords == 0) {  // Windows will not shorten a mapped file: the run goes on
        EXPECT_TRUE(result == 0 && gCutRefused) << ErrorText;
        EXPECT_EQ(ReadFile(folder.File("out")).size(), records.size());
        continue;
      }
#endif
      EXPECT_EQ(result, 1);
      EXPECT_EQ(ErrorText, (text ? longest : "") + "\n Input File Changed During Sort: " + gChangingFile + "!\n" + kSortTerminated);
      EXPECT_FALSE(FileExists(folder.File("out")));
    }
  }
  DelimiterMode = kDelimiterBoth;
  SetExternalLimitsForTesting(0, 0);
}

// Progress on one thread and on two: the same reports in the same order. Keying and
// writing report at 0 and every 65536 records; a merge of more than 64 groups in two
// rounds, each counted from its own start, the first round too.
TEST(SortRun, ProgressIsTheSameOnEveryThreadCount) {
  TempFolder folder;
  std::mt19937_64 random(13);
  const uint64_t n = 3 * kProgressInterval + 5;
  const ReferenceKeys records = MakeKeys(kRandomBytes, static_cast<uint32_t>(n), 8, random);
  WriteFile(folder.File("in.dat"), std::string(records.bytes.begin(), records.bytes.end()));
  const ParameterRecord job = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 8, {KeyField{1, 8, 'a', 'a', 0}});
  static std::vector<std::vector<uint64_t>> reports;
  std::vector<std::vector<uint64_t>> byThreads[2];
  for (int threads : {1, 2}) {
    reports.clear();
    const RunOptions options = MakeOptions(threads, [](int phase, uint64_t done, uint64_t total) {
      reports.push_back({static_cast<uint64_t>(phase), done, total});
    });
    ASSERT_EQ(RunJob(job, &options), 0) << ErrorText;
    byThreads[threads - 1] = reports;
  }
  EXPECT_EQ(byThreads[0], byThreads[1]);
  bool firstRound = false;
  for (const std::vector<uint64_t> &report : byThreads[0]) {
    const uint64_t phase = report[0], done = report[1];
    firstRound |= phase == kPhaseMerging && done > 0 && done <= n;
    const uint64_t inRound = phase == kPhaseMerging && done > n ? done - n : done;
    EXPECT_TRUE(phase == kPhaseSorting || inRound % kProgressInterval == 0) << phase << " " << done;
  }
  EXPECT_TRUE(firstRound);
}

namespace {

// A number of digits digits (a few of them equal), as text and as the engine's other forms.
std::string Digits(std::mt19937_64 &random, int digits) {
  std::string text;
  for (int i = 0; i < digits; i++) text += static_cast<char>('0' + random() % (i < digits - 2 ? 3 : 10));
  return text;
}

// 80-byte records holding one value in every form: at 0 big-endian and at 8 little-endian
// (bi, bu / i, u), at 16 and 24 a real both ways (bf / f), then packed decimal (32, 8 bytes),
// zoned (40, 10), zoned ASCII (50, 12) and text (62, 18), now and then not a valid number.
std::string NumberRecords(std::mt19937_64 &random, int n) {
  std::string bytes;
  for (int r = 0; r < n; r++) {
    std::string record(80, ' ');
    const bool negative = random() % 3 == 0, invalid = random() % 20 == 0;
    const std::string digits = Digits(random, 15);
    const int64_t value = (negative ? -1 : 1) * std::stoll(digits.substr(6));
    const double real = static_cast<double>(value) / 8;
    for (int j = 0; j < 8; j++) {
      record[j] = static_cast<char>(static_cast<uint64_t>(value) >> (56 - 8 * j));
      record[8 + j] = static_cast<char>(static_cast<uint64_t>(value) >> (8 * j));
    }
    uint64_t bits;
    memcpy(&bits, &real, 8);
    for (int j = 0; j < 8; j++) record[16 + j] = static_cast<char>(bits >> (56 - 8 * j)), record[24 + j] = static_cast<char>(bits >> (8 * j));
    for (int j = 0; j < 8; j++) {
      const int high = digits[2 * j] - '0', low = j < 7 ? digits[2 * j + 1] - '0' : (negative ? 0xD : 0xC);
      record[32 + j] = static_cast<char>(high << 4 | (invalid && j == 3 ? 0xA : low));
    }
    for (int j = 0; j < 10; j++) record[40 + j] = static_cast<char>((j == 9 && negative ? 0xD0 : 0xF0) | (digits[5 + j] - '0'));
    record.replace(50, 12, (negative ? "-" : " ") + digits.substr(4, 10) + (invalid ? "x" : "5"));
    record.replace(62, 18, (negative ? " -" : " +") + digits.substr(0, 9) + "." + digits.substr(9, 6));
    EXPECT_EQ(record.size(), 80u);
    bytes += record;
  }
  return bytes;
}

}  // namespace

// Every type of pelmar-sort's wider language, both sequences, on fixed-length records and on
// fields of text lines, in memory on 1, 3 and 64 threads (text lines then cut into 256 scan
// ranges, the most the run holds) and through run files: the model's order of their values,
// the same bytes on every path. bi and bu order as i and u on the
// same values stored the other way round, and bf ascending as f.
TEST(SortRun, NumbersOfEveryTypeSortByValueOnEveryPath) {
  TempFolder folder;
  std::mt19937_64 random(15);
  const std::string records = NumberRecords(random, 2500);
  std::string lines;
  for (size_t at = 0; at < records.size(); at += 80) {
    lines += std::to_string(at % 7) + ",\"" + records.substr(at + 50, 12) + "\"," + records.substr(at + 62, 18) + "\n";
  }
  WriteFile(folder.File("in.dat"), records);
  WriteFile(folder.File("in.txt"), lines);
  const KeySettings csv = {0, kFieldsCsv, ','}, stable = {1, kFieldsNone, 0};
  const struct {
    KeyField key;
    const KeySettings &settings;
    KeyField twin;  // a described key that orders the same, or none
  } rows[] = {
      {{1, 8, kTypeBigSigned, 'a', 0}, stable, {9, 8, 'i', 'a', 0}}, {{1, 8, kTypeBigUnsigned, 'd', 0}, stable, {9, 8, 'u', 'd', 0}},
      {{17, 8, kTypeBigReal, 'a', 0}, stable, {25, 8, 'f', 'a', 0}}, {{17, 8, kTypeBigReal, 'd', 0}, stable, {}},
      {{33, 8, kTypePacked, 'a', 0}, stable, {}}, {{33, 8, kTypePacked, 'd', 0}, csv, {}},
      {{41, 10, kTypeZoned, 'a', 0}, stable, {}}, {{51, 12, kTypeZonedText, 'd', 0}, stable, {}},
      {{63, 18, kTypeNumber, 'a', 0}, stable, {}}, {{1, 20, kTypeNumber, 'd', 3}, csv, {}},
      {{1, 12, kTypeZonedText, 'a', 2}, csv, {}}, {{2, 4, 'c', 'a', 2}, csv, {}},
  };
  const ExpectedRun *last = nullptr;
  ExpectedRun expected;
  for (const auto &row : rows) {
    const bool text = row.key.field > 0;
    const ParameterRecord job = MakeJob(folder.File(text ? "in.txt" : "in.dat"), folder.File("out"), text ? kVariableRecords : 80, {row.key});
    SCOPED_TRACE(testing::Message() << row.key.type << row.key.sequence << " at " << row.key.position << " field " << row.key.field);
    expected = ExpectRun(text ? lines : records, job, kDelimiterLf, row.settings);
    ASSERT_EQ(expected.result, 0);
    DelimiterMode = kDelimiterLf;
    for (const int threads : {1, 3, 64, -2}) {  // -2: two threads, through run files of 997 records merged by two
      RunOptions options = MakeOptions(threads < 0 ? 2 : threads);
      options.keySettings = row.settings;
      SetExternalLimitsForTesting(threads < 0 ? 997 : 0, threads < 0 ? 2 : 0);
      RunOutcome outcome;
      EXPECT_EQ(RunJob(job, &options, &outcome), 0) << ErrorText;
      EXPECT_TRUE(ReadFile(folder.File("out")) == expected.output) << threads << " threads";
    }
    SetExternalLimitsForTesting(0, 0);
    if (row.twin.length > 0) {
      const RunOptions options = [&] { RunOptions o = MakeOptions(1); o.keySettings = row.settings; return o; }();
      EXPECT_EQ(RunJob(MakeJob(job.inputName, folder.File("twin"), 80, {row.twin}), &options), 0);
      EXPECT_TRUE(ReadFile(folder.File("twin")) == expected.output);
    }
    last = &expected;
  }
  EXPECT_NE(last, nullptr);
  DelimiterMode = kDelimiterBoth;
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
// each allocation, in turn. Every run must end as the clean one did, or fail cleanly: a
// message that names what failed and the closing one, the output as it was, the input
// untouched, no run file or new output file left. A report that could not be opened is the
// only failure a run may take in its stride. Returns the number of failure points tried.
int FailEachOperationInTurn(const ParameterRecord &job, const RunOptions &options, const std::string &inputBytes,
                            const std::string &temporary) {
  const char *named[] = {"Could NOT Create Temporary File", "Could NOT Write Temporary File",
                         "Could NOT Read Temporary File", "Error Reading Input File", "Memory Allocation Error",
                         "Error Writing Output File", "Could NOT Open", "Input File Changed"};
#ifndef _WIN32
  if (options.streams.inputs != nullptr) lseek(0, 0, SEEK_SET);
#endif
  EXPECT_EQ(RunJob(job, &options), 0) << ErrorText;
  const std::string expected = ReadFile(job.outputName);
  int points = 0;
  for (int kind = 0; kind < 2; kind++) {
    for (uint64_t n = 1;; n++) {
      if (kind == 0) SetFileFaultForTesting(n); else SetAllocationFaultForTesting(n);
      WriteFile(job.outputName, "stale");
#ifndef _WIN32
      if (options.streams.inputs != nullptr) lseek(0, 0, SEEK_SET);  // standard input read again from its start
#endif
      const int result = RunJob(job, &options);
      const uint64_t counted = kind == 0 ? FileOperationsCounted() : AllocationsCounted();
      SetFileFaultForTesting(0);
      SetAllocationFaultForTesting(0);
      if (counted < n) {  // nothing failed: the whole run happened
        EXPECT_EQ(result, 0);
        break;
      }
      points++;
      SCOPED_TRACE(testing::Message() << (kind == 0 ? "file operation " : "allocation ") << n << ": " << ErrorText);
      const std::string text = ErrorText, output = ReadFile(job.outputName);
      EXPECT_EQ(ReadFile(job.inputName), inputBytes);
      EXPECT_TRUE(std::filesystem::is_empty(temporary));
      if (result == 0) {
        EXPECT_EQ(output, expected);
        EXPECT_TRUE(text.empty() || text.find("Could NOT Open Statistics File") != std::string::npos);
      } else {
        EXPECT_EQ(result, 1);
        // One message names what failed: only a report that could not be opened and the
        // longest line's length may come before it.
        std::string rest = text.substr(0, text.size() - strlen(kSortTerminated));
        EXPECT_EQ(text.substr(rest.size()), kSortTerminated);
        for (const char *before : {"\n Could NOT Open Statistics File", "\n Longest Variable Record Length"}) {
          if (rest.compare(0, strlen(before), before) == 0) rest.erase(0, rest.find('\n', 1) + 1);
        }
        EXPECT_TRUE(std::count(rest.begin(), rest.end(), '\n') == 2 &&
                    std::any_of(std::begin(named), std::end(named), [&](const char *m) { return rest.find(m) == 2; }));
        EXPECT_EQ(output, "stale") << output.size();  // as it was: the new output is gone
        const std::string outputName = job.outputName, folder = outputName.substr(0, outputName.rfind(kPathSeparator));
        for (const std::string &name : FolderNames(folder)) EXPECT_EQ(name.find(".pelmar-"), std::string::npos) << name;
      }
      if (::testing::Test::HasFailure()) return points;
    }
  }
  return points;
}

// Fixed-length records (two output buffers) and text lines in memory, and text lines along
// the external path (parts of 997 lines, merges of two run files); on one thread and on
// three (parts of the output written at their offsets).
TEST(SortRunFaults, EveryFailedFileOperationOrAllocationEndsCleanly) {
  TempFolder folder;
  std::mt19937_64 random(12);
  const std::string temporary = folder.File("tmp");
  std::filesystem::create_directory(temporary);
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  RunOptions options = MakeOptions(0, nullptr, temporary);
  // 997 long lines first: the external path's part buffer, made for the average line,
  // must grow to hold them.
  std::string lines;
  for (int i = 0; i < 997; i++) lines += Letters(random, 250) + "\r\n";
  const std::string records = Letters(random, 60000 * 100);
  lines += MakeLines(kFewDistinct, 5000, 8, kDelimiterBoth, random);
  WriteFile(folder.File("in.dat"), records);
  WriteFile(folder.File("in.txt"), lines);
  ParameterRecord fixed = MakeJob(folder.File("in.dat"), folder.File("out.dat"), 100, {KeyField{1, 6, 'a', 'a', 0}});
  ParameterRecord text = MakeJob(folder.File("in.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{2, 3, 'c', 'd', 0}});
  fixed.statisticsFlag = text.statisticsFlag = 1;
  const struct {
    const ParameterRecord &job;
    const std::string &bytes;
    uint32_t partRecords;  // 0: in memory
    bool standardInput;    // read from standard input: into memory, or (records past a quarter of the
                           // least budget) into a temporary file
  } rows[] = {{fixed, records, 0, false}, {text, lines, 0, false},
#ifndef _WIN32
              {text, lines, 997, false},  // run files have no name once made: none may be left
              {text, lines, 997, true}, {fixed, records, 0, true},
#endif
  };
  static const char *const kStandardInput[] = {"-"};
  for (int threads : {1, 3}) {
    for (const auto &row : rows) {
      SCOPED_TRACE(testing::Message() << threads << " threads, length " << row.job.recordLength << ", parts of "
                                      << row.partRecords << (row.standardInput ? ", standard input" : ""));
      options.threads = threads;
      options.memoryBudget = row.standardInput ? kMinimumMemoryBudget : 0;
      options.streams.inputs = row.standardInput ? kStandardInput : nullptr;
      options.streams.inputCount = row.standardInput ? 1 : 0;
#ifndef _WIN32
      const int saved = dup(0);
      if (row.standardInput) dup2(open(row.job.inputName, O_RDONLY), 0);
      SetStandardInputInSequenceForTesting(row.standardInput);  // read as a pipe is
#endif
      SetExternalLimitsForTesting(row.partRecords, row.partRecords > 0 ? 2 : 0);
      EXPECT_GE(FailEachOperationInTurn(row.job, options, row.bytes, temporary), row.partRecords > 0 ? 60 : 15);
#ifndef _WIN32
      SetStandardInputInSequenceForTesting(false);
      dup2(saved, 0);
      close(saved);
#endif
      RunOutcome outcome;
      options.streams.inputs = nullptr;
      EXPECT_EQ(RunJob(row.job, &options, &outcome), 0);
      EXPECT_EQ(outcome.ranExternally, row.partRecords > 0 || row.standardInput);
    }
  }
  SetExternalLimitsForTesting(0, 0);
}
