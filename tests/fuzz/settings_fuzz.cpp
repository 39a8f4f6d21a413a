// Fuzz target: the settings file, read at start-up and written, on arbitrary Pelmar.ini
// bytes, with a file operation of either made to fail.
//   byte 0     bits 0-3: the write's file operation that fails, bits 4-7: the read's (0: none)
//   16 bytes   the main window's rectangle for the write (four little-endian integers)
//   the rest   the file's bytes (up to 1 KB)
// Start-up takes what the file holds over the defaults' image, each text cut where a
// reader cuts it, when its bytes hold the magic (only the defaults when its read failed);
// a write stores exactly the image of the preferences and the window, which the next
// start-up reads back; a failed write leaves the file as it was; nothing else is left.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/scanner.h"
#include "os/platform.h"
#include "storage/settings.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/storage/storageimages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  FuzzReader reader = {data, size};
  const uint8_t failing = reader.Byte();
  std::string window(16, '\0');
  for (char &byte : window) byte = static_cast<char>(reader.Byte());
  const std::string bytes = reader.Rest(1024);
  WriteFile("Pelmar.ini", bytes);

  PreferenceRecord defaults{};
  CopyText(defaults.defaultBrowseDirectory, sizeof defaults.defaultBrowseDirectory, "C:\\");
  CopyText(defaults.ofni, sizeof defaults.ofni, "Srt");
  std::string expected = SettingsImage(defaults);
  expected.replace(0, std::min(bytes.size(), expected.size()), bytes, 0, expected.size());
  if (bytes.size() < 4 || expected.compare(0, 4, std::string("plm\0", 4)) != 0) expected = SettingsImage(defaults);
  CutText(expected, 4, 254, 253);
  CutText(expected, 258, 4, 4);
  if (GetLe32(expected, 290) != 0) {  // "last path": the folder waits for the last parameters
    CutText(expected, 4, 254, 0);
    LayText(expected, 4, "C:\\", 3);
  }

  SetFileFaultForTesting(failing / 16);
  LoadSettings();
  SetFileFaultForTesting(0);
  const std::string loaded = SettingsImage(Preferences);
  FUZZ_CHECK(loaded == expected || (failing / 16 != 0 && loaded == SettingsImage(defaults)),
             "start-up reads the file over the defaults, or only the defaults when the read failed");
  FUZZ_CHECK(!Preferences.defaultBrowseDirectory[253] && !Preferences.ofni[4], "the texts are terminated");
  FUZZ_CHECK(BrowseDirectory == loaded.substr(4, strlen(BrowseDirectory)) && loaded[4 + strlen(BrowseDirectory)] == '\0',
             "the browse directory is the preferences' folder");
  FUZZ_CHECK(WorkingOfni == std::string(loaded.c_str() + 258, strnlen(loaded.c_str() + 258, 4)), "the OFNI is taken");
  const int32_t delimiter = GetLe32(loaded, 294);
  FUZZ_CHECK(DelimiterMode == (delimiter == 1 || delimiter == 2 ? delimiter : 0), "an unknown delimiter reads as CR LF");
  FUZZ_CHECK(SettingsPath == std::filesystem::current_path().string() + "/Pelmar.ini", "the file is the program directory's");
  FUZZ_CHECK(ReadWholeFile("Pelmar.ini") == bytes, "reading leaves the file as it was");

  const WindowPlace place = {GetLe32(window, 0), GetLe32(window, 4), GetLe32(window, 8), GetLe32(window, 12)};
  std::string written = loaded;
  const size_t stored[] = {4, 12, 0, 8};  // the file's order: top, bottom, left, right
  for (int i = 0; i < 4; i++) PutLe32(written, 274 + 4 * i, GetLe32(window, stored[i]));
  SetFileFaultForTesting(failing % 16);
  const int result = WriteSettings(place);
  SetFileFaultForTesting(0);
  FUZZ_CHECK(FolderNames() == std::vector<std::string>{"Pelmar.ini"}, "nothing but Pelmar.ini is left");
  FUZZ_CHECK(ReadWholeFile("Pelmar.ini") == (result == 0 ? written : bytes),
             "a write stores the preferences and the window whole, a failed one nothing");
  LoadSettings();
  FUZZ_CHECK(result != 0 || SettingsImage(Preferences) == written, "the next start-up reads what was written");
  return 0;
}
