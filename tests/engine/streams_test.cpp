// pelmar-sort's inputs, outputs and actions as the engine runs them (the command line's are
// in the cli transcripts), against the shared model: several inputs sort as their
// concatenation and standard input as the same file by name; a merge of sorted parts gives
// the sort of the whole; unique keeps the first of each key; a check gives the model's
// verdict. In memory and through run files, on one thread and on three.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <random>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/runpath.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "tests/support/model.h"
#include "tests/support/testfiles.h"

namespace {

// Lines of one to four letters from a small alphabet (many equal keys), each ended by end.
std::vector<std::string> Lines(std::mt19937_64 &random, int n, const std::string &end) {
  std::vector<std::string> lines;
  for (int i = 0; i < n; i++) {
    std::string line;
    for (int j = 0, length = 1 + static_cast<int>(random() % 4); j < length; j++) line += static_cast<char>('a' + random() % 3);
    lines.push_back(line + end);
  }
  return lines;
}

std::string Joined(const std::vector<std::string> &lines, size_t from, size_t to) {
  std::string text;
  for (size_t i = from; i < to; i++) text += lines[i];
  return text;
}

// The model's output of the lines sorted, cut back into its lines.
std::vector<std::string> SortedLines(const std::string &text, const ParameterRecord &job, int mode) {
  const std::string sorted = ExpectRun(text, job, mode).output;
  std::vector<std::string> lines;
  for (size_t at = 0; at < sorted.size();) {
    const size_t end = sorted.find("\r\n", at) + 2;
    lines.push_back(sorted.substr(at, end - at));
    at = end;
  }
  return lines;
}

// The record (1-based) of a check's first finding, or 0: the first line whose key is below
// the one before (or equal to it, with unique).
size_t FirstOutOfOrder(const std::vector<std::string> &lines, const ParameterRecord &job, bool unique) {
  for (size_t i = 1; i < lines.size(); i++) {
    const int order = CompareByKeys(job, KeySettings{0, kFieldsNone, 0}, lines[i - 1].substr(0, lines[i - 1].size() - 2),
                                    lines[i].substr(0, lines[i].size() - 2));
    if (order > 0 || (unique && order == 0)) return i + 1;
  }
  return 0;
}

struct Streams {
  std::vector<std::string> names;
  std::vector<const char *> pointers;
  RunOptions options;
  Streams(std::vector<std::string> inputs, int action, int unique, int threads) : names(std::move(inputs)) {
    for (const std::string &name : names) pointers.push_back(name.c_str());
    options = MakeOptions(threads);
    options.streams = StreamSettings{pointers.data(), static_cast<int>(pointers.size()), 0, action, unique, kLineEndCrLf};
  }
};

}  // namespace

