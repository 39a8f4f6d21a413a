#include "tests/support/model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/errortext.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"

namespace {

struct QuicksortState {
  const ReferenceKeys *keys;
  std::vector<uint32_t> slots;  // the group's references, as the described work array holds them
  GroupCounters counters;
  uint64_t compares;
};

int Compare(const QuicksortState &q, uint32_t a, uint32_t b) {
  if (q.keys->compare) return q.keys->compare(a, b);
  const uint32_t t = q.keys->keyLength;
  return memcmp(q.keys->bytes.data() + uint64_t{a} * t, q.keys->bytes.data() + uint64_t{b} * t, t);
}

// The pivot is the range's first slot; the hole it leaves is filled from the right, the
// slot that empties from the left, and so on until the cursors meet.
void Quicksort(QuicksortState &q, int first, int last) {
  if (++q.counters.invocations > q.slots.size()) return;
  const uint32_t pivot = q.slots[first];
  int lo = first, hi = last;
  while (hi > lo) {
    for (; Compare(q, q.slots[hi], pivot) >= 0 && hi > lo; hi--) q.compares++;
    if (hi != lo) q.slots[lo++] = q.slots[hi];
    for (; Compare(q, q.slots[lo], pivot) <= 0 && hi > lo; lo++) q.compares++;
    if (hi != lo) q.slots[hi--] = q.slots[lo];
  }
  q.slots[lo] = pivot;
  if (first == last) q.counters.returns++;
  if (lo > first) q.counters.loBranches++, Quicksort(q, first, lo - 1);
  if (lo < last) q.counters.hiBranches++, Quicksort(q, lo + 1, last);
}

// The described selection merge of sorted groups: each step starts from the head of the
// lowest group with references left and counts every strictly smaller later head.
std::vector<uint32_t> ReferenceMerge(const ReferenceKeys &keys, const std::vector<std::vector<uint32_t>> &groups,
                                     uint64_t *compares) {
  QuicksortState q{&keys, {}, {}, 0};
  std::vector<size_t> cursors(groups.size(), 0);
  std::vector<uint32_t> output;
  for (;;) {
    size_t best = 0;
    while (best < groups.size() && cursors[best] == groups[best].size()) best++;
    if (best == groups.size()) return output;
    for (size_t g = best + 1; g < groups.size(); g++) {
      if (cursors[g] < groups[g].size() && Compare(q, groups[g][cursors[g]], groups[best][cursors[best]]) < 0) {
        best = g;
        (*compares)++;
      }
    }
    output.push_back(groups[best][cursors[best]++]);
  }
}

// A real field's key, its bytes most significant first: the value's own bits with the sign
// flipped (ascending) where that leaves the sign bit set, else the bits of its reciprocal in
// the field's own width, so that a larger magnitude keys smaller. Descending, a zero or NaN
// reciprocal keys after every positive value.
void RealKey(std::vector<unsigned char> &k, bool descending) {
  if (!descending) k[0] ^= 0x80;
  if (k[0] & 0x80) return;
  if (!descending) k[0] ^= 0x80;
  bool zeroOrNan;
  uint64_t bits = 0;
  for (unsigned char b : k) bits = bits << 8 | b;
  if (k.size() == 4) {
    float x, y;
    uint32_t narrow = static_cast<uint32_t>(bits);
    memcpy(&x, &narrow, 4);
    y = x == 0 || x != x ? x : 1 / x;
    zeroOrNan = y == 0 || y != y;
    memcpy(&narrow, &y, 4);
    bits = narrow;
  } else {
    double x, y;
    memcpy(&x, &bits, 8);
    y = x == 0 || x != x ? x : 1 / x;
    zeroOrNan = y == 0 || y != y;
    memcpy(&bits, &y, 8);
  }
  for (size_t j = 0; j < k.size(); j++) k[j] = static_cast<unsigned char>(bits >> (8 * (k.size() - 1 - j)));
  if (!descending || zeroOrNan) k[0] ^= 0x80;
}

// The key of one record: each field in key order ('c' raising a to z; integers and reals
// stored least significant byte first and keyed most significant first, 'i' with its sign
// bit flipped; descending inverts every byte but a real's).
}  // namespace

