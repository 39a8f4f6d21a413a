#include "cli/keylanguage.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const int64_t kLargestNumber = 1000000000;  // positions and lengths above this are refused as no number

// A part of a key as typed, without the blanks around it.
static void TrimmedPart(const CommandLine *line, int k, int part, char *text, size_t capacity) {
  const char *typed = line->keys[k][part];
  while (*typed == ' ') typed++;
  size_t length = strlen(typed);
  while (length > 0 && typed[length - 1] == ' ') length--;
  snprintf(text, capacity, "%.*s", static_cast<int>(length), typed);
}

// A whole number from 1 to kLargestNumber, all digits. Returns it, or 0 for anything else.
static int32_t ReadCount(const char *text) {
  if (text[0] == '\0' || strspn(text, "0123456789") != strlen(text) || strlen(text) > 10) return 0;
  const int64_t value = strtoll(text, nullptr, 10);
  return value >= 1 && value <= kLargestNumber ? static_cast<int32_t>(value) : 0;
}

// The type a key's TYPE part names (c when empty), in lower case.
static const KeyTypeRule *TypeOf(const CommandLine *line, int k) {
  char type[kPartSize];
  TrimmedPart(line, k, 2, type, sizeof type);
  for (char *c = type; *c != '\0'; c++) *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
  return FindKeyTypeByName(type[0] == '\0' ? "c" : type);
}

int UsesWideKeys(const CommandLine *line) {
  for (int k = 0; k < line->keyCount; k++) {
    char position[kPartSize];
    TrimmedPart(line, k, 0, position, sizeof position);
    const KeyTypeRule *rule = TypeOf(line, k);
    if (position[0] == 'f' || position[0] == 'F' || rule == nullptr || strchr("caiuf", rule->type) == nullptr) return 1;
  }
  return 0;
}

void DescribeKey(const CommandLine *line, int k, char *text, size_t capacity) {
  char parts[kKeyParts][kPartSize];
  int last = 0;
  for (int part = 0; part < kKeyParts; part++) {
    TrimmedPart(line, k, part, parts[part], sizeof parts[part]);
    if (parts[part][0] != '\0') last = part;
  }
  snprintf(text, capacity, "%.60s", parts[0]);
  for (int part = 1; part <= last; part++) {
    const size_t used = strlen(text);
    snprintf(text + used, capacity - used, ",%.60s", parts[part]);
  }
}

// POS: a byte position, fN or fN.C. Returns the rule broken, or null.
static const char *ReadPosition(const char *text, KeyField *key) {
  if (text[0] != 'f' && text[0] != 'F') {
    key->position = ReadCount(text);
    return key->position == 0 ? "the position is a byte from 1 on, fN or fN.C" : nullptr;
  }
  char number[kPartSize];
  CopyText(number, sizeof number, text + 1);
  char *dot = strchr(number, '.');
  if (dot != nullptr) *dot = '\0';
  key->field = ReadCount(number);
  key->position = dot != nullptr ? ReadCount(dot + 1) : 1;
  if (key->field == 0 && strcmp(number, "0") == 0) return "a field number (fN) starts at 1";
  if (key->field == 0) return "the position is a byte from 1 on, fN or fN.C";
  return key->position == 0 ? "a byte in a field (fN.C) starts at 1" : nullptr;
}

// The rules of the key's type, its records and its field. Returns the rule broken, or null.
static const char *CheckType(const CommandLine *line, const KeyTypeRule *rule, const KeyField *key) {
  static char lengths[80];
  if (rule->realLength && key->length != 4 && key->length != 8) {
    snprintf(lengths, sizeof lengths, "%s takes a length of 4 or 8", rule->name);
    return lengths;
  }
  if (rule->evenLength && key->length % 2 != 0) {
    snprintf(lengths, sizeof lengths, "%s takes an even length (2, 4, 6, 8 ...)", rule->name);
    return lengths;
  }
  if (rule->mostLength > 0 && key->length > rule->mostLength) {
    snprintf(lengths, sizeof lengths, "%s takes a length of 1 to %d", rule->name, static_cast<int>(rule->mostLength));
    return lengths;
  }
  if (key->field > 0 && !rule->text) return "a key on a field takes the types c, a, n and za";
  if (key->field > 0 && line->keySettings.fieldMode == kFieldsNone) {
    return "a key on a field needs --field-separator C or --csv";
  }
  if (line->size != nullptr && NamesTextLines(line->size) && !rule->text) {
    return "text lines take the types c, a, n and za";
  }
  return nullptr;
}

int ReadWideKey(const CommandLine *line, int k, KeyField *key, char *error, size_t errorSize) {
  memset(key, 0, sizeof *key);
  char parts[kKeyParts][kPartSize];
  for (int part = 0; part < kKeyParts; part++) TrimmedPart(line, k, part, parts[part], sizeof parts[part]);
  const KeyTypeRule *rule = TypeOf(line, k);
  const char *broken = ReadPosition(parts[0], key);
  key->length = ReadCount(parts[1]);
  const char sequence = static_cast<char>(tolower(static_cast<unsigned char>(parts[3][0])));
  key->sequence = parts[3][0] == '\0' ? 'a' : sequence;
  if (broken == nullptr && key->length == 0) broken = "the length is a number of bytes from 1 on";
  if (broken == nullptr && rule == nullptr) broken = "the types are c, a, i, u, f, bi, bu, bf, pd, zd, za and n";
  if (broken == nullptr && ((key->sequence != 'a' && key->sequence != 'd') || strlen(parts[3]) > 1)) {
    broken = "the sequence is a (ascending) or d (descending)";
  }
  if (broken == nullptr) {
    key->type = rule->type;
    broken = CheckType(line, rule, key);
  }
  if (broken == nullptr) return 0;
  char text[kPartSize];
  DescribeKey(line, k, text, sizeof text);
  snprintf(error, errorSize, "key %d (%s): %s", k + 1, text, broken);
  return 2;
}

int CheckWideKeys(const CommandLine *line, const KeyField *keys, int32_t recordLength, char *error, size_t errorSize) {
  for (int k = 0; k < line->keyCount && recordLength > 0; k++) {
    const int64_t last = int64_t{keys[k].position} + keys[k].length - 1;
    if (keys[k].field == 0 && last > recordLength) {
      char text[kPartSize];
      DescribeKey(line, k, text, sizeof text);
      snprintf(error, errorSize, "key %d (%s): bytes %d to %lld lie past the record's %d bytes", k + 1, text,
               static_cast<int>(keys[k].position), static_cast<long long>(last), static_cast<int>(recordLength));
      return 1;
    }
  }
  return 0;
}
