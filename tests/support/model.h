// The plain model of a sort run that the differential tests and the fuzz target share:
// the group quicksort and the selection merge written step by step as the sort is
// described, the key encoding and the line cutter written from their rules, one generator
// of key and record shapes, the job check, and what a run must leave. Nothing here calls
// the run's own sorting, keying or scanning: they are what it is measured against.
#ifndef PELMAR_TESTS_SUPPORT_MODEL_H
#define PELMAR_TESTS_SUPPORT_MODEL_H

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/groupsort.h"
#include "engine/runoptions.h"
#include "engine/sorttypes.h"

// Keys of T bytes, key i at i * T; or, for pelmar-sort's wider keys, count records ordered
// by compare (negative: record a first), which the model decodes and compares as values.
struct ReferenceKeys {
  std::vector<unsigned char> bytes;
  uint32_t keyLength;
  std::function<int(uint32_t, uint32_t)> compare;  // set: orders the records instead of the bytes
  uint32_t count;                                  // with compare: the records
};

// The described quicksort of one group: sorts references in place, fills counters and
// returns the counted cursor advances.
uint64_t ReferenceGroupSort(const ReferenceKeys &keys, std::vector<uint32_t> *references, GroupCounters *counters);

// The whole described sort: groups of 997 sorted by ReferenceGroupSort, then joined by the
// selection merge (lowest key first, the lower group on ties), or the one group as it stands.
struct ReferenceSortResult {
  std::vector<uint32_t> order;
  std::vector<GroupCounters> counters;
  uint64_t sortCompares;
  uint64_t mergeCompares;
};
ReferenceSortResult ReferenceSort(const ReferenceKeys &keys);

enum KeyShape {
  kRandomBytes,       // every byte random
  kFewDistinct,       // a handful of distinct keys
  kAscending,         // sorted, ties possible
  kDescending,        // reverse sorted, distinct (short keys may give fewer than n)
  kDescendingTies,    // reverse sorted with runs of equal keys
  kAllEqual,
  kNearlySorted,      // sorted, then a few swaps
  kOrganPipe,         // ascending, then descending
  kSawtooth,          // short ascending runs
  kLongSharedPrefix,  // the first 8 bytes equal, the rest from a two-letter alphabet
  kShapeCount
};

// n keys (or records) of keyLength bytes in the given shape.
ReferenceKeys MakeKeys(int shape, uint32_t n, uint32_t keyLength, std::mt19937_64 &random);

// n text lines in a delimiter mode, letters from keys of the shape: 1 to width of them (all
// width for the shapes with ties), now and then a stray CR or LF (in the span, never in a
// key) or an empty line, the last line unended. strays > 0: strays to 5 * strays line
// breaks that are not delimiters after every line.
std::string MakeLines(int shape, uint32_t n, uint32_t width, int mode, std::mt19937_64 &random, int strays = 0);

// One text line as the scanner's header describes the cut.
struct TextLine {
  size_t first;        // offset of its first stored byte
  size_t last;         // offset of its last stored byte
  std::string stored;  // its bytes other than CR and LF
};

// Cuts bytes into lines in delimiter mode: the delimiter ends a line, other CR and LF bytes
// are never stored but stay inside a line's span, empty lines make no record. Returns
// kScanGood, kScanDelimiterError or kScanTooLong.
int CutLines(const std::string &bytes, int mode, std::vector<TextLine> *lines);

// The error text's closing line after every failed run.
extern const char kSortTerminated[];

// Run options: threads (0: the default), a reporter, the run files' folder (empty: the system's).
RunOptions MakeOptions(int threads, SortProgressFunction progress = nullptr, const std::string &temporary = "");

// Runs job with a cleared error text, with options (null: every default), its outcome into
// outcome (unless null); returns the run's result.
int RunJob(const ParameterRecord &job, const RunOptions *options = nullptr, RunOutcome *outcome = nullptr);

// A job with the default key titles "Key 1:" to "Key 6:".
ParameterRecord MakeJob(const std::string &input, const std::string &output, int32_t recordLength,
                        const std::vector<KeyField> &keys);

// Decodes a job from the front of data (past its end every byte reads 0):
//   byte 0     bits 0-3 record length: text lines mostly, small fixed lengths, 1024, and refused
//              ones; bits 4-5 how fields are found (none, ',', CSV, tab), bit 6 stable
//   byte 1     bits 0-1 delimiter mode, bits 2-3 key count - 1 (1 to 3, 4 to 6 with bits 6 and 7),
//              bit 4 statistics, bit 5 one raw field per key (mostly jobs the run refuses) and
//              then bit 6 key count 0 or 7 (bit 7)
//   4 bytes    per key: position, length, type, sequence (bit 7 of the sequence byte: a type
//              of pelmar-sort's wider language; bit 6: on a field, when fields are found)
// Sets *mode to the delimiter mode and *settings to pelmar-sort's; returns the bytes taken.
size_t DecodeJob(const uint8_t *data, size_t size, const std::string &input, const std::string &output,
                 ParameterRecord *job, int *mode, KeySettings *settings);

// The described key of a record (the types c, a, i, u and f), as the model reads the rules.
std::vector<unsigned char> DescribedKey(const ParameterRecord &job, const unsigned char *record);

// The order of two records (fixed-length, or a text line's stored bytes) by job's keys as
// the model reads them: the described types by their key bytes; pelmar-sort's by value, a
// field found by the settings first: numbers decoded exactly and compared as numbers (a pd,
// zd or za field that is no number before every number, by its bytes), big-endian integers
// and reals by value (-0 = 0, every NaN last). Descending reverses a key's order.
int CompareByKeys(const ParameterRecord &job, const KeySettings &settings, const std::string &a, const std::string &b);

// The model's check of a job of pelmar-sort's key language (the described types included).
bool JobIsValid(const ParameterRecord &job, const KeySettings &settings);

// What a run of job over the input bytes in delimiter mode must leave.
struct ExpectedRun {
  int result;                // 0 or 1
  std::string errorText;     // the error text, whole
  std::string output;        // the output file after a run that succeeds (a failed one leaves it as it was)
  ReferenceSortResult sort;  // the described sort of the records, when it succeeds
};
ExpectedRun ExpectRun(const std::string &bytes, const ParameterRecord &job, int mode,
                      const KeySettings &settings = KeySettings{0, kFieldsNone, 0});

// A statistics report but for its memory figure, which each path defines for itself.
std::string WithoutMemoryFigure(std::string report);

#endif