std::vector<unsigned char> DescribedKey(const ParameterRecord &job, const unsigned char *record) {
  std::vector<unsigned char> key;
  for (int f = 0; f < job.keyCount; f++) {
    const KeyField &field = job.keys[f];
    std::vector<unsigned char> k(record + field.position - 1, record + field.position - 1 + field.length);
    if (field.type == 'c') for (unsigned char &b : k) b = b >= 'a' && b <= 'z' ? b - 32 : b;
    if (strchr("iuf", field.type)) std::reverse(k.begin(), k.end());
    if (field.type == 'i') k[0] ^= 0x80;
    if (field.type == 'f') RealKey(k, field.sequence == 'd');
    else if (field.sequence == 'd') for (unsigned char &b : k) b ^= 0xFF;
    key.insert(key.end(), k.begin(), k.end());
  }
  return key;
}

namespace {

// A refused run: the output stays as it was.
ExpectedRun Refused(const std::string &text) { return ExpectedRun{1, text + kSortTerminated, "", ReferenceSortResult{}}; }

std::string Named(const char *what, const ParameterRecord &job) { return std::string(what) + job.inputName + "!\n"; }

}  // namespace

uint64_t ReferenceGroupSort(const ReferenceKeys &keys, std::vector<uint32_t> *references, GroupCounters *counters) {
  QuicksortState q{&keys, *references, GroupCounters{0, 0, 0, 0}, 0};
  if (q.slots.size() > 1) Quicksort(q, 0, static_cast<int>(q.slots.size()) - 1);
  *references = q.slots;
  *counters = q.counters;
  return q.compares;
}

ReferenceSortResult ReferenceSort(const ReferenceKeys &keys) {
  ReferenceSortResult result{{}, {}, 0, 0};
  const uint32_t n = keys.compare ? keys.count : static_cast<uint32_t>(keys.bytes.size() / keys.keyLength);
  std::vector<std::vector<uint32_t>> groups;
  for (uint32_t start = 0; start < n; start += kSortGroupSize) {
    std::vector<uint32_t> group;
    for (uint32_t i = start; i < n && i < start + kSortGroupSize; i++) group.push_back(i);
    result.counters.emplace_back();
    result.sortCompares += ReferenceGroupSort(keys, &group, &result.counters.back());
    groups.push_back(group);
  }
  result.order = groups.size() == 1 ? groups[0] : ReferenceMerge(keys, groups, &result.mergeCompares);
  return result;
}

ReferenceKeys MakeKeys(int shape, uint32_t n, uint32_t keyLength, std::mt19937_64 &random) {
  std::vector<std::string> list(n);
  auto randomKey = [&](int alphabet) {
    std::string key(keyLength, '\0');
    for (auto &c : key) c = static_cast<char>(alphabet == 256 ? random() % 256 : 'a' + random() % alphabet);
    return key;
  };
  std::vector<std::string> palette;
  for (int i = 2 + static_cast<int>(random() % 5); i > 0; i--) palette.push_back(randomKey(256));
  const uint32_t prefix = std::min<uint32_t>(keyLength, 8);
  for (auto &k : list) {
    if (shape == kFewDistinct || shape == kDescendingTies) k = palette[random() % palette.size()];
    else if (shape == kAllEqual) k = palette[0];
    else if (shape == kAscending) k = randomKey(3);
    else if (shape == kLongSharedPrefix) k = randomKey(2).replace(0, prefix, prefix, 'p');
    else k = randomKey(256);
  }
  if (shape == kAscending || shape == kNearlySorted) std::sort(list.begin(), list.end());
  if (shape == kDescending || shape == kDescendingTies) std::sort(list.rbegin(), list.rend());
  if (shape == kDescending) list.erase(std::unique(list.begin(), list.end()), list.end());
  for (int swaps = 0; shape == kNearlySorted && swaps < 3 && n > 1; swaps++) std::swap(list[random() % n], list[random() % n]);
  if (shape == kOrganPipe) {
    std::sort(list.begin(), list.begin() + n / 2);
    std::sort(list.begin() + n / 2, list.end(), std::greater<std::string>());
  }
  for (uint32_t start = 0; shape == kSawtooth && start < n; start += 37) {
    std::sort(list.begin() + start, list.begin() + std::min(n, start + 37));
  }
  ReferenceKeys keys{{}, keyLength, nullptr, 0};
  for (const auto &k : list) keys.bytes.insert(keys.bytes.end(), k.begin(), k.end());
  return keys;
}

