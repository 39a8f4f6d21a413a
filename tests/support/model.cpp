#include "tests/support/model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/keys.h"
#include "engine/merge.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"

namespace {

struct QuicksortState {
  const ReferenceKeys *keys;
  std::vector<const unsigned char *> slots;  // key addresses, as the described work array holds them
  GroupCounters counters;
  uint64_t compares;
  uint32_t size;
};

int Compare(const QuicksortState &q, const unsigned char *a, const unsigned char *b) {
  return memcmp(a, b, q.keys->keyLength);
}

void Quicksort(QuicksortState &q, int first, int last) {
  q.counters.invocations++;
  if (q.counters.invocations > q.size) return;
  const unsigned char *pivot = q.slots[first];
  int lo = first;
  int hi = last;
  if (hi > lo) {
    for (;;) {
      while (Compare(q, q.slots[hi], pivot) >= 0 && hi > lo) {
        hi = hi - 1;
        q.compares++;
      }
      if (hi != lo) {
        q.slots[lo] = q.slots[hi];
        lo = lo + 1;
      }
      while (Compare(q, q.slots[lo], pivot) <= 0 && hi > lo) {
        lo = lo + 1;
        q.compares++;
      }
      if (hi != lo) {
        q.slots[hi] = q.slots[lo];
        hi = hi - 1;
      }
      if (!(hi > lo)) break;
    }
  }
  int p = lo;
  q.slots[p] = pivot;
  if (first == last) q.counters.returns++;
  if (p > first) {
    q.counters.loBranches++;
    Quicksort(q, first, p - 1);
  }
  if (p < last) {
    q.counters.hiBranches++;
    Quicksort(q, p + 1, last);
  }
}

// The described selection merge of sorted groups; *compares receives its compares.
std::vector<uint32_t> ReferenceMerge(const ReferenceKeys &keys, const std::vector<std::vector<uint32_t>> &groups,
                                     uint64_t *compares) {
  const size_t groupCount = groups.size();
  size_t n = 0;
  for (const auto &g : groups) n += g.size();
  std::vector<size_t> cursors(groupCount, 0);
  auto key = [&](uint32_t r) { return keys.bytes.data() + uint64_t{r} * keys.keyLength; };
  auto exhausted = [&](size_t g) { return cursors[g] == groups[g].size(); };
  std::vector<uint32_t> output;
  *compares = 0;
  uint32_t best = groups[0][0];
  size_t bestGroup = 0;
  for (;;) {  // MergeStep
    for (size_t g = 0; g < groupCount; g++) {
      if (exhausted(g) || g == bestGroup) continue;
      uint32_t head = groups[g][cursors[g]];
      if (memcmp(key(head), key(best), keys.keyLength) < 0) {
        best = head;
        bestGroup = g;
        (*compares)++;
      }
    }
    output.push_back(best);
    cursors[bestGroup]++;
    if (output.size() == n) return output;
    size_t lowest = 0;
    while (lowest < groupCount && exhausted(lowest)) lowest++;
    if (lowest == groupCount) return output;
    best = groups[lowest][cursors[lowest]];
    bestGroup = lowest;
  }
}

}  // namespace

uint64_t ReferenceGroupSort(const ReferenceKeys &keys, std::vector<uint32_t> *references, GroupCounters *counters) {
  QuicksortState q;
  q.keys = &keys;
  q.counters = GroupCounters{0, 0, 0, 0};
  q.compares = 0;
  q.size = static_cast<uint32_t>(references->size());
  for (uint32_t r : *references) q.slots.push_back(keys.bytes.data() + uint64_t{r} * keys.keyLength);
  if (q.size > 1) Quicksort(q, 0, static_cast<int>(q.size) - 1);
  for (size_t i = 0; i < q.slots.size(); i++) {
    (*references)[i] = static_cast<uint32_t>((q.slots[i] - keys.bytes.data()) / keys.keyLength);
  }
  *counters = q.counters;
  return q.compares;
}

ReferenceSortResult ReferenceSort(const ReferenceKeys &keys) {
  ReferenceSortResult result;
  result.sortCompares = 0;
  result.mergeCompares = 0;
  const uint32_t n = static_cast<uint32_t>(keys.bytes.size() / keys.keyLength);
  std::vector<std::vector<uint32_t>> groups;
  for (uint32_t start = 0; start < n; start += kSortGroupSize) {
    std::vector<uint32_t> group;
    for (uint32_t i = start; i < n && i < start + kSortGroupSize; i++) group.push_back(i);
    GroupCounters counters;
    result.sortCompares += ReferenceGroupSort(keys, &group, &counters);
    result.counters.push_back(counters);
    groups.push_back(group);
  }
  if (groups.size() == 1) {
    result.order = groups[0];
  } else {
    result.order = ReferenceMerge(keys, groups, &result.mergeCompares);
  }
  return result;
}


const char *ShapeName(int shape) {
  static const char *names[] = {"random", "few distinct", "ascending", "descending", "descending with ties",
                                "all equal", "nearly sorted", "organ pipe", "sawtooth", "long shared prefix"};
  return names[shape];
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
  for (auto &k : list) {
    if (shape == kFewDistinct || shape == kDescendingTies) k = palette[random() % palette.size()];
    else if (shape == kAllEqual) k = palette[0];
    else if (shape == kAscending) k = randomKey(3);
    else if (shape == kLongSharedPrefix) k = randomKey(2).replace(0, std::min<uint32_t>(keyLength, 8), std::min<uint32_t>(keyLength, 8), 'p');
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
  ReferenceKeys keys;
  keys.keyLength = keyLength;
  for (const auto &k : list) keys.bytes.insert(keys.bytes.end(), k.begin(), k.end());
  return keys;
}

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
      if (open.stored.size() > 260 || open.last - open.first + 1 > 32767) return kScanTooLong;
    }
  }
  if (!open.stored.empty()) lines->push_back(open);
  return kScanGood;
}

