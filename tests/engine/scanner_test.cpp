#include "engine/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/sortrun.h"

namespace {

struct Scanned {
  int result;
  uint32_t count;
  int longest;
  std::vector<uint32_t> offsets;
  std::vector<uint16_t> lengths;
  std::vector<std::string> keys;  // each record's key field bytes (first 4 stored bytes)
};

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
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  job.recordLength = kVariableRecords;
  job.keyCount = 1;
  job.keys[0] = KeyField{1, 4, 'a', 'a'};
  SortWorkspace ws;
  EXPECT_EQ(AllocateWorkspace(&ws, s.count, &job), 0);
  KeyPlan plan;
  PrepareKeyPlan(job.keys, 1, true, &plan);
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

void ExpectSameScan(const Scanned &whole, const Scanned &cut) {
  ASSERT_EQ(cut.result, whole.result);
  if (whole.result != kScanGood) return;  // the run reads nothing else of a failed scan
  EXPECT_EQ(cut.count, whole.count);
  EXPECT_EQ(cut.longest, whole.longest);
  EXPECT_EQ(cut.offsets, whole.offsets);
  EXPECT_EQ(cut.lengths, whole.lengths);
  EXPECT_EQ(cut.keys, whole.keys);
}

}  // namespace

TEST(ScanRecords, CutsRecordsAtEachDelimiterMode) {
  Scanned both = Scan("AB\r\nCD\r\n", kDelimiterBoth);
  EXPECT_EQ(both.result, kScanGood);
  EXPECT_EQ(both.offsets, (std::vector<uint32_t>{0, 4}));
  EXPECT_EQ(both.lengths, (std::vector<uint16_t>{2, 2}));
  EXPECT_EQ(both.longest, 2);
  EXPECT_EQ(Scan("AB\rCD\r", kDelimiterCr).offsets, (std::vector<uint32_t>{0, 3}));
  EXPECT_EQ(Scan("AB\nCD\n", kDelimiterLf).offsets, (std::vector<uint32_t>{0, 3}));
}

TEST(ScanRecords, EmptyLinesMakeNoRecords) {
  Scanned s = Scan("\r\n\r\nAB\r\n", kDelimiterBoth);
  EXPECT_EQ(s.count, 1u);
  EXPECT_EQ(s.offsets, (std::vector<uint32_t>{4}));
  // Lines made only of CR or LF bytes other than the delimiter are empty too.
  EXPECT_EQ(Scan("\n\r\nAB\r\n", kDelimiterBoth).count, 1u);
  EXPECT_EQ(Scan("\n\rAB\r", kDelimiterCr).count, 1u);
  EXPECT_EQ(Scan("\r\nAB\n", kDelimiterLf).count, 1u);
}

TEST(ScanRecords, CrWithoutLfIsADelimiterErrorInModeZero) {
  EXPECT_EQ(Scan("AB\rCD", kDelimiterBoth).result, kScanDelimiterError);
  EXPECT_EQ(Scan("AB\r\nCD\r", kDelimiterBoth).result, kScanDelimiterError);
}

TEST(ScanRecords, RecordsOfUpTo260StoredBytes) {
  Scanned ok = Scan(std::string(260, 'x') + "\r\n" + "y\r\n", kDelimiterBoth);
  EXPECT_EQ(ok.result, kScanGood);
  EXPECT_EQ(ok.longest, 260);
  EXPECT_EQ(Scan(std::string(261, 'x') + "\r\n", kDelimiterBoth).result, kScanTooLong);
  EXPECT_EQ(Scan("a\n" + std::string(261, 'x'), kDelimiterLf).result, kScanTooLong);
}

TEST(ScanRecords, EveryByteButCrAndLfIsStored) {
  std::string line = std::string("\xFF\x00\x1A", 3) + "z";
  Scanned s = Scan(line + "\r\n" + line + "\r\n", kDelimiterBoth);
  EXPECT_EQ(s.count, 2u);
  EXPECT_EQ(s.keys[0], line);
}

