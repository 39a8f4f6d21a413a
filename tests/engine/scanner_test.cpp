#include "engine/scanner.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Pass 0, then (when it succeeds) pass 1 with one 4-byte 'a' key, over the bytes.
Scanned Scan(const std::string &bytes, int mode) {
  Scanned s;
  ScanTally tally = {0, 0};
  const unsigned char *data = reinterpret_cast<const unsigned char *>(bytes.data());
  s.result = ScanRecords(0, data, bytes.size(), mode, &tally, nullptr);
  s.count = tally.recordCount;
  s.longest = tally.longestRecord;
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
  EXPECT_EQ(ScanRecords(1, data, bytes.size(), mode, &tally, &keying), kScanGood);
  EXPECT_EQ(tally.longestRecord, s.longest);
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