ParameterRecord MakeJob(const std::string &input, const std::string &output, int32_t recordLength,
                        const std::vector<KeyField> &keys) {
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

size_t DecodeJob(const uint8_t *data, size_t size, const std::string &input, const std::string &output,
                 ParameterRecord *job, int *mode) {
  static const int32_t kRecordLengths[16] = {-1, -1, -1, -1, 1, 1, 2, 3, 4, 7, 8, 16, 1024, 0, 4301, 2147483647};
  size_t taken = 0;
  auto byte = [&]() -> uint8_t { return taken < size ? data[taken++] : (taken++, 0); };
  *job = MakeJob(input, output, kRecordLengths[byte() % 16], {});
  const uint8_t flags = byte();
  *mode = flags % 4 == 3 ? kDelimiterBoth : flags % 4;
  job->keyCount = 1 + (flags >> 2) % 4 % 3;
  job->statisticsFlag = (flags >> 4) & 1;
  const bool raw = (flags >> 5) & 1;
  const bool variable = job->recordLength == kVariableRecords;
  const int32_t span = job->recordLength > 0 && job->recordLength <= kMaxRecordLength ? job->recordLength : 8;
  for (int k = 0; k < job->keyCount; k++) {
    const uint8_t p = byte(), l = byte(), t = byte(), s = byte();
    KeyField &key = job->keys[k];
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
  if (raw && ((flags >> 6) & 1)) job->keyCount = (flags >> 7) ? 7 : 0;
  return std::min(taken, size);
}

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

namespace {

const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";

// A refused run: before the output is opened (it stays as it was), or after (it is left empty).
ExpectedRun Refused(const std::string &text, bool outputOpened) {
  return ExpectedRun{1, text + kTerminated, outputOpened, "", ReferenceSortResult{}};
}

std::string Named(const char *what, const ParameterRecord &job) { return std::string(what) + job.inputName + "!\n"; }

}  // namespace

ExpectedRun ExpectRun(const std::string &bytes, const ParameterRecord &job, int mode) {
  if (!JobIsValid(job)) return Refused("\n Invalid Sort Parameters!\n", false);
  const char kOneRecord[] = "\n Only ONE Record in File - No Need to Sort!\n";
  KeyPlan plan;
  const bool variable = job.recordLength == kVariableRecords;
  PrepareKeyPlan(job.keys, job.keyCount, variable, &plan);
  ReferenceKeys keys;
  keys.keyLength = plan.keyLength;
  std::vector<std::string> records;  // each record as the output copies it, in input order
  std::string messages;
  if (!variable) {
    const size_t length = static_cast<size_t>(job.recordLength);
    int64_t keyTotal = 0;
    for (int k = 0; k < job.keyCount; k++) keyTotal += job.keys[k].length;
    if (bytes.size() / length < 2) return Refused(kOneRecord, true);
    if (bytes.size() % length != 0) return Refused(Named("\n File Size NOT Equally Divisible by Record Length: ", job), true);
    if (keyTotal > job.recordLength) return Refused("\n Total Length of Keys Specified > Record Length!\n", true);
    keys.bytes.resize(bytes.size() / length * plan.keyLength);
    for (size_t i = 0; i < bytes.size() / length; i++) {
      BuildFixedKey(&plan, reinterpret_cast<const unsigned char *>(bytes.data()) + i * length,
                    keys.bytes.data() + i * plan.keyLength);
      records.push_back(bytes.substr(i * length, length));
    }
  } else {
    std::vector<TextLine> lines;
    const int cut = CutLines(bytes, mode, &lines);
    if (cut == kScanDelimiterError) return Refused(Named("\n Record Delimeter Error in: ", job), false);
    if (cut == kScanTooLong) return Refused(Named("\n Found Record Length > 256 Bytes in: ", job), false);
    int64_t longest = 0;
    for (const TextLine &line : lines) longest = std::max<int64_t>(longest, line.stored.size());
    messages = "\n Longest Variable Record Length  = " + std::to_string(longest) + "\n";
    std::string past;
    for (int k = 0; k < job.keyCount; k++) {
      const std::string title = job.keyTitles[k];
      if (job.keys[k].position > longest) past += "\n Postion in " + title + " Key > Variable Record Length!\n";
      if (int64_t{job.keys[k].position} + job.keys[k].length > longest + 8) {
        past += "\n Postion + Length in " + title + " Key > Variable Record Length!\n";
      }
    }
    if (!past.empty()) return Refused(messages + past, false);
    if (lines.size() < 2) return Refused(messages + kOneRecord, true);
    keys.bytes.resize(lines.size() * plan.keyLength);
    for (size_t i = 0; i < lines.size(); i++) {
      std::vector<unsigned char> record(plan.reach + 261, 0);
      memcpy(record.data(), lines[i].stored.data(), lines[i].stored.size());
      BuildVariableKey(&plan, record.data(), static_cast<uint32_t>(lines[i].first), keys.bytes.data() + i * plan.keyLength);
      records.push_back(bytes.substr(lines[i].first, lines[i].last - lines[i].first + 1) + "\r\n");
    }
  }
  ExpectedRun expected{0, messages, true, "", ReferenceSort(keys)};
  for (uint32_t i : expected.sort.order) expected.output += records[i];
  return expected;
}
