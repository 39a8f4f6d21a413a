// The stored files laid out from their layout tables, apart from the code that writes
// them: Pelmar.ini (one 302-byte preference record) and the parameter files (a signed
// 32-bit little-endian entry count, then 766-byte parameter records). The unit tests and
// the fuzz targets compare what the program wrote with these; one golden image of each
// format, in the unit tests, holds the builders themselves to the bytes.
#ifndef PELMAR_TESTS_STORAGE_STORAGEIMAGES_H
#define PELMAR_TESTS_STORAGE_STORAGEIMAGES_H

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/sorttypes.h"
#include "storage/settings.h"

inline void PutLe32(std::string &bytes, size_t at, int32_t value) {
  for (int i = 0; i < 4; i++) bytes[at + i] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i));
}

inline int32_t GetLe32(const std::string &bytes, size_t at) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; i++) bits |= uint32_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  return static_cast<int32_t>(bits);
}

// The magic, then zeros: what every image is laid over.
inline std::string BlankImage(size_t size) { return std::string("plm\0", 4) + std::string(size - 4, '\0'); }

// Lays at most maxLength characters of text at offset (the image is zero behind them).
inline void LayText(std::string &bytes, size_t at, const char *text, size_t maxLength) {
  bytes.replace(at, strnlen(text, maxLength), text, strnlen(text, maxLength));
}

// Cuts the text slot at offset where a reader cuts it: at its first NUL or after
// maxLength characters, zeros behind.
inline void CutText(std::string &bytes, size_t at, size_t slot, size_t maxLength) {
  const size_t length = strnlen(bytes.data() + at, maxLength);
  bytes.replace(at + length, slot - length, slot - length, '\0');
}

inline std::string SettingsImage(const PreferenceRecord &p) {
  std::string bytes = BlankImage(302);
  LayText(bytes, 4, p.defaultBrowseDirectory, 253);  // a slot of 254
  LayText(bytes, 258, p.ofni, 4);                    // no NUL when 4 characters long
  const int32_t values[] = {p.goToSortDialog, p.createUserFiles, p.stayInSortDialog, p.windowTop, p.windowBottom,
                            p.windowLeft, p.windowRight, p.useLastPath, p.delimiter, p.enableKeyTitling};
  for (int i = 0; i < 10; i++) PutLe32(bytes, 262 + 4 * i, values[i]);
  return bytes;
}

inline std::string RecordImage(const SortParameters &p, const char (*titles)[kKeyTitleSize]) {
  std::string bytes = BlankImage(766);
  LayText(bytes, 4, p.inputName, 255);  // names of 255 characters fill their slots
  LayText(bytes, 259, p.outputName, 255);
  const int32_t values[] = {p.recordLength, p.keyCount, p.statisticsFlag};
  for (int i = 0; i < 3; i++) PutLe32(bytes, 514 + 4 * i, values[i]);
  for (int k = 0; k < 6; k++) {
    PutLe32(bytes, 526 + 10 * k, p.keys[k].position);
    PutLe32(bytes, 530 + 10 * k, p.keys[k].length);
    bytes[534 + 10 * k] = p.keys[k].type;
    bytes[535 + 10 * k] = p.keys[k].sequence;
    LayText(bytes, 586 + 30 * k, titles[k], 30);
  }
  return bytes;
}

// A record as a load takes it: names cut at 255 characters, titles at 25.
inline std::string LoadedRecord(std::string record) {
  CutText(record, 4, 255, 255);
  CutText(record, 259, 255, 255);
  for (int k = 0; k < 6; k++) CutText(record, 586 + 30 * k, 30, 25);
  return record;
}

inline std::string ParameterFileImage(int32_t count, const std::string &entries) {
  std::string bytes(4, '\0');
  PutLe32(bytes, 0, count);
  return bytes + entries;
}

#endif
