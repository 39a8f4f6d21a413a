// Fuzz target: the settings reader on arbitrary Pelmar.ini bytes.
//   byte 0     bits 0-3: the write's file operation that fails (0: none)
//   16 bytes   the main window's rectangle for the write (four little-endian integers)
//   the rest   the file's bytes (up to 1 KB)
// Whatever the file holds, the preferences come out with bounded, terminated texts and a
// known delimiter mode; a write gives back a record that decodes to the same values and
// is read at the next start-up as it was written; a failed write leaves the file as it
// was; neither leaves another file behind.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/scanner.h"
#include "os/platform.h"
#include "storage/settings.h"
#include "tests/support/fakewinsys.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

enum Operation { kLoad, kWrite };

// The one place that calls storage; the lead adapts it when the interfaces change.
// kLoad: start-up reading of the settings file. kWrite: the settings written with the
// main window at rect. Returns the operation's result (0 for kLoad).
int CallSettings(Operation operation, const ScreenRect &rect) {
  if (operation == kLoad) {
    LoadSettings();
    return 0;
  }
  return WriteSettings(WindowPlace{rect.left, rect.top, rect.right, rect.bottom});
}

bool SamePreferences(const PreferenceRecord &a, const PreferenceRecord &b) {
  return strcmp(a.defaultBrowseDirectory, b.defaultBrowseDirectory) == 0 && strcmp(a.ofni, b.ofni) == 0 &&
         a.goToSortDialog == b.goToSortDialog && a.createUserFiles == b.createUserFiles &&
         a.stayInSortDialog == b.stayInSortDialog && a.windowTop == b.windowTop && a.windowBottom == b.windowBottom &&
         a.windowLeft == b.windowLeft && a.windowRight == b.windowRight && a.useLastPath == b.useLastPath &&
         a.delimiter == b.delimiter && a.enableKeyTitling == b.enableKeyTitling;
}

void CheckState() {
  FUZZ_CHECK(Bounded(Preferences.defaultBrowseDirectory, kPrefBrowseSlot, kPrefBrowseSlot - 1), "browse folder bounded");
  FUZZ_CHECK(Bounded(Preferences.ofni, kOfniSize, kOfniSize - 1), "OFNI bounded");
  FUZZ_CHECK(Bounded(BrowseDirectory, kNameSize, kNameSize - 1), "browse directory terminated");
  FUZZ_CHECK(Bounded(WorkingOfni, kOfniSize, kOfniSize - 1), "working OFNI terminated");
  FUZZ_CHECK(Bounded(SettingsPath, kSettingsPathSize, kSettingsPathSize - 1), "settings path terminated");
  FUZZ_CHECK(DelimiterMode >= kDelimiterBoth && DelimiterMode <= kDelimiterLf, "delimiter mode 0 to 2");
}

int32_t Int32(FuzzReader *reader) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; i++) bits |= static_cast<uint32_t>(reader->Byte()) << (8 * i);
  return static_cast<int32_t>(bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  FuzzReader reader = {data, size};
  const uint8_t failing = reader.Byte();
  ScreenRect rect;
  rect.left = Int32(&reader);
  rect.top = Int32(&reader);
  rect.right = Int32(&reader);
  rect.bottom = Int32(&reader);
  const std::string bytes = reader.Rest(1024);
  WriteFile("Pelmar.ini", bytes);

  if (bytes.size() >= kPreferenceRecordSize) {  // the decoder alone, on the file's first record
    PreferenceRecord record;
    SetDefaultPreferences(&record);
    if (DecodePreferenceRecord(reinterpret_cast<const unsigned char *>(bytes.data()), &record) == 0) {
      FUZZ_CHECK(Bounded(record.defaultBrowseDirectory, kPrefBrowseSlot, kPrefBrowseSlot - 1), "decoded folder bounded");
      FUZZ_CHECK(Bounded(record.ofni, kOfniSize, kOfniSize - 1), "decoded OFNI bounded");
    }
  }

  CallSettings(kLoad, rect);
  CheckState();
  FUZZ_CHECK(ReadWholeFile("Pelmar.ini") == bytes, "reading leaves the file as it was");
  SetFileFaultForTesting(failing % 16);
  const int written = CallSettings(kWrite, rect);
  SetFileFaultForTesting(0);
  FUZZ_CHECK(FolderNames() == std::vector<std::string>{"Pelmar.ini"}, "nothing but Pelmar.ini is left");
  if (written != 0) {
    FUZZ_CHECK(ReadWholeFile("Pelmar.ini") == bytes, "a failed write leaves the file as it was");
    return 0;
  }
  const PreferenceRecord record = Preferences;
  const std::string stored = ReadWholeFile("Pelmar.ini");
  FUZZ_CHECK(stored.size() == kPreferenceRecordSize, "the file holds one whole record");
  PreferenceRecord decoded;
  SetDefaultPreferences(&decoded);
  FUZZ_CHECK(DecodePreferenceRecord(reinterpret_cast<const unsigned char *>(stored.data()), &decoded) == 0,
             "the written record has the magic");
  FUZZ_CHECK(SamePreferences(decoded, record), "the written record decodes to the preferences");
  FUZZ_CHECK(decoded.windowLeft == rect.left && decoded.windowTop == rect.top && decoded.windowRight == rect.right &&
                 decoded.windowBottom == rect.bottom,
             "the window's rectangle is stored");

  CallSettings(kLoad, rect);
  CheckState();
  FUZZ_CHECK(SamePreferences(Preferences, record), "the next start-up reads what was written");
  return 0;
}
