// Fuzz target: pelmar-sort's key encoders and field finders against the shared model's own
// reading of the same rules (tests/support/model.h, CompareByKeys). The data's first bytes
// choose up to six keys (every type, lengths the type takes, fields found by a separator
// or as CSV, both sequences) of fixed-length records or of text lines; the rest is two
// records. One memcmp of their keys must order them as the model orders their values
// (numbers decoded exactly and compared as numbers), equal exactly when they are equal.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/keys.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/support/model.h"

namespace {

const int32_t kRecordLength = 96;  // fixed-length records: room for every key at positions 1 to 16

// A length the type takes, from a byte.
int32_t LengthFor(char type, uint8_t byte) {
  switch (type) {
    case 'f': case kTypeBigReal: return byte & 1 ? 8 : 4;
    case 'i': case 'u': return 2 * (1 + byte % 4);
    case kTypeBigSigned: case kTypeBigUnsigned: return 1 + byte % 8;
    case kTypePacked: return 1 + byte % 16;
    case kTypeZoned: case kTypeZonedText: return 1 + byte % 31;
    case kTypeNumber: return 1 + byte % 64;
    default: return 1 + byte % 16;
  }
}

// The key of one record: fixed-length (the record padded to its length) or a text line's
// stored bytes (zeros behind them), without the offset that would end it.
std::vector<unsigned char> KeyOf(const KeyPlan *plan, const std::string &record, bool text) {
  std::vector<unsigned char> bytes(text ? 1024 : kRecordLength, 0), key(plan->keyLength);
  memcpy(bytes.data(), record.data(), std::min(record.size(), bytes.size()));
  if (text) BuildVariableKey(plan, bytes.data(), static_cast<uint32_t>(record.size()), 0, key.data());
  else BuildFixedKey(plan, bytes.data(), 0, key.data());
  key.resize(plan->keyLength - plan->offsetLength);
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzReader in{data, size};
  const uint8_t flags = in.Byte();
  const bool text = flags & 1;
  const int modes[] = {kFieldsNone, kFieldsSeparated, kFieldsCsv, kFieldsSeparated};
  const KeySettings settings = {0, modes[flags >> 1 & 3], static_cast<unsigned char>((flags >> 1 & 3) == 3 ? '\t' : ',')};
  std::vector<KeyField> keys;
  for (int k = 0; k < 1 + (flags >> 3) % kMaxKeys; k++) {
    const uint8_t t = in.Byte(), l = in.Byte(), p = in.Byte();
    const char type = text ? "caTn"[t % 4] : "caiufIUFPZTn"[t % 12];
    const bool onField = settings.fieldMode != kFieldsNone && (t & 0x80) && strchr("caTn", type) != nullptr;
    const int32_t field = onField ? 1 + p % 4 : 0;
    keys.push_back(KeyField{1 + (onField ? (p >> 2) % 4 : p % 16), LengthFor(type, l), type, l & 0x80 ? 'd' : 'a', field});
  }
  const std::string a = in.Text(text ? 260 : kRecordLength);
  std::string b = in.Rest(text ? 260 : kRecordLength);
  std::string recordA = a, recordB = b;
  if (!text) recordA.resize(kRecordLength, '\0'), recordB.resize(kRecordLength, '\0');
  const ParameterRecord job = MakeJob("", "", text ? kVariableRecords : kRecordLength, keys);
  FUZZ_CHECK(JobIsValid(job, settings), "the chosen keys are a job the model takes");
  KeyPlan plan;
  PrepareKeyPlan(job.keys, job.keyCount, job.recordLength, &settings, false, nullptr, &plan);
  const std::vector<unsigned char> keyA = KeyOf(&plan, recordA, text), keyB = KeyOf(&plan, recordB, text);
  const int order = memcmp(keyA.data(), keyB.data(), keyA.size());
  const int expected = CompareByKeys(job, settings, recordA, recordB);
  FUZZ_CHECK((order > 0) - (order < 0) == expected, "the keys order the records as the model orders their values");
  return 0;
}