std::string MakeLines(int shape, uint32_t n, uint32_t width, int mode, std::mt19937_64 &random, int strays) {
  const ReferenceKeys letters = MakeKeys(shape, n, width, random);
  const std::string end = mode == kDelimiterBoth ? "\r\n" : mode == kDelimiterCr ? "\r" : "\n";
  const char stray = mode == kDelimiterLf ? '\r' : '\n';
  const bool ties = shape == kAllEqual || shape == kFewDistinct || shape == kDescendingTies;
  std::string text;
  for (size_t at = 0; at < letters.bytes.size(); at += width) {
    std::string line;
    for (size_t j = 0, length = ties ? width : 1 + random() % width; j < length; j++) line += 'a' + letters.bytes[at + j] % 26;
    if (random() % 8 == 0) line.insert(random() % line.size(), 1, stray);
    text += line + end + (random() % 16 == 0 ? end : "");
    if (strays > 0) text += std::string(strays + random() % (4 * strays), stray);
  }
  return text + "unended";
}

int CutLines(const std::string &bytes, int mode, std::vector<TextLine> *lines) {
  const char delimiter = mode == kDelimiterLf ? '\n' : '\r';
  TextLine open = {0, 0, ""};
  for (size_t i = 0; i < bytes.size(); i++) {
    const char c = bytes[i];
    if (c == delimiter) {
      if (mode == kDelimiterBoth && (i + 1 == bytes.size() || bytes[++i] != '\n')) return kScanDelimiterError;
      if (!open.stored.empty()) lines->push_back(open);
      open.stored.clear();
    } else if (c != '\r' && c != '\n') {
      if (open.stored.empty()) open.first = i;
      open.stored += c;
      open.last = i;
      if (open.stored.size() > 260 || open.last - open.first + 1 > 32767) return kScanTooLong;
    }
  }
  if (!open.stored.empty()) lines->push_back(open);
  return kScanGood;
}

const char kSortTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";

RunOptions MakeOptions(int threads, SortProgressFunction progress, const std::string &temporary) {
  RunOptions options;
  memset(&options, 0, sizeof options);
  options.threads = threads;
  options.progress = progress;
  CopyText(options.temporaryFolder, sizeof options.temporaryFolder, temporary.c_str());
  return options;
}

int RunJob(const ParameterRecord &job, const RunOptions *options, RunOutcome *outcome) {
  ClearErrorText();
  return SortRun(&job, options, outcome);
}

ParameterRecord MakeJob(const std::string &input, const std::string &output, int32_t recordLength,
                        const std::vector<KeyField> &keys) {
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  CopyText(job.inputName, sizeof job.inputName, input.c_str());
  CopyText(job.outputName, sizeof job.outputName, output.c_str());
  job.recordLength = recordLength;
  job.keyCount = static_cast<int32_t>(keys.size());
  std::copy(keys.begin(), keys.end(), job.keys);
  for (int k = 0; k < kMaxKeys; k++) snprintf(job.keyTitles[k], kKeyTitleSize, "Key %d:", k + 1);
  return job;
}

