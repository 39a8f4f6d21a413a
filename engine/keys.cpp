#include "engine/keys.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The first byte of a number's key.
static const unsigned char kInvalidClass = 0x00;   // pd, zd, za: not a valid number
static const unsigned char kNegativeClass = 0x01;
static const unsigned char kZeroClass = 0x02;
static const unsigned char kPositiveClass = 0x03;
static const int kExponentBias = 128;              // a text number's exponent byte: 128 + its exponent

static const KeyTypeRule kKeyTypes[] = {
    {'c', "c", 0, false, false, true, false, "characters, letters a to z counted as A to Z"},
    {'a', "a", 0, false, false, true, false, "bytes, as they are"},
    {'i', "i", 0, true, false, false, false, "signed integer, least significant byte first, an even length"},
    {'u', "u", 0, true, false, false, false, "unsigned integer, least significant byte first, an even length"},
    {'f', "f", 8, false, true, false, false, "IEEE real of 4 or 8 bytes, least significant byte first"},
    {kTypeBigSigned, "bi", 8, false, false, false, false, "signed integer of 1 to 8 bytes, most significant byte first"},
    {kTypeBigUnsigned, "bu", 8, false, false, false, false, "unsigned integer of 1 to 8 bytes, most significant byte first"},
    {kTypeBigReal, "bf", 8, false, true, false, false, "IEEE real of 4 or 8 bytes, most significant byte first"},
    {kTypePacked, "pd", 16, false, false, false, true, "packed decimal (COMP-3) of 1 to 16 bytes"},
    {kTypeZoned, "zd", 31, false, false, false, true, "zoned decimal of 1 to 31 bytes, digits in the low halves"},
    {kTypeZonedText, "za", 31, false, false, true, true, "zoned decimal in ASCII of 1 to 31 characters"},
    {kTypeNumber, "n", 64, false, false, true, false, "a number written as text, 1 to 64 characters"},
};

const KeyTypeRule *FindKeyTypeByName(const char *name) {
  for (const KeyTypeRule &rule : kKeyTypes) {
    if (strcmp(rule.name, name) == 0) return &rule;
  }
  return nullptr;
}

const KeyTypeRule *FindKeyType(char type) {
  for (const KeyTypeRule &rule : kKeyTypes) {
    if (rule.type == type) return &rule;
  }
  return nullptr;
}

const KeyTypeRule *KeyTypeRules(int *count) {
  *count = static_cast<int>(sizeof kKeyTypes / sizeof kKeyTypes[0]);
  return kKeyTypes;
}

uint32_t KeyWidth(char type, uint32_t length) {
  switch (type) {
    case kTypePacked:
    case kTypeZoned:
    case kTypeZonedText:
      return 1 + length;  // the class, then the digits (or an invalid field's bytes)
    case kTypeNumber:
      return 2 + (length + 1) / 2;  // the class, the exponent, then two digits a byte
    default:
      return length;
  }
}

void PrepareKeyPlan(const KeyField *keys, int keyCount, int32_t recordLength, const KeySettings *settings,
                    bool wideOffsets, uint64_t *invalid, KeyPlan *plan) {
  memset(plan, 0, sizeof *plan);
  plan->fieldCount = keyCount;
  plan->variable = recordLength == kVariableRecords;
  plan->recordLength = plan->variable ? 0 : static_cast<uint32_t>(recordLength);
  plan->invalid = invalid;
  if (settings != nullptr) {
    plan->fieldMode = settings->fieldMode;
    plan->separator = settings->separator;
  }
  for (int k = 0; k < keyCount; k++) {
    KeyPlanField *field = &plan->fields[k];
    field->offset = static_cast<uint32_t>(keys[k].position - 1);
    field->length = static_cast<uint32_t>(keys[k].length);
    field->width = KeyWidth(keys[k].type, field->length);
    field->recordField = static_cast<uint32_t>(keys[k].field);
    field->type = keys[k].type;
    field->descending = keys[k].sequence == 'd';
    plan->keyLength += field->width;
    if (field->recordField == 0) {
      plan->recordBytes += field->length;
      plan->reach = std::max(plan->reach, field->offset + field->length);
    } else if (plan->variable) {
      plan->reach = kWholeRecord;
    }
  }
  if (plan->variable) {
    plan->offsetLength = wideOffsets ? kWideOffsetSuffixLength : kOffsetSuffixLength;
  } else if (settings != nullptr && settings->stable) {
    plan->indexLength = kIndexSuffixLength;
  }
  plan->keyLength += plan->offsetLength + plan->indexLength;
}

// ---- The described types.

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

// Inverts count bytes: a descending key.
static void InvertBytes(unsigned char *bytes, uint32_t count) {
  for (uint32_t j = 0; j < count; j++) bytes[j] ^= 0xFF;
}

