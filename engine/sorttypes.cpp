#include "engine/sorttypes.h"

#include <algorithm>
#include <cstring>

static const unsigned char kMagic[4] = {'p', 'l', 'm', 0};

void CopyText(char *slot, size_t capacity, const char *text) {
  if (capacity == 0) return;
  size_t length = strnlen(text, capacity - 1);
  memcpy(slot, text, length);
  memset(slot + length, 0, capacity - length);
}

void PutInt32(unsigned char *bytes, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; i++) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

int32_t GetInt32(const unsigned char *bytes) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; i++) bits |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return static_cast<int32_t>(bits);
}

// Copies a text into a stored slot: its bytes, then zeros to the end of the slot.
static void PutText(unsigned char *slot, size_t slotSize, const char *text) {
  size_t length = strnlen(text, slotSize);
  memcpy(slot, text, length);
  memset(slot + length, 0, slotSize - length);
}

// Copies a stored slot into a text buffer, bounded to maxLength characters and terminated.
static void GetText(char *text, size_t capacity, const unsigned char *slot, size_t maxLength) {
  const size_t length = std::min(strnlen(reinterpret_cast<const char *>(slot), maxLength), capacity - 1);
  memcpy(text, slot, length);
  memset(text + length, 0, capacity - length);
}

void EncodeParameterRecord(const ParameterRecord *record, unsigned char bytes[kParameterRecordSize]) {
  memcpy(bytes + kRecordMagicOffset, kMagic, 4);
  PutText(bytes + kRecordInputOffset, kRecordNameSlot, record->inputName);
  PutText(bytes + kRecordOutputOffset, kRecordNameSlot, record->outputName);
  PutInt32(bytes + kRecordLengthOffset, record->recordLength);
  PutInt32(bytes + kRecordKeyCountOffset, record->keyCount);
  PutInt32(bytes + kRecordStatisticsOffset, record->statisticsFlag);
  for (int k = 0; k < kMaxKeys; k++) {
    unsigned char *slot = bytes + kRecordKeysOffset + kRecordKeySlot * k;
    PutInt32(slot, record->keys[k].position);
    PutInt32(slot + 4, record->keys[k].length);
    slot[8] = static_cast<unsigned char>(record->keys[k].type);
    slot[9] = static_cast<unsigned char>(record->keys[k].sequence);
  }
  for (int k = 0; k < kMaxKeys; k++) {
    PutText(bytes + kRecordTitlesOffset + kKeyTitleSize * k, kKeyTitleSize, record->keyTitles[k]);
  }
}

int DecodeParameterRecord(const unsigned char bytes[kParameterRecordSize], ParameterRecord *record) {
  if (memcmp(bytes + kRecordMagicOffset, kMagic, 4) != 0) return 1;
  GetText(record->inputName, kNameSize, bytes + kRecordInputOffset, kRecordNameSlot);
  GetText(record->outputName, kNameSize, bytes + kRecordOutputOffset, kRecordNameSlot);
  record->recordLength = GetInt32(bytes + kRecordLengthOffset);
  record->keyCount = GetInt32(bytes + kRecordKeyCountOffset);
  record->statisticsFlag = GetInt32(bytes + kRecordStatisticsOffset);
  for (int k = 0; k < kMaxKeys; k++) {
    const unsigned char *slot = bytes + kRecordKeysOffset + kRecordKeySlot * k;
    record->keys[k].position = GetInt32(slot);
    record->keys[k].length = GetInt32(slot + 4);
    record->keys[k].type = static_cast<char>(slot[8]);
    record->keys[k].sequence = static_cast<char>(slot[9]);
    record->keys[k].field = 0;
  }
  for (int k = 0; k < kMaxKeys; k++) {
    GetText(record->keyTitles[k], kKeyTitleSize, bytes + kRecordTitlesOffset + kKeyTitleSize * k,
            kKeyTitleMaxLength);
  }
  return 0;
}