size_t DecodeJob(const uint8_t *data, size_t size, const std::string &input, const std::string &output,
                 ParameterRecord *job, int *mode, KeySettings *settings) {
  static const int32_t kRecordLengths[16] = {-1, -1, -1, -1, 1, 1, 2, 3, 4, 7, 8, 16, 1024, 0, 4301, 2147483647};
  static const int kFieldModes[4] = {kFieldsNone, kFieldsSeparated, kFieldsCsv, kFieldsSeparated};
  size_t taken = 0;
  auto byte = [&]() -> uint8_t { return taken < size ? data[taken++] : (taken++, 0); };
  const uint8_t first = byte();
  *job = MakeJob(input, output, kRecordLengths[first % 16], {});
  *settings = KeySettings{first >> 6 & 1, kFieldModes[first >> 4 & 3], static_cast<unsigned char>((first >> 4 & 3) == 3 ? '\t' : ',')};
  const uint8_t flags = byte();
  *mode = flags % 4 == 3 ? kDelimiterBoth : flags % 4;
  const bool raw = (flags >> 5) & 1;
  job->keyCount = 1 + (flags >> 2) % 4 % 3 + (raw ? 0 : 3 * (flags >> 6 == 3));
  job->statisticsFlag = (flags >> 4) & 1;
  const bool variable = job->recordLength == kVariableRecords;
  const int32_t span = job->recordLength > 0 && job->recordLength <= kMaxRecordLength ? job->recordLength : 8;
  for (int k = 0; k < job->keyCount; k++) {
    const uint8_t p = byte(), l = byte(), t = byte(), s = byte();
    KeyField &key = job->keys[k];
    if (variable) {
      key = KeyField{1 + p % 48, 1 + l % 24, (s & 0x80 ? "caTn" : "ca")[t % (s & 0x80 ? 4 : 2)], s & 1 ? 'd' : 'a', 0};
    } else if (s & 0x80) {  // pelmar-sort's types; a length the type takes, or an 'a' key where none fits
      const int32_t position = 1 + p % span, room = span - position + 1;
      const char type = "caiufIUFPZTn"[t % 12];
      const int32_t most = strchr("fF", type) ? (t & 0x80 ? 8 : 4) : strchr("iu", type) ? 2 * (1 + l % 4) :
                           strchr("IU", type) ? 1 + l % 8 : type == 'P' ? 1 + l % 16 : type == 'n' ? 1 + l % 64 : 1 + l % 31;
      key = most <= room ? KeyField{position, most, type, s & 1 ? 'd' : 'a', 0} : KeyField{position, 1 + l % room, 'a', 'a', 0};
    } else {
      const int32_t position = 1 + p % span;
      const int32_t room = span - position + 1;
      key = KeyField{position, 1 + l % room, "caiuf"[t % 5], s & 1 ? 'd' : 'a', 0};
      if (key.type == 'f' && room >= 4) key.length = (t & 0x80) && room >= 8 ? 8 : 4;
      if (key.type == 'f' && room < 4) key.type = 'u';
    }
    if ((s & 0xC0) == 0xC0 && settings->fieldMode != kFieldsNone && strchr("caTn", key.type)) {  // on a field
      key.field = 1 + p % 4;
      key.position = 1 + (p >> 2) % 4;
    }
    if (raw) {  // one field as the bytes give it, so that each of the run's checks is met alone
      const int which = (p >> 6) % 4;
      if (which == 0) key.position = p % 64 * 4 - 16;
      if (which == 1) key.length = l * 8 - 16;
      if (which == 2) key.type = static_cast<char>(t);
      if (which == 3) key.sequence = static_cast<char>(s);
    }
  }
  if (raw && ((flags >> 6) & 1)) job->keyCount = (flags >> 7) ? 7 : 0;
  return std::min(taken, size);
}

