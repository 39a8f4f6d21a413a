#include "engine/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/sortrun.h"
#include "tests/support/model.h"
#include "tests/support/tables.h"

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

// scans.txt's rows: each scan cut three ways, and the cuts of text into ranges.
TEST(ScanRecords, CutsOfTheWorkedCases) {
  PlayTable(PELMAR_ENGINE_DATA "scans.txt", 25, [](const TableRow &row) {
    const bool split = row.words[0] == "split";
    const std::vector<std::string> w(row.words.begin() + split, row.words.end());
    const int mode = w[0] == "cr" ? kDelimiterCr : w[0] == "lf" ? kDelimiterLf : kDelimiterBoth;
    ASSERT_TRUE(w.size() == 4 && w[2] == "->" && (mode != kDelimiterBoth || w[0] == "both")) << "no such row";
    if (split) {  // each range's first byte, then the size
      std::vector<uint64_t> starts(5, 99);
      starts.resize(1 + SplitAtDelimiters(reinterpret_cast<const unsigned char *>(w[1].data()), w[1].size(), mode, 4, starts.data()));
      std::string cuts;
      for (uint64_t start : starts) cuts += (cuts.empty() ? "" : " ") + std::to_string(start);
      EXPECT_EQ(cuts, w[3]);
      return;
    }
    EXPECT_EQ(Scan(w[1], mode), w[3]);
    EXPECT_EQ(Scan(w[1], mode, 3), w[3]);
    EXPECT_EQ(CutByModel(w[1], mode), w[3]);
  });
}
