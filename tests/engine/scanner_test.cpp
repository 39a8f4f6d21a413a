#include "engine/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "engine/sortrun.h"
#include "tests/support/model.h"

namespace {

// A scan as one line: "good", each record's offset+length and its first 4 stored bytes
// (a 4-byte 'a' key built in pass 1), the longest record; or the failure. The bytes are
// scanned whole, or (ranges > 1) cut by SplitAtDelimiters and scanned range by range as
// a pool does, pass 1 of the ranges in reverse.
std::string Scan(const std::string &bytes, int mode, uint32_t ranges = 1) {
  const std::string guarded = bytes + "Z";  // a byte past the end that no scan may take
  const unsigned char *data = reinterpret_cast<const unsigned char *>(guarded.data());
  std::vector<uint64_t> starts(ranges + 1, 0);
  starts[1] = bytes.size();
  const uint32_t cut = ranges == 1 ? 1 : SplitAtDelimiters(data, bytes.size(), mode, ranges, starts.data());
  EXPECT_TRUE(cut >= 1 && cut <= ranges && starts[0] == 0 && starts[cut] == bytes.size());
  std::vector<uint32_t> counts(cut), firsts(cut);
  ScanTally tally = {0, 0};
  uint32_t n = 0;
  int longest = 0, result = kScanGood;
  for (uint32_t r = 0; r < cut && result == kScanGood; r++) {
    EXPECT_TRUE(starts[r] < starts[r + 1] || bytes.empty());
    result = ranges == 1 ? ScanRecords(0, data, bytes.size(), mode, &tally, nullptr)
                         : ScanRecordRange(0, data, starts[r], starts[r + 1], mode, &tally, nullptr, 0, 0);
    firsts[r] = n;
    n += counts[r] = tally.recordCount;
    longest = std::max(longest, tally.longestRecord);
  }
  if (result != kScanGood) return result == kScanDelimiterError ? "delimiter error" : "too long";
  std::string text = "good";
  if (n > 0) {
    SortWorkspace ws;
    KeyPlan plan;
    const ParameterRecord job = MakeJob("", "", kVariableRecords, {KeyField{1, 4, 'a', 'a', 0}});
    PrepareKeyPlan(job.keys, 1, kVariableRecords, nullptr, false, nullptr, &plan);
    EXPECT_EQ(AllocateWorkspace(&ws, n, &plan), 0);
    std::vector<unsigned char> scratch(1024, 0);
    const ScanKeying keying = {&ws, &plan, scratch.data()};
    for (uint32_t r = cut; r-- > 0;) {
      EXPECT_EQ(ranges == 1 ? ScanRecords(1, data, bytes.size(), mode, &tally, &keying)
                            : ScanRecordRange(1, data, starts[r], starts[r + 1], mode, &tally, &keying, firsts[r], counts[r]),
                kScanGood);
    }
    for (uint32_t i = 0; i < n; i++) {
      text += " " + std::to_string(ws.recordOffsets[i]) + "+" + std::to_string(ws.recordLengths[i]) + ":" +
              std::string(reinterpret_cast<char *>(ws.keyArray + i * ws.keyLength), 4).c_str();
      EXPECT_EQ(ws.keyArray[i * ws.keyLength + 7], static_cast<unsigned char>(ws.recordOffsets[i]));
    }
    EXPECT_TRUE(std::all_of(scratch.begin(), scratch.end(), [](unsigned char b) { return b == 0; }));
    ReleaseWorkspace(&ws);
  }
  return text + " longest " + std::to_string(longest);
}

// The same line from the model's cutter (tests/support/model.h).
std::string CutByModel(const std::string &bytes, int mode) {
  std::vector<TextLine> lines;
  const int result = CutLines(bytes, mode, &lines);
  if (result != kScanGood) return result == kScanDelimiterError ? "delimiter error" : "too long";
  std::string text = "good";
  size_t longest = 0;
  for (const TextLine &line : lines) {
    text += " " + std::to_string(line.first) + "+" + std::to_string(line.last - line.first + 1) + ":" +
            line.stored.substr(0, 4).c_str();
    longest = std::max(longest, line.stored.size());
  }
  return text + " longest " + std::to_string(longest);
}

}  // namespace

