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
#ifndef PELMAR_ENGINE_KEYS_H
#define PELMAR_ENGINE_KEYS_H

#include <cstdint>
#include <cstring>

#include "engine/sorttypes.h"

constexpr uint32_t kOffsetSuffixLength = 4;      // variable-length keys end in the record's start offset
constexpr uint32_t kWideOffsetSuffixLength = 8;  // the same for inputs of 4 GiB or more

// One key field, ready to encode.
struct KeyPlanField {
  uint32_t offset;  // 0-based byte offset of the field in the record
  uint32_t length;  // bytes
  char type;        // 'c', 'a', 'i', 'u' or 'f'
  bool descending;  // sequence 'd'
};

// The run's key table in the form the builders use.
struct KeyPlan {
  int fieldCount;                     // 1 to 6
  KeyPlanField fields[kMaxKeys];      // key order
  uint32_t keyLength;                 // T: the field lengths, plus the offset suffix when variable
  uint32_t reach;                     // bytes of the record that the fields cover (largest offset + length)
  bool variable;                      // variable-length records: 'c' and 'a' fields and the offset suffix
  uint32_t offsetLength;              // bytes of the offset suffix: 4, or 8 with wide offsets; 0 when fixed
};

// Builds the plan from the first keyCount keys (the caller has checked them). wideOffsets:
// variable-length keys end in 8 offset bytes instead of 4 (inputs of 4 GiB or more).
void PrepareKeyPlan(const KeyField *keys, int keyCount, bool variable, KeyPlan *plan, bool wideOffsets = false);

// Encodes the key of one fixed-length record; every field lies inside the record.
void BuildFixedKey(const KeyPlan *plan, const unsigned char *record, unsigned char *key);

// Encodes the key of one variable-length record. record holds the stored bytes followed by
// zero bytes up to at least plan->reach, so a field past a short record's end reads zeros.
// The last plan->offsetLength key bytes (4, or 8 with wide offsets) are startOffset, most
// significant first, never inverted: no two variable-length keys are equal, and equal
// fields keep input order in both sequences.
void BuildVariableKey(const KeyPlan *plan, const unsigned char *record, uint64_t startOffset,
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
