// The model's reading of pelmar-sort's wider keys (model.h: CompareByKeys, JobIsValid):
// fields found by their own rules, every number decoded to its sign and digits and compared
// as a number. Written from the rules, not from the engine's encoders.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/keys.h"
#include "tests/support/model.h"

namespace {

// A key field's value: bytes compared as they stand, a decimal, or a real.
struct Value {
  enum Kind { kBytes, kDecimal, kInvalid, kReal } kind = kBytes;
  std::vector<unsigned char> bytes;  // kBytes: the described key; kInvalid: the field's own bytes
  bool negative = false;             // kDecimal: a nonzero number below 0
  std::string integer, fraction;     // kDecimal: digits, no leading (integer) or trailing (fraction) zeros
  double real = 0;                   // kReal; NaN for any NaN
};

Value Of(Value::Kind kind, std::vector<unsigned char> bytes = {}) {
  Value value;
  value.kind = kind;
  value.bytes = bytes;
  return value;
}

Value Decimal(bool negative, std::string integer, std::string fraction) {
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  fraction.erase(fraction.find_last_not_of('0') + 1);
  Value value = Of(Value::kDecimal);
  value.negative = negative && !(integer.empty() && fraction.empty());
  value.integer = integer;
  value.fraction = fraction;
  return value;
}

Value Invalid(const std::string &field) { return Of(Value::kInvalid, std::vector<unsigned char>(field.begin(), field.end())); }

// Packed decimal: two digits a byte, the last half-byte the sign, A and above.
Value Packed(const std::string &field) {
  std::string digits;
  for (unsigned char byte : field) digits += std::string(1, "0123456789ABCDEF"[byte >> 4]) + "0123456789ABCDEF"[byte & 15];
  const char sign = digits.back();
  digits.pop_back();
  if (sign < 'A' || digits.find_first_not_of("0123456789") != std::string::npos) return Invalid(field);
  return Decimal(sign == 'B' || sign == 'D', digits, "");
}

// Zoned decimal: the low half of each byte a digit, the high half of the last the sign.
Value Zoned(const std::string &field) {
  std::string digits;
  for (unsigned char byte : field) {
    if ((byte & 15) > 9) return Invalid(field);
    digits += static_cast<char>('0' + (byte & 15));
  }
  const int sign = static_cast<unsigned char>(field.back()) >> 4;
  return Decimal(sign == 0xD || sign == 0xB || sign == 9 || sign == 7 || sign == 5 || sign == 3 || sign == 1, digits, "");
}

// Zoned decimal in ASCII: blanks, a sign, digits, the last perhaps overpunched; the zero
// bytes a short field is padded with are no part of it.
Value ZonedText(const std::string &field) {
  std::string text = field.substr(0, field.find_last_not_of('\0') + 1);
  text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.erase(0, 1);
  if (!text.empty()) {
    const std::string positive = "{ABCDEFGHI", minus = "}JKLMNOPQR", lower = "pqrstuvwxy";
    const char last = text.back();
    for (const std::string *table : {&positive, &minus, &lower}) {
      if (table->find(last) == std::string::npos) continue;
      text.back() = static_cast<char>('0' + table->find(last));
      negative = negative || table != &positive;
    }
  }
  if (text.find_first_not_of("0123456789") != std::string::npos) return Invalid(field);
  return Decimal(negative, text, "");
}

// A number written as text, as GNU sort -n reads it in the C locale, with a '+' too.
Value Number(const std::string &field) {
  size_t at = field.find_first_not_of(" \t");
  if (at == std::string::npos) return Decimal(false, "", "");
  const bool negative = field[at] == '-';
  if (field[at] == '-' || field[at] == '+') at++;
  const size_t integerEnd = std::min(field.find_first_not_of("0123456789", at), field.size());
  std::string fraction;
  if (integerEnd < field.size() && field[integerEnd] == '.') {
    fraction = field.substr(integerEnd + 1);
    fraction = fraction.substr(0, std::min(fraction.find_first_not_of("0123456789"), fraction.size()));
  }
  return Decimal(negative, field.substr(at, integerEnd - at), fraction);
}

// Big-endian integers and reals, by value.
Value BigEndian(const std::string &field, char type) {
  uint64_t bits = 0;
  for (unsigned char byte : field) bits = bits << 8 | byte;
  const int shift = 64 - 8 * static_cast<int>(field.size());
  if (type == kTypeBigUnsigned) return Decimal(false, std::to_string(bits), "");
  if (type == kTypeBigSigned) {
    const int64_t value = shift == 0 ? static_cast<int64_t>(bits) : static_cast<int64_t>(bits << shift) >> shift;
    return Decimal(value < 0, std::to_string(value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value)), "");
  }
  Value value = Of(Value::kReal);
  if (field.size() == 4) {
    float narrow;
    const uint32_t low = static_cast<uint32_t>(bits);
    memcpy(&narrow, &low, 4);
    value.real = narrow;
  } else {
    memcpy(&value.real, &bits, 8);
  }
  return value;
}

