#include "engine/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/sortrun.h"
#include "tests/support/model.h"

namespace {

struct Scanned {
  int result;
  uint32_t count;
  int longest;
  std::vector<uint32_t> offsets;
  std::vector<uint16_t> lengths;
  std::vector<std::string> keys;  // each record's key field bytes (first 4 stored bytes)
};

// A workspace for count lines keyed by the one field key, and its key plan.
void PrepareKeying(KeyField key, uint32_t count, SortWorkspace *ws, KeyPlan *plan) {
  const ParameterRecord job = MakeJob("", "", kVariableRecords, {key});
  EXPECT_EQ(AllocateWorkspace(ws, count, &job), 0);
  PrepareKeyPlan(job.keys, 1, true, plan);
}

int gTextsCut = 0;  // texts that SplitAtDelimiters cut into more than one range

// Pass 0, then (when it succeeds) pass 1 with one 4-byte 'a' key, over the bytes: whole,
// or (ranges > 1) cut by SplitAtDelimiters and scanned range by range as a pool does.
Scanned Scan(const std::string &bytes, int mode, uint32_t ranges = 1) {
  Scanned s;
  ScanTally tally = {0, 0};
  const unsigned char *data = reinterpret_cast<const unsigned char *>(bytes.data());
  std::vector<uint64_t> starts(ranges + 1);
  std::vector<uint32_t> counts;
  if (ranges == 1) {
    s.result = ScanRecords(0, data, bytes.size(), mode, &tally, nullptr);
    s.count = tally.recordCount;
    s.longest = tally.longestRecord;
  } else {
    const uint32_t cut = SplitAtDelimiters(data, bytes.size(), mode, ranges, starts.data());
    EXPECT_TRUE(cut >= 1 && cut <= ranges && starts[0] == 0 && starts[cut] == bytes.size());
    starts.resize(cut + 1);
    if (cut > 1) gTextsCut++;
    s.result = kScanGood;
    s.count = 0;
    s.longest = 0;
    for (uint32_t r = 0; r < cut && s.result == kScanGood; r++) {
      EXPECT_TRUE(starts[r] < starts[r + 1] || bytes.empty());
      s.result = ScanRecordRange(0, data, starts[r], starts[r + 1], mode, &tally, nullptr, 0, 0);
      counts.push_back(tally.recordCount);
      s.count += tally.recordCount;
      s.longest = std::max(s.longest, tally.longestRecord);
      tally.longestRecord = 0;
    }
  }
  if (s.result != kScanGood || s.count == 0) return s;
  SortWorkspace ws;
  KeyPlan plan;
  PrepareKeying(KeyField{1, 4, 'a', 'a'}, s.count, &ws, &plan);
  std::vector<unsigned char> scratch(1024, 0);
  ScanKeying keying = {&ws, &plan, scratch.data()};
  if (ranges == 1) {
    EXPECT_EQ(ScanRecords(1, data, bytes.size(), mode, &tally, &keying), kScanGood);
    EXPECT_EQ(tally.longestRecord, s.longest);
  } else {
    for (uint32_t r = 0, first = 0; r < counts.size(); first += counts[r], r++) {  // in reverse would do as well
      EXPECT_EQ(ScanRecordRange(1, data, starts[r], starts[r + 1], mode, &tally, &keying, first, counts[r]), kScanGood);
    }
  }
  for (uint32_t i = 0; i < s.count; i++) {
    s.offsets.push_back(ws.recordOffsets[i]);
    s.lengths.push_back(ws.recordLengths[i]);
    s.keys.push_back(std::string(reinterpret_cast<char *>(ws.keyArray + i * ws.keyLength), 4));
    EXPECT_EQ(ws.keyArray[i * ws.keyLength + 7], static_cast<unsigned char>(ws.recordOffsets[i]));
  }
  EXPECT_TRUE(std::all_of(scratch.begin(), scratch.end(), [](unsigned char b) { return b == 0; }));
  ReleaseWorkspace(&ws);
  return s;
}

// A scan as one line: "good", each record's offset+length and key field, the longest
// record; or the failure.
std::string Render(const Scanned &s) {
  if (s.result != kScanGood) return s.result == kScanDelimiterError ? "delimiter error" : "too long";
  std::string text = "good";
  for (uint32_t i = 0; i < s.count; i++) {
    text += " " + std::to_string(s.offsets[i]) + "+" + std::to_string(s.lengths[i]) + ":" + s.keys[i].c_str();
  }
  return text + " longest " + std::to_string(s.longest);
}

// The same line from the model's cutter (tests/support/model.h).
std::string RenderModel(const std::string &bytes, int mode) {
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
    const int mode = std::get<0>(row);
    const std::string &text = std::get<1>(row);
    SCOPED_TRACE(std::get<2>(row));
    EXPECT_EQ(Render(Scan(text, mode)), std::get<2>(row));
    EXPECT_EQ(Render(Scan(text, mode, 3)), std::get<2>(row));
    EXPECT_EQ(RenderModel(text, mode), std::get<2>(row));
  }
}