ExpectedRun ExpectRun(const std::string &bytes, const ParameterRecord &job, int mode, const KeySettings &settings) {
  if (!JobIsValid(job, settings)) return Refused("\n Invalid Sort Parameters!\n");
  const char kOneRecord[] = "\n Only ONE Record in File - No Need to Sort!\n";
  const unsigned char *data = reinterpret_cast<const unsigned char *>(bytes.data());
  bool wide = settings.stable && job.recordLength != kVariableRecords;  // pelmar-sort's keys: by value
  for (int k = 0; k < job.keyCount; k++) wide = wide || job.keys[k].field > 0 || !strchr("caiuf", job.keys[k].type);
  ReferenceKeys keys{{}, 0, nullptr, 0};
  std::vector<std::string> records;  // each record as the output copies it, in input order
  std::vector<std::string> stored;   // what its keys read: the record, or a text line's stored bytes
  std::vector<size_t> ties;          // what decides among equal keys: a text line's offset, a stable record's index
  std::string messages;
  if (job.recordLength != kVariableRecords) {
    const size_t length = static_cast<size_t>(job.recordLength);
    int64_t keyTotal = 0;
    for (int k = 0; k < job.keyCount; k++) keyTotal += job.keys[k].field == 0 ? job.keys[k].length : 0;
    if (bytes.size() / length < 2) return Refused(kOneRecord);
    if (bytes.size() % length != 0) return Refused(Named("\n File Size NOT Equally Divisible by Record Length: ", job));
    if (keyTotal > job.recordLength) return Refused("\n Total Length of Keys Specified > Record Length!\n");
    for (size_t at = 0; at < bytes.size(); at += length) {
      if (!wide) {
        const std::vector<unsigned char> key = DescribedKey(job, data + at);
        keys.bytes.insert(keys.bytes.end(), key.begin(), key.end());
      }
      records.push_back(bytes.substr(at, length));
      stored.push_back(records.back());
      ties.push_back(settings.stable ? at / length : 0);
    }
  } else {
    std::vector<TextLine> lines;
    const int cut = CutLines(bytes, mode, &lines);
    if (cut == kScanDelimiterError) return Refused(Named("\n Record Delimeter Error in: ", job));
    if (cut == kScanTooLong) return Refused(Named("\n Found Record Length > 256 Bytes in: ", job));
    int64_t longest = 0;
    for (const TextLine &line : lines) longest = std::max<int64_t>(longest, line.stored.size());
    messages = "\n Longest Variable Record Length  = " + std::to_string(longest) + "\n";
    std::string past;
    for (int k = 0; k < job.keyCount; k++) {
      const std::string title = job.keyTitles[k];
      if (job.keys[k].field > 0) continue;  // a key on a field reads what its field holds
      if (job.keys[k].position > longest) past += "\n Postion in " + title + " Key > Variable Record Length!\n";
      if (int64_t{job.keys[k].position} + job.keys[k].length > longest + 8) {
        past += "\n Postion + Length in " + title + " Key > Variable Record Length!\n";
      }
    }
    if (!past.empty()) return Refused(messages + past);
    if (lines.size() < 2) return Refused(messages + kOneRecord);
    for (const TextLine &line : lines) {  // the stored bytes read zeros past their end; the offset closes the key
      std::vector<unsigned char> record(1100, 0);
      memcpy(record.data(), line.stored.data(), line.stored.size());
      const std::vector<unsigned char> key = wide ? std::vector<unsigned char>() : DescribedKey(job, record.data());
      keys.bytes.insert(keys.bytes.end(), key.begin(), key.end());
      for (int shift = 24; shift >= 0 && !wide; shift -= 8) keys.bytes.push_back(static_cast<unsigned char>(line.first >> shift));
      records.push_back(bytes.substr(line.first, line.last - line.first + 1) + "\r\n");
      stored.push_back(line.stored);
      ties.push_back(line.first);
    }
  }
  if (wide) {
    keys.count = static_cast<uint32_t>(records.size());
    keys.compare = [&](uint32_t a, uint32_t b) {
      const int order = CompareByKeys(job, settings, stored[a], stored[b]);
      return order != 0 ? order : (ties[a] > ties[b]) - (ties[a] < ties[b]);
    };
  } else {
    keys.keyLength = static_cast<uint32_t>(keys.bytes.size() / records.size());
  }
  ExpectedRun expected{0, messages, "", ReferenceSort(keys)};
  for (uint32_t i : expected.sort.order) expected.output += records[i];
  return expected;
}

std::string WithoutMemoryFigure(std::string report) {
  const size_t at = report.find(" Allocated Memory Usage:");
  if (at != std::string::npos) report.erase(at, report.find('\n', at) - at);
  return report;
}