// The bytes a key reads: at its position in the record, or in its field from its position,
// at most its length, zero-padded.
std::string FieldBytes(const KeyField &key, const KeySettings &settings, const std::string &record) {
  if (key.field == 0) {
    std::string bytes = record.substr(std::min<size_t>(key.position - 1, record.size()), key.length);
    return bytes + std::string(key.length - bytes.size(), '\0');
  }
  const bool csv = settings.fieldMode == kFieldsCsv;
  std::vector<std::string> fields(1);
  bool quoted = false;     // inside a quoted CSV field
  size_t fieldStart = 0;   // where the current field began
  for (size_t i = 0; i < record.size(); i++) {
    const char c = record[i];
    if (quoted && c == '"' && i + 1 < record.size() && record[i + 1] == '"') {
      fields.back() += record[i++];  // "" within quotes: one quote
    } else if (quoted && c == '"') {
      quoted = false;
    } else if (csv && !quoted && c == '"' && i == fieldStart) {
      quoted = true;
    } else if (!quoted && c == static_cast<char>(csv ? ',' : settings.separator)) {
      fields.emplace_back();
      fieldStart = i + 1;
    } else {
      fields.back() += c;
    }
  }
  const std::string field = static_cast<size_t>(key.field) <= fields.size() ? fields[key.field - 1] : "";
  std::string bytes = field.substr(std::min<size_t>(key.position - 1, field.size()), key.length);
  return bytes + std::string(key.length - bytes.size(), '\0');
}

Value Read(const KeyField &key, const KeySettings &settings, const std::string &record) {
  const std::string field = FieldBytes(key, settings, record);
  switch (key.type) {
    case kTypePacked: return Packed(field);
    case kTypeZoned: return Zoned(field);
    case kTypeZonedText: return ZonedText(field);
    case kTypeNumber: return Number(field);
    case kTypeBigSigned: case kTypeBigUnsigned: case kTypeBigReal: return BigEndian(field, key.type);
    default: break;
  }
  // The described types by their key bytes, descending ones as they are keyed ('f' by its
  // reciprocal, not by the reverse order).
  ParameterRecord one = MakeJob("", "", static_cast<int32_t>(field.size()), {key});
  one.keys[0].position = 1;
  one.keys[0].field = 0;
  return Of(Value::kBytes, DescribedKey(one, reinterpret_cast<const unsigned char *>(field.data())));
}

int Sign(int order) { return (order > 0) - (order < 0); }

// Two numbers' magnitudes: digits before the point, then the digits themselves.
int CompareMagnitudes(const Value &a, const Value &b) {
  if (a.integer.size() != b.integer.size()) return a.integer.size() < b.integer.size() ? -1 : 1;
  if (a.integer != b.integer) return Sign(a.integer.compare(b.integer));
  return Sign(a.fraction.compare(b.fraction));
}

int CompareValues(const Value &a, const Value &b) {
  if (a.kind == Value::kBytes || (a.kind == Value::kInvalid && b.kind == Value::kInvalid)) {
    return Sign(memcmp(a.bytes.data(), b.bytes.data(), std::min(a.bytes.size(), b.bytes.size())));
  }
  if (a.kind == Value::kInvalid || b.kind == Value::kInvalid) return a.kind == Value::kInvalid ? -1 : 1;
  if (a.kind == Value::kReal) {
    if (std::isnan(a.real) || std::isnan(b.real)) return std::isnan(a.real) - std::isnan(b.real);
    return (a.real > b.real) - (a.real < b.real);
  }
  const int signA = a.negative ? -1 : a.integer.empty() && a.fraction.empty() ? 0 : 1;
  const int signB = b.negative ? -1 : b.integer.empty() && b.fraction.empty() ? 0 : 1;
  if (signA != signB) return signA < signB ? -1 : 1;
  return signA * CompareMagnitudes(a, b);
}

}  // namespace

int CompareByKeys(const ParameterRecord &job, const KeySettings &settings, const std::string &a, const std::string &b) {
  for (int k = 0; k < job.keyCount; k++) {
    const Value valueA = Read(job.keys[k], settings, a);
    const int order = CompareValues(valueA, Read(job.keys[k], settings, b));
    if (order != 0) return job.keys[k].sequence == 'd' && valueA.kind != Value::kBytes ? -order : order;
  }
  return 0;
}

bool JobIsValid(const ParameterRecord &job, const KeySettings &settings) {
  const bool variable = job.recordLength == kVariableRecords;
  if (!variable && (job.recordLength < 1 || job.recordLength > kMaxRecordLength)) return false;
  if (job.keyCount < 1 || job.keyCount > kMaxKeys) return false;
  int64_t total = 0;
  for (int k = 0; k < job.keyCount; k++) {
    const KeyField &key = job.keys[k];
    const bool known = key.type != '\0' && strchr("caiufIUFPZTn", key.type) != nullptr;
    const bool textType = known && strchr("caTn", key.type) != nullptr;  // text lines and fields take these
    const int most = key.type == kTypeNumber ? 64 : key.type == kTypePacked ? 16 : strchr("ZT", key.type) ? 31 : strchr("IUF", key.type) ? 8 : 0;
    if (!known || key.position < 1 || key.length < 1 || key.field < 0 || (variable && !textType)) return false;
    if ((key.sequence != 'a' && key.sequence != 'd') || (strchr("fF", key.type) && key.length != 4 && key.length != 8)) return false;
    if (most > 0 && key.length > most) return false;
    if (key.field > 0 && (!textType || settings.fieldMode == kFieldsNone || key.length > kMaxRecordLength)) return false;
    if (!variable && key.field == 0 && int64_t{key.position} + key.length - 1 > job.recordLength) return false;
    total += key.length;
  }
  return !variable || total + 4 <= 1024;  // a text job's key and offset fit the 1024-byte record buffer
}
