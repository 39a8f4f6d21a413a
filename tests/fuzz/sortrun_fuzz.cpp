// Fuzz target: the whole sort run on arbitrary bytes and arbitrary jobs, against a plain
// model. The data's first bytes choose the job, the rest (up to 4 KB) is the input file.
//   byte 0     record length: text lines mostly, small fixed lengths, 1024, and refused ones
//   byte 1     bits 0-1 delimiter mode, bits 2-3 key count - 1, bit 4 statistics,
//              bit 5 raw key fields (jobs the run must refuse), bit 6 key count 0 or 7 (bit 7)
//   4 bytes    per key: position, length, type, sequence
// A successful run must have written exactly what the reference sort gives; text lines are
// cut by a plain reimplementation of the scanner's rules, written from its header. A failed
// run must name a reason the model expects, leave the output empty and the input intact.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "engine/keys.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "tests/support/reference.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

constexpr size_t kMaxInput = 4096;  // bytes of input: enough for 4096 one-byte records
const int32_t kRecordLengths[16] = {-1, -1, -1, -1, 1, 1, 2, 3, 4, 7, 8, 16, 1024, 0, 4301, 2147483647};
const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";
const char kInvalidJob[] = "\n Invalid Sort Parameters!\n";

// A job the run must accept, by its documented limits.
bool JobIsValid(const ParameterRecord &job) {
  const bool variable = job.recordLength == kVariableRecords;
  if (!variable && (job.recordLength < 1 || job.recordLength > kMaxRecordLength)) return false;
  if (job.keyCount < 1 || job.keyCount > kMaxKeys) return false;
  int64_t total = 0;
  for (int k = 0; k < job.keyCount; k++) {
    const KeyField &key = job.keys[k];
    const std::string types = variable ? "ca" : "caiuf";
    if (key.position < 1 || key.length < 1 || types.find(key.type) == std::string::npos || key.type == '\0') return false;
    if (key.sequence != 'a' && key.sequence != 'd') return false;
    if (key.type == 'f' && key.length != 4 && key.length != 8) return false;
    if (!variable && int64_t{key.position} + key.length - 1 > job.recordLength) return false;
    total += key.length;
  }
  return !variable || total + kOffsetSuffixLength <= 1024;  // a text job's key fits the 1024-byte record buffer
}

ParameterRecord DecodeJob(FuzzReader *reader) {
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  CopyText(job.inputName, sizeof job.inputName, "in.dat");
  CopyText(job.outputName, sizeof job.outputName, "out.dat");
  for (int k = 0; k < kMaxKeys; k++) snprintf(job.keyTitles[k], kKeyTitleSize, "Key %d:", k + 1);
  job.recordLength = kRecordLengths[reader->Byte() % 16];
  const uint8_t flags = reader->Byte();
  DelimiterMode = flags % 4 == 3 ? kDelimiterBoth : flags % 4;
  job.keyCount = 1 + (flags >> 2) % 4 % 3;
  job.statisticsFlag = (flags >> 4) & 1;
  const bool raw = (flags >> 5) & 1;
  const bool variable = job.recordLength == kVariableRecords;
  const int32_t span = job.recordLength > 0 && job.recordLength <= kMaxRecordLength ? job.recordLength : 8;
  for (int k = 0; k < job.keyCount; k++) {
    const uint8_t p = reader->Byte(), l = reader->Byte(), t = reader->Byte(), s = reader->Byte();
    KeyField &key = job.keys[k];
    if (raw) {
      key = KeyField{p - 16, l * 8 - 16, static_cast<char>(t), static_cast<char>(s)};
    } else if (variable) {
      key = KeyField{1 + p % 48, 1 + l % 24, "ca"[t % 2], s & 1 ? 'd' : 'a'};
    } else {
      const int32_t position = 1 + p % span;
      const int32_t room = span - position + 1;
      key = KeyField{position, 1 + l % room, "caiuf"[t % 5], s & 1 ? 'd' : 'a'};
      if (key.type == 'f') {
        if (room >= 4) key.length = (t & 0x80) && room >= 8 ? 8 : 4;
        else key.type = 'u';
      }
    }
  }
  if (raw && ((flags >> 6) & 1)) job.keyCount = (flags >> 7) ? 7 : 0;
  return job;
}

// One text line as the scanner is described to cut it.
struct TextLine {
  size_t first;        // offset of its first stored byte
  size_t last;         // offset of its last stored byte
  std::string stored;  // its bytes other than CR and LF
};

// Cuts bytes into lines: the delimiter ends a line, other CR and LF bytes are never stored
// but stay inside a line's span, empty lines make no record. Returns kScanGood,
// kScanDelimiterError or kScanTooLong.
int CutLines(const std::string &bytes, int mode, std::vector<TextLine> *lines) {
  const char delimiter = mode == kDelimiterLf ? '\n' : '\r';
  TextLine open = {0, 0, ""};
  for (size_t i = 0; i < bytes.size(); i++) {
    const char c = bytes[i];
    if (c == delimiter) {
      if (mode == kDelimiterBoth) {
        if (i + 1 == bytes.size() || bytes[i + 1] != '\n') return kScanDelimiterError;
        i++;
      }
      if (!open.stored.empty()) lines->push_back(open);
      open.stored.clear();
    } else if (c != '\r' && c != '\n') {
      if (open.stored.empty()) open.first = i;
      open.stored += c;
      open.last = i;
      if (open.stored.size() > kLongestStoredRecord) return kScanTooLong;
    }
  }
  if (!open.stored.empty()) lines->push_back(open);
  return kScanGood;
}

