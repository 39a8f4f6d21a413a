#include "engine/keys.h"

#include <cmath>
#include <cstring>

void PrepareKeyPlan(const KeyField *keys, int keyCount, bool variable, KeyPlan *plan, bool wideOffsets) {
  memset(plan, 0, sizeof *plan);
  plan->fieldCount = keyCount;
  plan->variable = variable;
  for (int k = 0; k < keyCount; k++) {
    KeyPlanField *field = &plan->fields[k];
    field->offset = static_cast<uint32_t>(keys[k].position - 1);
    field->length = static_cast<uint32_t>(keys[k].length);
    field->type = keys[k].type;
    field->descending = keys[k].sequence == 'd';
    plan->keyLength += field->length;
    if (field->offset + field->length > plan->reach) plan->reach = field->offset + field->length;
  }
  if (variable) {
    plan->offsetLength = wideOffsets ? kWideOffsetSuffixLength : kOffsetSuffixLength;
    plan->keyLength += plan->offsetLength;
  }
}

// Types 'c' and 'a': the bytes in order, 'c' upper-casing a to z; descending inverts them.
static void EncodeCharacters(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const unsigned char flip = field->descending ? 0xFF : 0x00;
  if (field->type == 'c') {
    for (uint32_t j = 0; j < field->length; j++) {
      unsigned char b = source[j];
      if (static_cast<unsigned char>(b - 'a') < 26) b &= 0x5F;
      out[j] = b ^ flip;
    }
  } else if (flip == 0) {
    memcpy(out, source, field->length);
  } else {
    for (uint32_t j = 0; j < field->length; j++) out[j] = source[j] ^ flip;
  }
}

// Types 'i' and 'u': most significant byte first; 'i' inverts the sign bit;
// descending then inverts every byte.
static void EncodeInteger(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  for (uint32_t j = 0; j < length; j++) out[j] = source[length - 1 - j];
  if (field->type == 'i') out[0] ^= 0x80;
  if (field->descending) {
    for (uint32_t j = 0; j < length; j++) out[j] ^= 0xFF;
  }
}

// The reciprocal of a real in its own format, rounded to it; a zero or a NaN stays itself.
// Writes the result's bytes most significant first and tells whether it was zero or NaN.
static bool StoreReciprocal(const unsigned char *source, uint32_t length, unsigned char *out) {
  uint64_t bits = 0;
  for (uint32_t j = 0; j < length; j++) bits |= static_cast<uint64_t>(source[j]) << (8 * j);
  bool zeroOrNan;
  if (length == 4) {
    uint32_t narrow = static_cast<uint32_t>(bits);
    float x;
    memcpy(&x, &narrow, 4);
    float y = (x == 0.0f || std::isnan(x)) ? x : 1.0f / x;
    zeroOrNan = y == 0.0f || std::isnan(y);
    memcpy(&narrow, &y, 4);
    bits = narrow;
  } else {
    double x;
    memcpy(&x, &bits, 8);
    double y = (x == 0.0 || std::isnan(x)) ? x : 1.0 / x;
    zeroOrNan = y == 0.0 || std::isnan(y);
    memcpy(&bits, &y, 8);
  }
  for (uint32_t j = 0; j < length; j++) out[j] = static_cast<unsigned char>(bits >> (8 * (length - 1 - j)));
  return zeroOrNan;
}

// Type 'f', binary32 or binary64.
static void EncodeReal(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  for (uint32_t j = 0; j < length; j++) out[j] = source[length - 1 - j];
  if (!field->descending) out[0] ^= 0x80;
  if (out[0] & 0x80) return;  // ascending with sign 0, or descending with sign 1: the value's own bits
  bool zeroOrNan = StoreReciprocal(source, length, out);
  if (!field->descending) out[0] ^= 0x80;
  if (field->descending && zeroOrNan) out[0] ^= 0x80;  // zero after every positive value
}

void BuildFixedKey(const KeyPlan *plan, const unsigned char *record, unsigned char *key) {
  for (int k = 0; k < plan->fieldCount; k++) {
    const KeyPlanField *field = &plan->fields[k];
    const unsigned char *source = record + field->offset;
    switch (field->type) {
      case 'i':
      case 'u':
        EncodeInteger(field, source, key);
        break;
      case 'f':
        EncodeReal(field, source, key);
        break;
      default:
        EncodeCharacters(field, source, key);
        break;
    }
    key += field->length;
  }
}

void BuildVariableKey(const KeyPlan *plan, const unsigned char *record, uint64_t startOffset,
                      unsigned char *key) {
  for (int k = 0; k < plan->fieldCount; k++) {
    const KeyPlanField *field = &plan->fields[k];
    EncodeCharacters(field, record + field->offset, key);
    key += field->length;
  }
  for (uint32_t j = 0; j < plan->offsetLength; j++) {
    key[j] = static_cast<unsigned char>(startOffset >> (8 * (plan->offsetLength - 1 - j)));
  }
}
