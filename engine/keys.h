// Key encoding: every record becomes one key of T bytes, its key fields one after the
// other in key order, each encoded so that one unsigned byte-wise comparison (memcmp
// over T bytes) orders two records as all their keys ask.
// Call order: PrepareKeyPlan once per run, then BuildFixedKey or BuildVariableKey per record.
//
// Worked example: key 1 at position 1, length 3, 'c' ascending; key 2 at position 5,
// length 2, 'i' descending. The record 61 62 43 20 05 00 ("abC", a blank, then the
// 16-bit integer 5) gets the key 41 42 43 7F FA: "ABC" upper-cased; 00 05 (reversed),
// 80 05 (sign bit inverted), 7F FA (every byte inverted for descending).
//
// Real keys ('f', 4 or 8 bytes) do not invert their bytes for descending: a value whose
// adjusted sign bit comes out 0 is keyed by the bytes of its reciprocal instead, so that
// a larger magnitude gives a smaller key. Ascending 2.0 gives C0 00 00 00 and -0.5 gives
// 40 00 00 00 (the bytes of -2.0 with the sign bit cleared); descending 2.0 gives
// 3F 00 00 00 (the bytes of 0.5) and a zero 80 00 00 00.
//
// pelmar-sort's wider language (the Sort dialog and the parameter files know only the five
// letters above): big-endian binary, packed and zoned decimal, numbers written as text,
// and keys on a field of the record. Every number is keyed exactly, never through a binary
// float: a class byte (invalid 00, negative 01, zero 02, positive 03), then its digits,
// those of a negative number inverted so that a larger magnitude keys smaller.
// Descending inverts every byte of such a key, the class too.
//   pd, 2 bytes 12 3D (-123):   01 ED C0   (digits 1 2 3 inverted, the sign half cleared)
//   zd, 3 bytes F1 F2 C3 (+123): 03 01 02 03
//   za "-012" and " 12J" (-121): 01 09 09 08 07 and 01 09 08 07 08 (digits right-aligned)
//   n "-12.50" (6 characters):   01 7D ED AF FF  (exponent 128 + 2, digits 1 2 5, inverted)
// A pd, zd or za field that is not a valid number keys as its class 00 and its bytes: before
// every number ascending, after every number descending.
// A key on a field first copies the field's bytes (from its position-th byte, at most its
// length, zero-padded) and then encodes them as a key at a position would be.
#ifndef PELMAR_ENGINE_KEYS_H
#define PELMAR_ENGINE_KEYS_H

#include <cstdint>
#include <cstring>

#include "engine/sorttypes.h"

constexpr uint32_t kOffsetSuffixLength = 4;      // variable-length keys end in the record's start offset
constexpr uint32_t kWideOffsetSuffixLength = 8;  // the same for inputs of 4 GiB or more
constexpr uint32_t kIndexSuffixLength = 4;       // stable fixed-length keys end in the record's index
constexpr uint32_t kWholeRecord = UINT32_MAX;    // the reach of keys on a field: every stored byte

// pelmar-sort's further key types, each a letter of its own in KeyField.type.
constexpr char kTypeBigSigned = 'I';    // "bi": signed integer, most significant byte first
constexpr char kTypeBigUnsigned = 'U';  // "bu": unsigned integer, most significant byte first
constexpr char kTypeBigReal = 'F';      // "bf": IEEE real, most significant byte first
constexpr char kTypePacked = 'P';       // "pd": packed decimal
constexpr char kTypeZoned = 'Z';        // "zd": zoned decimal, digits in the low half of each byte
constexpr char kTypeZonedText = 'T';    // "za": zoned decimal in ASCII, sign leading or overpunched
constexpr char kTypeNumber = 'n';       // "n": a number written as text

// What a key type takes.
struct KeyTypeRule {
  char type;            // its letter in KeyField.type
  const char *name;     // as pelmar-sort's --key writes it
  int32_t mostLength;   // longest field in bytes; 0 for no limit but the record's
  bool evenLength;      // 'i' and 'u': an even length
  bool realLength;      // 'f' and "bf": a length of 4 or 8
  bool text;            // text lines take it, and so do keys on a field
  bool counted;         // fields that are not valid numbers are counted
  const char *meaning;  // what the field holds, for help texts
};

// The rule of the type named as --key writes it ("c", "bi", "pd" ...), or null.
const KeyTypeRule *FindKeyTypeByName(const char *name);

