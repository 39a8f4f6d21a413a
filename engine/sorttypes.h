// Shared types of the sort parameters: the current parameter set, its keys and
// the 766-byte parameter record that stores a set and is also the job of a sort run.
// Every module that handles sort parameters uses these; the engine needs nothing else of ours.
#ifndef PELMAR_ENGINE_SORTTYPES_H
#define PELMAR_ENGINE_SORTTYPES_H

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
constexpr char kPathSeparator = '\\';  // between folder and file names in every path we build
#else
constexpr char kPathSeparator = '/';
#endif

// Separators in paths we are given. Windows takes '/' as well as '\\' ("sub/x.dat" names
// x.dat in sub): both end a folder name there.
inline bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// The last separator in path, or null.
inline const char *FindLastSeparator(const char *path) {
  const char *last = nullptr;
  for (; *path != '\0'; path++) {
    if (IsPathSeparator(*path)) last = path;
  }
  return last;
}

constexpr int kMaxKeys = 6;                 // keys per parameter set
constexpr int kNameSize = 256;              // file name buffer: at most 255 characters and a NUL
constexpr int kKeyTitleSize = 30;           // key title slot, in memory and in records
constexpr int kKeyTitleMaxLength = 25;      // characters of a key title
constexpr int kMaxRecordLength = 4300;      // longest fixed-length record, bytes
constexpr int32_t kVariableRecords = -1;    // record length that means "variable-length records"

// One sort key of a parameter set; 10 bytes in stored records.
struct KeyField {
  int32_t position;  // 1-based byte position of the field's first byte; 0 when the key is unused
  int32_t length;    // field length in bytes; 0 when unused
  char type;         // 'c' case-blind characters, 'a' bytes, 'i' signed, 'u' unsigned, 'f' real; ' ' unused
                     // (pelmar-sort's further types have letters of their own: engine/keys.h)
  char sequence;     // 'a' ascending, 'd' descending; ' ' unused
  int32_t field;     // pelmar-sort's, never stored: 0 for a byte position; N for a key in field N of
                     // the record, position then counting from the field's first byte
};

// The current sort parameter set.
struct SortParameters {
  char inputName[kNameSize];   // input file name, NUL-terminated
  char outputName[kNameSize];  // output file name, NUL-terminated
  int32_t recordLength;        // bytes per fixed-length record, or kVariableRecords
  int32_t keyCount;            // keys in use, counted from key 1 (0 to 6)
  int32_t statisticsFlag;      // 1: write the statistics file
  KeyField keys[kMaxKeys];     // key 1 first
};

// Stored layout of a ParameterRecord, byte offsets; integers little-endian.
constexpr size_t kParameterRecordSize = 766;
constexpr size_t kRecordMagicOffset = 0;      // "plm" and a NUL
constexpr size_t kRecordInputOffset = 4;      // 255 bytes
constexpr size_t kRecordOutputOffset = 259;   // 255 bytes
constexpr size_t kRecordNameSlot = 255;
constexpr size_t kRecordLengthOffset = 514;   // signed 32-bit
constexpr size_t kRecordKeyCountOffset = 518; // signed 32-bit
constexpr size_t kRecordStatisticsOffset = 522;
constexpr size_t kRecordKeysOffset = 526;     // six KeyFields of 10 bytes
constexpr size_t kRecordKeySlot = 10;
constexpr size_t kRecordTitlesOffset = 586;   // six titles of 30 bytes

// One parameter set with its key titles: what a parameter file stores per entry and
// what a sort run takes as its job. In memory every text is NUL-terminated.
struct ParameterRecord {
  char inputName[kNameSize];                // at most 255 characters
  char outputName[kNameSize];               // at most 255 characters
  int32_t recordLength;                     // bytes per record, or kVariableRecords
  int32_t keyCount;                         // keys in use, 1 to 6 in a valid job
  int32_t statisticsFlag;                   // 1: write the statistics file
  KeyField keys[kMaxKeys];                  // key 1 first
  char keyTitles[kMaxKeys][kKeyTitleSize];  // at most 25 characters each
};

// Copies at most capacity-1 bytes of text into slot and always terminates it;
// the rest of the slot is zero-filled, so no stale bytes follow the text.
void CopyText(char *slot, size_t capacity, const char *text);

// Writes the 766-byte stored form: magic, texts NUL-filled behind their end,
// integers little-endian. A name of 255 characters fills its slot without a NUL.
void EncodeParameterRecord(const ParameterRecord *record, unsigned char bytes[kParameterRecordSize]);

// Reads the stored form. Returns 0, or 1 when the magic is missing (record unchanged then).
// Whatever the bytes hold, every text comes out bounded to its slot and NUL-terminated;
// a title is cut to 25 characters.
int DecodeParameterRecord(const unsigned char bytes[kParameterRecordSize], ParameterRecord *record);

// Little-endian 32-bit integers in stored records.
void PutInt32(unsigned char *bytes, int32_t value);
int32_t GetInt32(const unsigned char *bytes);

#endif