// Types 'i' and 'u': most significant byte first; 'i' inverts the sign bit;
// descending then inverts every byte.
static void EncodeInteger(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  for (uint32_t j = 0; j < length; j++) out[j] = source[length - 1 - j];
  if (field->type == 'i') out[0] ^= 0x80;
  if (field->descending) InvertBytes(out, length);
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

// ---- pelmar-sort's types. Each writes field->width bytes, ascending; the caller inverts
// them for descending. Those that count invalid fields return false for one.

// "bi" and "bu": the bytes as they stand, "bi" with its sign bit inverted.
static void EncodeBigInteger(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  memcpy(out, source, field->length);
  if (field->type == kTypeBigSigned) out[0] ^= 0x80;
}

// "bf": the value's bits, sign bit inverted when clear and every bit inverted when set, so
// that the order is numeric from -infinity to +infinity; -0 keys as 0, and every NaN as all
// ones, after +infinity.
static void EncodeBigReal(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  uint64_t bits = 0;
  for (uint32_t j = 0; j < length; j++) bits = bits << 8 | source[j];
  const int exponentBits = length == 4 ? 8 : 11;
  const uint64_t sign = uint64_t{1} << (8 * length - 1);
  const uint64_t magnitude = bits & (sign - 1);
  const uint64_t infinity = ((uint64_t{1} << exponentBits) - 1) << (8 * length - 1 - exponentBits);
  if (magnitude > infinity) {
    memset(out, 0xFF, length);
    return;
  }
  if (magnitude == 0) bits = 0;
  bits = (bits & sign) != 0 ? ~bits : bits | sign;
  for (uint32_t j = 0; j < length; j++) out[j] = static_cast<unsigned char>(bits >> (8 * (length - 1 - j)));
}

// A field that is not a valid number: its class, then its bytes as they stand.
static bool EncodeInvalid(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  out[0] = kInvalidClass;
  memcpy(out + 1, source, field->length);
  memset(out + 1 + field->length, 0, field->width - 1 - field->length);
  return false;
}

// digits[0, count) (0 to 9 each) of a decimal number with a fixed digit count: the class,
// then one digit a byte, 9 - the digit for a negative number; a zero keys alike either way.
static void PutDigits(const unsigned char *digits, uint32_t count, bool negative, unsigned char *out) {
  bool zero = true;
  for (uint32_t j = 0; j < count; j++) zero = zero && digits[j] == 0;
  out[0] = zero ? kZeroClass : negative ? kNegativeClass : kPositiveClass;
  for (uint32_t j = 0; j < count; j++) out[1 + j] = zero ? 0 : negative ? 9 - digits[j] : digits[j];
}

// "pd": two digits a byte, the last half-byte the sign (B and D negative, A C E F positive).
// Its digits key as they stand, two a byte (a negative number's inverted), the sign's half
// cleared.
static bool EncodePacked(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  const unsigned sign = source[length - 1] & 0x0F;
  bool zero = true;
  for (uint32_t j = 0; j < length; j++) {
    const unsigned high = source[j] >> 4, low = source[j] & 0x0F;
    if (high > 9 || (j + 1 < length && low > 9)) return EncodeInvalid(field, source, out);
    zero = zero && high == 0 && (j + 1 == length || low == 0);
  }
  if (sign < 0x0A) return EncodeInvalid(field, source, out);
  const bool negative = sign == 0x0B || sign == 0x0D;
  out[0] = zero ? kZeroClass : negative ? kNegativeClass : kPositiveClass;
  for (uint32_t j = 0; j < length; j++) out[1 + j] = zero ? 0 : negative ? ~source[j] : source[j];
  out[length] &= 0xF0;
  return true;
}

// "zd": a digit in the low half of every byte, the sign in the high half of the last
// (D, B, 9, 7, 5, 3 and 1 negative: the odd halves but F).
static bool EncodeZoned(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  unsigned char digits[31];
  for (uint32_t j = 0; j < length; j++) {
    digits[j] = source[j] & 0x0F;
    if (digits[j] > 9) return EncodeInvalid(field, source, out);
  }
  const unsigned sign = source[length - 1] >> 4;
  PutDigits(digits, length, sign % 2 == 1 && sign != 0x0F, out);
  return true;
}

// The digit and sign an overpunched last character stands for: '{' and 'A' to 'I' +0 to +9,
// '}' and 'J' to 'R' -0 to -9, 'p' to 'y' -0 to -9. Returns the digit, or -1 for none.
static int Overpunch(unsigned char c, bool *negative) {
  *negative = c == '}' || (c >= 'J' && c <= 'R') || (c >= 'p' && c <= 'y');
  if (c == '{' || c == '}') return 0;
  if (c >= 'A' && c <= 'I') return c - 'A' + 1;
  if (c >= 'J' && c <= 'R') return c - 'J' + 1;
  if (c >= 'p' && c <= 'y') return c - 'p';
  return -1;
}

// "za": leading blanks (as zeros), an optional '+' or '-', ASCII digits, the last of them
// perhaps overpunched with the sign; zero bytes at the end (a short field's padding) are
// not part of it. The digits key right-aligned in the field's length.
static bool EncodeZonedText(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  uint32_t start = 0, end = length;
  while (start < length && source[start] == ' ') start++;
  while (end > start && source[end - 1] == 0) end--;
  bool negative = false;
  if (start < end && (source[start] == '+' || source[start] == '-')) negative = source[start++] == '-';
  unsigned char digits[31];
  const uint32_t pad = length - (end - start);
  memset(digits, 0, pad);
  for (uint32_t j = start; j < end; j++) {
    bool overpunchNegative = false;
    int digit = source[j] >= '0' && source[j] <= '9' ? source[j] - '0' : -1;
    if (digit < 0 && j + 1 == end) digit = Overpunch(source[j], &overpunchNegative);
    if (digit < 0) return EncodeInvalid(field, source, out);
    negative = negative || overpunchNegative;
    digits[pad + j - start] = static_cast<unsigned char>(digit);
  }
  PutDigits(digits, length, negative, out);
  return true;
}

// "n": blanks and tabs, an optional sign, digits, an optional '.' and fraction digits;
// whatever follows ends it, and no digits read as 0. Keyed exactly: the class, the exponent
// (the place of the first significant digit: 2 for 12.5, -1 for 0.01) plus 128, then the
// significant digits two a byte, zero-padded; a negative number's bytes after the class
// inverted.
static void EncodeNumber(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  const uint32_t length = field->length;
  uint32_t at = 0;
  while (at < length && (source[at] == ' ' || source[at] == '\t')) at++;
  bool negative = false;
  if (at < length && (source[at] == '+' || source[at] == '-')) negative = source[at++] == '-';
  while (at < length && source[at] == '0') at++;  // leading zeros say nothing
  const uint32_t integerStart = at;
  while (at < length && source[at] >= '0' && source[at] <= '9') at++;
  int exponent = static_cast<int>(at - integerStart);
  unsigned char digits[64];
  uint32_t count = 0;
  for (uint32_t j = integerStart; j < at; j++) digits[count++] = source[j] - '0';
  if (at < length && source[at] == '.') {
    for (at++; at < length && source[at] >= '0' && source[at] <= '9'; at++) {
      if (count == 0 && source[at] == '0') {
        exponent--;  // a zero before the first significant digit of a fraction
      } else {
        digits[count++] = source[at] - '0';
      }
    }
  }
  while (count > 0 && digits[count - 1] == 0) count--;
  memset(out, 0, field->width);
  if (count == 0) {
    out[0] = kZeroClass;
    return;
  }
  out[0] = negative ? kNegativeClass : kPositiveClass;
  out[1] = static_cast<unsigned char>(kExponentBias + exponent);
  for (uint32_t j = 0; j < count; j++) out[2 + j / 2] |= static_cast<unsigned char>(digits[j] << (j % 2 == 0 ? 4 : 0));
  if (negative) InvertBytes(out + 1, field->width - 1);
}

// Encodes one key field from its bytes. Returns false for a field that is not a valid number.
static bool EncodeField(const KeyPlanField *field, const unsigned char *source, unsigned char *out) {
  bool valid = true;
  switch (field->type) {
    case 'c':
    case 'a':
      EncodeCharacters(field, source, out);
      return true;
    case 'i':
    case 'u':
      EncodeInteger(field, source, out);
      return true;
    case 'f':
      EncodeReal(field, source, out);
      return true;
    case kTypeBigSigned:
    case kTypeBigUnsigned:
      EncodeBigInteger(field, source, out);
      break;
    case kTypeBigReal:
      EncodeBigReal(field, source, out);
      break;
    case kTypePacked:
      valid = EncodePacked(field, source, out);
      break;
    case kTypeZoned:
      valid = EncodeZoned(field, source, out);
      break;
    case kTypeZonedText:
      valid = EncodeZonedText(field, source, out);
      break;
    default:
      EncodeNumber(field, source, out);
      break;
  }
  if (field->descending) InvertBytes(out, field->width);
  return valid;
}

// ---- Keys on a field of the record.

// Where field number (1-based) of bytes[0, size) begins and ends, fields separated by one byte.
// A missing field is empty, at the end.
static void FindSeparatedField(const unsigned char *bytes, uint32_t size, unsigned char separator, uint32_t number,
                               uint32_t *begin, uint32_t *end) {
  uint32_t at = 0;
  for (uint32_t f = 1; f < number; f++) {
    const void *next = memchr(bytes + at, separator, size - at);
    if (next == nullptr) {
      *begin = *end = size;
      return;
    }
    at = static_cast<uint32_t>(static_cast<const unsigned char *>(next) - bytes) + 1;
  }
  const void *next = memchr(bytes + at, separator, size - at);
  *begin = at;
  *end = next == nullptr ? size : static_cast<uint32_t>(static_cast<const unsigned char *>(next) - bytes);
}

// The end of the CSV field that begins at at: its closing comma, or size. A field that
// begins with a double quote runs to the quote that closes it ("" inside is one quote),
// then on to the comma.
static uint32_t EndOfCsvField(const unsigned char *bytes, uint32_t size, uint32_t at) {
  if (at < size && bytes[at] == '"') {
    for (at++; at < size; at++) {
      if (bytes[at] != '"') continue;
      if (at + 1 < size && bytes[at + 1] == '"') {
        at++;
      } else {
        at++;
        break;
      }
    }
  }
  while (at < size && bytes[at] != ',') at++;
  return at;
}

// Copies the value of CSV field number from its skip-th byte on, at most length bytes, into
// out: a quoted field without its quotes and with "" as one quote. Returns the bytes copied.
static uint32_t CopyCsvField(const unsigned char *bytes, uint32_t size, uint32_t number, uint32_t skip, uint32_t length,
                             unsigned char *out) {
  uint32_t at = 0;
  for (uint32_t f = 1; f < number; f++) {
    at = EndOfCsvField(bytes, size, at);
    if (at == size) return 0;
    at++;
  }
  const uint32_t end = EndOfCsvField(bytes, size, at);
  const bool quoted = at < end && bytes[at] == '"';
  bool inQuotes = quoted;
  uint32_t copied = 0;
  for (uint32_t j = quoted ? at + 1 : at; j < end && copied < length; j++) {
    if (inQuotes && bytes[j] == '"') {
      if (j + 1 < end && bytes[j + 1] == '"') {
        j++;  // a doubled quote stands for one
      } else {
        inQuotes = false;  // the closing quote
        continue;
      }
    }
    if (skip > 0) {
      skip--;
    } else {
      out[copied++] = bytes[j];
    }
  }
  return copied;
}

// The bytes a key on a field reads: the field's, from the key's offset on, at most its
// length, zero-padded to it.
static void CopyRecordField(const KeyPlan *plan, const KeyPlanField *field, const unsigned char *record,
                            uint32_t size, unsigned char *out) {
  uint32_t copied = 0;
  if (plan->fieldMode == kFieldsCsv) {
    copied = CopyCsvField(record, size, field->recordField, field->offset, field->length, out);
  } else {
    uint32_t begin, end;
    FindSeparatedField(record, size, plan->separator, field->recordField, &begin, &end);
    begin = std::min(begin + field->offset, end);
    copied = std::min(end - begin, field->length);
    memcpy(out, record + begin, copied);
  }
  memset(out + copied, 0, field->length - copied);
}

// The key fields of one record of size bytes, one after the other from key on. Returns the
// byte after the last.
static unsigned char *EncodeRecord(const KeyPlan *plan, const unsigned char *record, uint32_t size,
                                   unsigned char *key) {
  for (int k = 0; k < plan->fieldCount; k++) {
    const KeyPlanField *field = &plan->fields[k];
    const unsigned char *source = record + field->offset;
    unsigned char fieldBytes[kMaxRecordLength];
    if (field->recordField != 0) {
      CopyRecordField(plan, field, record, size, fieldBytes);
      source = fieldBytes;
    }
    if (!EncodeField(field, source, key) && plan->invalid != nullptr) {
      __atomic_fetch_add(&plan->invalid[k], 1, __ATOMIC_RELAXED);  // rare: a field that is no number
    }
    key += field->width;
  }
  return key;
}

// Writes value into the last count key bytes, most significant first, never inverted.
static void PutSuffix(unsigned char *key, uint32_t count, uint64_t value) {
  for (uint32_t j = 0; j < count; j++) key[j] = static_cast<unsigned char>(value >> (8 * (count - 1 - j)));
}

void BuildFixedKey(const KeyPlan *plan, const unsigned char *record, uint32_t index, unsigned char *key) {
  key = EncodeRecord(plan, record, plan->recordLength, key);
  PutSuffix(key, plan->indexLength, index);
}

void BuildVariableKey(const KeyPlan *plan, const unsigned char *record, uint32_t stored, uint64_t startOffset,
                      unsigned char *key) {
  key = EncodeRecord(plan, record, stored, key);
  PutSuffix(key, plan->offsetLength, startOffset);
}