// {mode, text -> records}: the delimiter ends a record, other CR and LF bytes stay inside
// its span and out of its key, empty lines make no record, an unended last line is one;
// mode 0 takes only CR LF; 260 stored bytes and 32767 in the span at most. The scan of the
// whole text, of ranges and the model's cutter all give the row.
TEST(ScanRecords, CutsOfTheWorkedCases) {
  const std::string x260(260, 'x'), x261(261, 'x');
  const std::string span = "a" + std::string(32765, '\n') + "b";  // 32767 bytes from a to b
  const std::tuple<int, std::string, std::string> rows[] = {
      {kDelimiterBoth, "AB\r\nCD\r\n", "good 0+2:AB 4+2:CD longest 2"},
      {kDelimiterCr, "AB\rCD\r", "good 0+2:AB 3+2:CD longest 2"},
      {kDelimiterLf, "AB\nCD\n", "good 0+2:AB 3+2:CD longest 2"},
      {kDelimiterBoth, "\r\n\r\nAB\r\n", "good 4+2:AB longest 2"},
      {kDelimiterBoth, "\n\r\nAB\r\n", "good 3+2:AB longest 2"},
      {kDelimiterCr, "\n\rAB\r", "good 2+2:AB longest 2"},
      {kDelimiterLf, "\r\nAB\n", "good 2+2:AB longest 2"},
      {kDelimiterBoth, "AB\rCD", "delimiter error"},
      {kDelimiterBoth, "AB\r\nCD\r", "delimiter error"},
      {kDelimiterBoth, "AB\r\nCDE", "good 0+2:AB 4+3:CDE longest 3"},
      {kDelimiterBoth, "AB\r\nC\nD", "good 0+2:AB 4+3:CD longest 2"},
      {kDelimiterLf, "only", "good 0+4:only longest 4"},
      {kDelimiterLf, "AB\r\nCD\r\n", "good 0+2:AB 4+2:CD longest 2"},
      {kDelimiterBoth, "xA\nBC\r\nD\r\n", "good 0+5:xABC 7+1:D longest 4"},
      {kDelimiterCr, "\nAB\rCD\r", "good 1+2:AB 4+2:CD longest 2"},
      {kDelimiterBoth, std::string("\xFF\x00\x1Az\r\n", 6), "good 0+4:\xFF longest 4"},
      {kDelimiterBoth, x260 + "\r\ny\r\n", "good 0+260:xxxx 262+1:y longest 260"},
      {kDelimiterBoth, x261 + "\r\n", "too long"},
      {kDelimiterLf, "a\n" + x261, "too long"},
      {kDelimiterCr, span + "\r", "good 0+32767:ab longest 2"},
      {kDelimiterCr, "z\r" + span + "c\r", "too long"},
      {kDelimiterCr, "x" + span + "\r", "too long"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::get<2>(row));
    EXPECT_EQ(Scan(std::get<1>(row), std::get<0>(row)), std::get<2>(row));
    EXPECT_EQ(Scan(std::get<1>(row), std::get<0>(row), 3), std::get<2>(row));
    EXPECT_EQ(CutByModel(std::get<1>(row), std::get<0>(row)), std::get<2>(row));
  }
}

// Each cut falls just after the first delimiter past its share of the bytes, never inside a
// CR LF pair; a share without a delimiter makes no cut.
TEST(SplitAtDelimiters, CutsJustAfterTheFirstDelimiterPastEachShare) {
  std::string lf, crlf;
  for (int i = 0; i < 8; i++) lf += "a\n", crlf += "a\r\n";
  const std::tuple<int, std::string, std::vector<uint64_t>> rows[] = {
      {kDelimiterLf, lf, {0, 6, 10, 14, 16}},
      {kDelimiterBoth, crlf, {0, 9, 15, 21, 24}},
      {kDelimiterLf, "abcdefghijklmno\n", {0, 16}},
  };
  for (const auto &row : rows) {
    const std::string &bytes = std::get<1>(row);
    std::vector<uint64_t> starts(5, 99);
    const uint32_t count = SplitAtDelimiters(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                                             std::get<0>(row), 4, starts.data());
    starts.resize(count + 1);
    EXPECT_EQ(starts, std::get<2>(row));
  }
}