// The rule of a type letter, or null for a letter that is none.
const KeyTypeRule *FindKeyType(char type);

// Every rule, in the order help texts list them; count receives how many.
const KeyTypeRule *KeyTypeRules(int *count);

// Bytes of the key that a field of length bytes of type gives.
uint32_t KeyWidth(char type, uint32_t length);

// How a key on a field finds its field.
constexpr int kFieldsNone = 0;       // no key lies on a field
constexpr int kFieldsSeparated = 1;  // fields are separated by one byte
constexpr int kFieldsCsv = 2;        // comma-separated, RFC 4180 quoting within the record

// pelmar-sort's settings of the key language beyond the keys themselves (RunOptions).
struct KeySettings {
  int stable;               // 1: fixed-length keys end in the record's index, so equal keys keep input order
  int fieldMode;            // kFieldsNone, kFieldsSeparated or kFieldsCsv
  unsigned char separator;  // with kFieldsSeparated: the byte between fields
};

// One key field, ready to encode.
struct KeyPlanField {
  uint32_t offset;  // 0-based byte offset of the field in the record, or in its record field
  uint32_t length;  // bytes the key takes from the record
  uint32_t width;   // bytes of the key it gives (KeyWidth)
  uint32_t recordField;  // 0, or the 1-based field of the record the key lies in
  char type;        // the type letter
  bool descending;  // sequence 'd'
};

// The run's key table in the form the builders use.
struct KeyPlan {
  int fieldCount;                     // 1 to 6
  KeyPlanField fields[kMaxKeys];      // key order
  uint32_t keyLength;                 // T: the widths, plus the offset or index suffix
  uint32_t reach;                     // bytes of the record that the keys read: the largest offset + length,
                                      // or kWholeRecord when a key lies on a field
  uint32_t recordBytes;               // the lengths of the keys at a byte position, added up
  bool variable;                      // variable-length records: the offset suffix
  uint32_t offsetLength;              // bytes of the offset suffix: 4, or 8 with wide offsets; 0 when fixed
  uint32_t indexLength;               // bytes of the index suffix of stable fixed-length keys; 0 otherwise
  uint32_t recordLength;              // fixed-length records: bytes per record
  int fieldMode;                      // how keys on a field find it
  unsigned char separator;            // with kFieldsSeparated
  uint64_t *invalid;                  // per key: fields that were not valid numbers (added to at once by
                                      // every thread that builds keys); null: not counted
};

// Builds the plan from the first keyCount keys (the caller has checked them) of records of
// recordLength bytes (kVariableRecords: text lines). wideOffsets: variable-length keys end
// in 8 offset bytes instead of 4 (inputs of 4 GiB or more). settings may be null (none).
// invalid, unless null, receives per key the count of fields that were not valid numbers.
void PrepareKeyPlan(const KeyField *keys, int keyCount, int32_t recordLength, const KeySettings *settings,
                    bool wideOffsets, uint64_t *invalid, KeyPlan *plan);

// Encodes the key of one fixed-length record, record index of the input; every key at a
// byte position lies inside the record.
void BuildFixedKey(const KeyPlan *plan, const unsigned char *record, uint32_t index, unsigned char *key);

// Encodes the key of one variable-length record. record holds its stored bytes (stored of
// them) followed by zero bytes up to at least plan->reach, so a key past a short record's end
// reads zeros. The last plan->offsetLength key bytes (4, or 8 with wide offsets) are
// startOffset, most significant first, never inverted: no two variable-length keys are equal,
// and equal fields keep input order in both sequences.
void BuildVariableKey(const KeyPlan *plan, const unsigned char *record, uint32_t stored, uint64_t startOffset,
                      unsigned char *key);

// A key's first eight bytes as one big-endian number (zero-padded when T < 8): comparing two
// such numbers gives the order of the keys' first eight bytes.
inline uint64_t KeyPrefix(const unsigned char *key, uint32_t keyLength) {
  if (keyLength >= 8) {
    uint64_t bits;
    memcpy(&bits, key, 8);
    return __builtin_bswap64(bits);
  }
  uint64_t prefix = 0;
  for (uint32_t j = 0; j < keyLength; j++) prefix |= static_cast<uint64_t>(key[j]) << (56 - 8 * j);
  return prefix;
}

#endif