TEST(ScanRecords, LastLineWithoutDelimiterIsARecord) {
  Scanned s = Scan("AB\r\nCDE", kDelimiterBoth);
  EXPECT_EQ(s.result, kScanGood);
  EXPECT_EQ(s.offsets, (std::vector<uint32_t>{0, 4}));
  EXPECT_EQ(s.lengths, (std::vector<uint16_t>{2, 3}));
  EXPECT_EQ(s.longest, 3);
  EXPECT_EQ(Scan("only", kDelimiterLf).count, 1u);
}

TEST(ScanRecords, StrayCrOrLfStaysInsideTheSpanButNotInTheKey) {
  // A CR LF file scanned with LF only: the CR before each LF ends the record's span.
  Scanned crlf = Scan("AB\r\nCD\r\n", kDelimiterLf);
  EXPECT_EQ(crlf.offsets, (std::vector<uint32_t>{0, 4}));
  EXPECT_EQ(crlf.lengths, (std::vector<uint16_t>{2, 2}));
  // An LF inside a CR LF record: copied with the record, skipped by its key.
  Scanned inner = Scan("xA\nBC\r\nD\r\n", kDelimiterBoth);
  EXPECT_EQ(inner.offsets, (std::vector<uint32_t>{0, 7}));
  EXPECT_EQ(inner.lengths, (std::vector<uint16_t>{5, 1}));
  EXPECT_EQ(inner.keys[0], "xABC");
  EXPECT_EQ(inner.longest, 4);
  // Stray bytes before the first stored byte are not part of the record.
  Scanned leading = Scan("\nAB\rCD\r", kDelimiterCr);
  EXPECT_EQ(leading.offsets, (std::vector<uint32_t>{1, 4}));
}

TEST(ScanRecords, SpanLongerThanTheLengthsCanHoldIsTooLong) {
  std::string record = "a" + std::string(32766, '\n') + "b\r";
  EXPECT_EQ(Scan(record, kDelimiterCr).result, kScanTooLong);
  std::string fits = "a" + std::string(32765, '\n') + "b\r";
  Scanned s = Scan(fits, kDelimiterCr);
  EXPECT_EQ(s.result, kScanGood);
  EXPECT_EQ(s.lengths, (std::vector<uint16_t>{32767}));
}

TEST(ScanRecords, PassOneThatDisagreesWithPassZeroReportsAChange) {
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  job.recordLength = kVariableRecords;
  job.keyCount = 1;
  job.keys[0] = KeyField{1, 2, 'c', 'a'};
  SortWorkspace ws;
  ASSERT_EQ(AllocateWorkspace(&ws, 2, &job), 0);
  KeyPlan plan;
  PrepareKeyPlan(job.keys, 1, true, &plan);
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

// Text cut into ranges, as a pool scans it, gives what the scan of the whole text gives, on
// texts dense in CR LF pairs (cut anywhere), stray CR and LF bytes, empty lines, unended
// last lines, records of up to 270 bytes and errors at any place.
TEST(ScanRecordRange, RangesGiveWhatTheWholeScanGives) {
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
    const Scanned whole = Scan(text, mode);
    results[whole.result]++;
    for (uint32_t ranges : {2u, 3u, 8u}) {
      SCOPED_TRACE("mode=" + std::to_string(mode) + " ranges=" + std::to_string(ranges) + " round=" + std::to_string(round));
      ExpectSameScan(whole, Scan(text, mode, ranges));
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(results[kScanGood], 500);  // every outcome is well represented
  EXPECT_GT(results[kScanDelimiterError], 200);
  EXPECT_GT(results[kScanTooLong], 200);
  EXPECT_GT(gTextsCut, 4000);  // of 9000
  // A record whose span nears the limit through stray bytes, cut by ranges around it.
  for (int extra : {0, 1}) {
    const std::string text = "x\r\na" + std::string(32765 + extra, '\n') + "b\r\nz\r\n";
    ExpectSameScan(Scan(text, kDelimiterCr), Scan(text, kDelimiterCr, 8));
  }
}