std::string ExpectedTextOutput(const std::string &bytes, const std::vector<TextLine> &lines, const ParameterRecord &job) {
  KeyPlan plan;
  PrepareKeyPlan(job.keys, job.keyCount, true, &plan);
  ReferenceKeys keys;
  keys.keyLength = plan.keyLength;
  keys.bytes.resize(lines.size() * plan.keyLength);
  for (size_t i = 0; i < lines.size(); i++) {
    std::vector<unsigned char> record(plan.reach + kLongestStoredRecord, 0);
    memcpy(record.data(), lines[i].stored.data(), lines[i].stored.size());
    BuildVariableKey(&plan, record.data(), static_cast<uint32_t>(lines[i].first), keys.bytes.data() + i * plan.keyLength);
  }
  std::string output;
  for (uint32_t i : ReferenceSort(keys).order) {
    output += bytes.substr(lines[i].first, lines[i].last - lines[i].first + 1) + "\r\n";
  }
  return output;
}

// What the model expects of a run.
struct Expected {
  bool mayFail;         // a failed run is correct
  bool maySucceed;      // a successful run is correct, writing output
  std::string output;
  std::string message;  // a failed run's error text holds this; a successful one's is exactly it
};

Expected Model(const std::string &bytes, const ParameterRecord &job) {
  if (!JobIsValid(job)) return Expected{true, false, "", std::string(kInvalidJob) + kTerminated};
  if (job.recordLength != kVariableRecords) {
    const size_t length = static_cast<size_t>(job.recordLength);
    int64_t keyTotal = 0;
    for (int k = 0; k < job.keyCount; k++) keyTotal += job.keys[k].length;
    if (bytes.size() / length < 2) return Expected{true, false, "", "\n Only ONE Record in File - No Need to Sort!\n"};
    if (bytes.size() % length != 0) {  // a part record at the end is never dropped silently
      return Expected{true, false, "", "\n File Size NOT Equally Divisible by Record Length: in.dat!\n"};
    }
    if (keyTotal > job.recordLength) return Expected{true, false, "", "\n Total Length of Keys Specified > Record Length!\n"};
    return Expected{false, true, ExpectedFixedOutput(bytes, job), ""};
  }
  std::vector<TextLine> lines;
  const int cut = CutLines(bytes, DelimiterMode, &lines);
  if (cut == kScanDelimiterError) return Expected{true, false, "", "\n Record Delimeter Error in: in.dat!\n"};
  if (cut == kScanTooLong) return Expected{true, false, "", "\n Found Record Length > 256 Bytes in: in.dat!\n"};
  int64_t longest = 0;
  for (const TextLine &line : lines) longest = std::max<int64_t>(longest, line.stored.size());
  const std::string longestLine = "\n Longest Variable Record Length  = " + std::to_string(longest) + "\n";
  for (int k = 0; k < job.keyCount; k++) {
    if (job.keys[k].position > longest || int64_t{job.keys[k].position} + job.keys[k].length > longest + 8) {
      return Expected{true, false, "", longestLine};
    }
  }
  if (lines.size() < 2) return Expected{true, false, "", longestLine + "\n Only ONE Record in File - No Need to Sort!\n"};
  return Expected{false, true, ExpectedTextOutput(bytes, lines, job), longestLine};
}

// The one place that calls the engine; the lead adapts it when its interface changes.
int RunSort(const ParameterRecord &job) {
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, PrivateFolder().c_str());
  ClearErrorText();
  return SortRun(&job);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  FuzzReader reader = {data, size};
  const ParameterRecord job = DecodeJob(&reader);
  const std::string input = reader.Rest(kMaxInput);
  WriteWholeFile("in.dat", input);
  const Expected expected = Model(input, job);

  const int result = RunSort(job);

  const std::string errors = ErrorText;
  const std::string output = ReadWholeFile("out.dat");
  FUZZ_CHECK(ReadWholeFile("in.dat") == input, "the input is untouched");
  FUZZ_CHECK(strnlen(ErrorText, kErrorTextSize) < kErrorTextSize, "the error text is terminated inside its buffer");
  if (result == 0) {
    FUZZ_CHECK(expected.maySucceed, "only a run the model allows succeeds");
    FUZZ_CHECK(output == expected.output, "the output is what the reference sort gives");
    FUZZ_CHECK(errors == expected.message, "a successful run reports only the longest text line");
    if (job.statisticsFlag == 1) FUZZ_CHECK(StatisticsWritten == 1, "the statistics report is written");
  } else {
    FUZZ_CHECK(result == 1, "the result is 0 or 1");
    FUZZ_CHECK(expected.mayFail, "only a run the model refuses fails");
    FUZZ_CHECK(output.empty(), "a failed run leaves the output empty or unopened");
    FUZZ_CHECK(errors.size() >= strlen(kTerminated) && errors.compare(errors.size() - strlen(kTerminated),
                                                                      std::string::npos, kTerminated) == 0,
               "a failed run's error text ends with the termination line");
    FUZZ_CHECK(errors.find(expected.message) != std::string::npos, "a failed run names the reason the model expects");
    FUZZ_CHECK(expected.message != std::string(kInvalidJob) + kTerminated || errors == expected.message,
               "a refused job says nothing else");
    FUZZ_CHECK(StatisticsWritten == 0, "no report after a failed run");
  }
  return 0;
}