TEST(ScanRecords, PassOneThatDisagreesWithPassZeroReportsAChange) {
  SortWorkspace ws;
  KeyPlan plan;
  PrepareKeying(KeyField{1, 2, 'c', 'a'}, 2, &ws, &plan);
  std::vector<unsigned char> scratch(1024, 0);
  ScanKeying keying = {&ws, &plan, scratch.data()};
  ScanTally tally = {0, 0};
  const std::string more = "a\nb\nc\n", fewer = "a\n", tooLong = "a\n" + std::string(261, 'x');
  for (const std::string &bytes : {more, fewer, tooLong}) {
    EXPECT_EQ(ScanRecords(1, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), kDelimiterLf,
                          &tally, &keying),
              kScanChanged);
  }
  ReleaseWorkspace(&ws);
}

// Random texts dense in CR LF pairs (cut anywhere), stray CR and LF bytes, empty lines,
// unended last lines, records of up to 270 bytes and errors at any place: the scan of the
// whole text, and of the text cut into 2, 3 and 8 ranges as a pool scans it, give what the
// model's cutter gives.
TEST(ScanRecordRange, RangesAndTheWholeScanGiveTheModelsCut) {
  std::mt19937_64 random(4242);
  const char pieces[] = {'a', 'B', '\r', '\n'};
  int results[4] = {0, 0, 0, 0};
  for (int round = 0; round < 3000; round++) {
    const int mode = round % 3;
    std::string text;
    const size_t size = random() % 400;
    while (text.size() < size) {
      switch (random() % 16) {
        case 0: text += std::string(random() % 270, 'x'); break;  // a long record, maybe too long
        case 1: case 2: case 3: text += "\r\n"; break;
        case 4: case 5: text += pieces[2 + random() % 2]; break;
        default: text += pieces[random() % 2]; break;
      }
    }
    if (mode == kDelimiterBoth && random() % 2 == 0) {  // most texts of mode 0 well-formed
      std::string repaired;
      for (size_t i = 0; i < text.size(); i++) {
        repaired += text[i];
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) repaired += '\n';
      }
      text = repaired;
    }
    const std::string expected = RenderModel(text, mode);
    const Scanned whole = Scan(text, mode);
    results[whole.result]++;
    ASSERT_EQ(Render(whole), expected) << "round " << round;
    for (uint32_t ranges : {2u, 3u, 8u}) ASSERT_EQ(Render(Scan(text, mode, ranges)), expected) << ranges << " ranges";
  }
  EXPECT_GT(results[kScanGood], 500);  // every outcome is well represented
  EXPECT_GT(results[kScanDelimiterError], 200);
  EXPECT_GT(results[kScanTooLong], 200);
  EXPECT_GT(gTextsCut, 4000);  // of 9000
}