// Three inputs (the middle one's last line without its end) sort as the one file they make,
// with the same report but for the input's name; standard input as that file by name.
TEST(SortRunStreams, SeveralInputsAndStandardInputSortAsOneFile) {
  TempFolder folder;
  std::mt19937_64 random(21);
  const std::vector<std::string> lines = Lines(random, 3000, "\n");
  WriteFile(folder.File("a.txt"), Joined(lines, 0, 900));
  std::string middle = Joined(lines, 900, 2000);
  WriteFile(folder.File("b.txt"), middle.substr(0, middle.size() - 1));
  WriteFile(folder.File("c.txt"), Joined(lines, 2000, 3000));
  WriteFile(folder.File("whole.txt"), Joined(lines, 0, 3000));
  ParameterRecord job = MakeJob(folder.File("whole.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{1, 2, 'c', 'a', 0}});
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  SetClockForTesting([]() -> uint32_t { return 0; }, [](LocalTime *time) { *time = LocalTime{2026, 12, 7, 9, 0}; });
  DelimiterMode = kDelimiterLf;
  const std::string expected = ExpectRun(Joined(lines, 0, 3000), job, kDelimiterLf).output;
  auto counters = [&] { const std::string r = WithoutMemoryFigure(ReadFile(folder.File("SortStat.txt"))); return r.substr(r.find(" Number of Records")); };
  ASSERT_EQ(RunJob(job), 0) << ErrorText;
  const std::string report = counters();
  for (uint32_t partRecords : {0u, 997u}) {
    for (int threads : {1, 3}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, parts of " << partRecords);
      SetExternalLimitsForTesting(partRecords, 2);
      Streams several({folder.File("a.txt"), folder.File("b.txt"), folder.File("c.txt")}, kRunSort, 0, threads);
      EXPECT_EQ(RunJob(job, &several.options), 0) << ErrorText;
      EXPECT_TRUE(ReadFile(folder.File("out.txt")) == expected);
      EXPECT_EQ(counters(), report);
#ifndef _WIN32
      for (bool inSequence : {false, true}) {  // a file, read where it lies; a pipe, read in sequence
        Streams standard({"-"}, kRunSort, 0, threads);
        const int saved = dup(0);
        ASSERT_EQ(dup2(open(folder.File("whole.txt").c_str(), O_RDONLY), 0), 0);
        SetStandardInputInSequenceForTesting(inSequence);
        EXPECT_EQ(RunJob(job, &standard.options), 0) << ErrorText;
        SetStandardInputInSequenceForTesting(false);
        dup2(saved, 0);
        close(saved);
        EXPECT_TRUE(ReadFile(folder.File("out.txt")) == expected);
        EXPECT_EQ(counters(), report);
      }
#endif
    }
  }
  SetExternalLimitsForTesting(0, 0);
  SetClockForTesting(nullptr, nullptr);
  DelimiterMode = kDelimiterBoth;
}

#ifndef _WIN32
// Standard output in a regular file takes the records where it stands, at offsets from there
// on every thread, and is left at their end; opened to append it is written in sequence.
TEST(SortRunStreams, StandardOutputInAFileStartsWhereItStandsAndEndsAtItsEnd) {
  TempFolder folder;
  std::mt19937_64 random(23);
  const std::vector<std::string> lines = Lines(random, 40000, "\r\n");  // past one output task on a pool
  WriteFile(folder.File("in.txt"), Joined(lines, 0, lines.size()));
  const ParameterRecord job = MakeJob(folder.File("in.txt"), "-", kVariableRecords, {KeyField{1, 4, 'a', 'a', 0}});
  const std::string sorted = ExpectRun(Joined(lines, 0, lines.size()), job, kDelimiterBoth).output;
  for (int flags : {O_WRONLY, O_WRONLY | O_APPEND}) {
    WriteFile(folder.File("out.txt"), "head");
    const int saved = dup(1), out = open(folder.File("out.txt").c_str(), flags);
    lseek(out, 4, SEEK_SET);
    dup2(out, 1);
    RunOptions options = MakeOptions(2);
    options.streams.standardOutput = 1;
    const int result = RunJob(job, &options);
    EXPECT_EQ(write(1, "tail", 4), 4);
    dup2(saved, 1);
    close(saved);
    close(out);
    EXPECT_EQ(result, 0) << ErrorText;
    EXPECT_TRUE(ReadFile(folder.File("out.txt")) == "head" + sorted + "tail") << flags;
  }
}
#endif

// A merge of sorted parts is the sort of the whole; a part out of key order is named with
// its record and byte, the output left as it was. Unique keeps the first of each key, sorted
// or merged; a check finds the model's first record out of order, or none.
TEST(SortRunStreams, MergeUniqueAndCheckFollowTheModel) {
  TempFolder folder;
  std::mt19937_64 random(22);
  const std::vector<std::string> lines = Lines(random, 2500, "\r\n");
  const std::string whole = Joined(lines, 0, lines.size());
  const ParameterRecord job = MakeJob(folder.File("whole.txt"), folder.File("out.txt"), kVariableRecords, {KeyField{1, 2, 'c', 'a', 0}});
  const std::vector<std::string> sorted = SortedLines(whole, job, kDelimiterBoth);
  std::vector<std::string> unique;  // the first line of each key in the sorted order, which keeps input order
  for (const std::string &line : sorted) {
    if (unique.empty() || FirstOutOfOrder({unique.back(), line}, job, true) == 0) unique.push_back(line);
  }
  std::vector<std::string> parts;
  for (size_t p = 0; p < 3; p++) {
    parts.push_back(folder.File("part" + std::to_string(p) + ".txt"));
    const std::vector<std::string> part = SortedLines(Joined(lines, p * 800, p == 2 ? lines.size() : p * 800 + 800), job, kDelimiterBoth);
    WriteFile(parts.back(), Joined(part, 0, part.size()));
  }
  WriteFile(folder.File("whole.txt"), whole);
  WriteFile(folder.File("sorted.txt"), Joined(sorted, 0, sorted.size()));
  std::vector<std::string> nearly = sorted, both = sorted;
  size_t swap = 1000;  // a place where two neighbours differ
  while (FirstOutOfOrder({sorted[swap - 1], sorted[swap]}, job, true) != 0) swap++;
  std::swap(nearly[swap - 1], nearly[swap]);
  both.insert(both.end(), lines.begin(), lines.end());
  WriteFile(folder.File("nearly.txt"), Joined(nearly, 0, nearly.size()));
  const struct {
    std::vector<std::string> inputs;
    int action, unique, threads;
    uint32_t partRecords;
    std::string output;  // what the run leaves; for a check, its finding
  } rows[] = {
      {parts, kRunMerge, 0, 1, 0, Joined(sorted, 0, sorted.size())},
      {parts, kRunMerge, 1, 1, 0, Joined(unique, 0, unique.size())},
      {{folder.File("whole.txt")}, kRunSort, 1, 3, 0, Joined(unique, 0, unique.size())},
      {{folder.File("whole.txt")}, kRunSort, 1, 2, 997, Joined(unique, 0, unique.size())},
      {{parts[0], folder.File("whole.txt")}, kRunMerge, 0, 1, 0, "stale"},
      {{folder.File("sorted.txt")}, kRunCheck, 0, 1, 0, ""},
      {{folder.File("sorted.txt")}, kRunCheck, 1, 1, 0, "sorted.txt " + std::to_string(FirstOutOfOrder(sorted, job, true))},
      {{folder.File("nearly.txt")}, kRunCheck, 0, 1, 0, "nearly.txt " + std::to_string(FirstOutOfOrder(nearly, job, false))},
      {{folder.File("sorted.txt"), folder.File("whole.txt")}, kRunCheck, 0, 1, 0, "whole.txt " + std::to_string(FirstOutOfOrder(both, job, false) - sorted.size())},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << row.action << " " << row.unique << " " << row.inputs.size() << " inputs");
    WriteFile(job.outputName, "stale");
    Streams streams(row.inputs, row.action, row.unique, row.threads);
    SetExternalLimitsForTesting(row.partRecords, 2);
    RunOutcome outcome;
    const int result = RunJob(job, &streams.options, &outcome);
    SetExternalLimitsForTesting(0, 0);
    if (row.action == kRunCheck) {
      const std::string found = row.output.empty() ? "" : row.output.substr(0, row.output.find(' '));
      EXPECT_EQ(result, found.empty() ? 0 : 1);
      EXPECT_EQ(outcome.outOfOrder, found.empty() ? 0 : 1);
      const std::string named = found.empty() ? "" : " Record " + row.output.substr(found.size() + 1) + " at Byte ";
      EXPECT_TRUE(found.empty() || (std::string(ErrorText).find(named) != std::string::npos &&
                                    std::string(ErrorText).find(found + " Is Out of Key Order!") != std::string::npos))
          << ErrorText;
    } else {
      EXPECT_EQ(result, row.output == "stale" ? 1 : 0) << ErrorText;
      EXPECT_TRUE(ReadFile(job.outputName) == row.output);
      EXPECT_EQ(outcome.leftOut, row.unique ? sorted.size() - unique.size() : 0);
    }
  }
}
