// Fuzz target: parameter validation on arbitrary field texts and key titles.
//   byte 0     bit 0 statistics box, bit 1 the input file exists, bit 2 own key titles,
//              bit 3 own OFNI; bits 4-5 delimiter mode
//   then       input and output names (up to 300 bytes), record size, the six keys' four
//              fields, six titles of up to 25 bytes, an OFNI, the input file's bytes
// Validation must never write past the error text; a passed validation leaves it "\n" and
// an output name other than the input name, and its parameters are a job that the sort
// run accepts: the run may fail on the file, never with "Invalid Sort Parameters".
// Names lose their '/' so that every file stays in the private folder.
#include <cstdint>
#include <string>

#include "engine/errortext.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "resources/resource.h"
#include "dialogs/validation.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"
#include "tests/support/fakewinsys.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

// A name as a field holds it: up to its first NUL, no '/'.
std::string NameText(std::string text) {
  text = text.c_str();
  std::replace(text.begin(), text.end(), '/', '_');
  return text;
}

}  // namespace

// Start-up state, then the fields as the bytes give them, in the order of their controls
// (the keys' position, length, type and sequence follow each other), the titles and OFNI.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  FuzzReader reader = {data, size};
  const uint8_t flags = reader.Byte();
  LoadSettings();
  DelimiterMode = (flags >> 4) % 4 % 3;
  ResetParameterState();
  BrowsedInput = 0;
  FakeReset();
  const std::string input = NameText(reader.Text(300));
  WriteFieldText(FakeDialog, IDC_INPUT_NAME, input.c_str());
  WriteFieldText(FakeDialog, IDC_OUTPUT_NAME, NameText(reader.Text(300)).c_str());
  WriteFieldText(FakeDialog, IDC_RECORD_SIZE, reader.Text(12).c_str());
  for (int id = IDC_KEY_POSITION(0); id <= IDC_KEY_SEQUENCE(kMaxKeys - 1); id++) {
    WriteFieldText(FakeDialog, id, reader.Text(12).c_str());
  }
  WriteCheckBox(FakeDialog, IDC_STATISTICS, flags & 1);
  for (int k = 0; k < kMaxKeys; k++) {
    const std::string title = reader.Text(kKeyTitleMaxLength);
    if (flags & 4) CopyText(KeyTitles[k], kKeyTitleSize, title.c_str());
  }
  const std::string ofni = NameText(reader.Text(kOfniSize - 1));
  if (flags & 8) CopyText(WorkingOfni, kOfniSize, ofni.c_str());
  const std::string inputFile = input.substr(0, 253), file = reader.Rest(2048);
  if ((flags & 2) && !inputFile.empty() && inputFile != "." && inputFile != "..") WriteFile(inputFile, file);

  const int result = ValidateParameters(FakeDialog);
  FUZZ_CHECK(strnlen(ErrorText, kErrorTextSize) < kErrorTextSize, "the error text is terminated inside its buffer");
  FUZZ_CHECK(result == 0 || result == 1, "the result is 0 or 1");
  if (result != 0) return 0;
  FUZZ_CHECK(strcmp(ErrorText, "\n") == 0, "a passed validation leaves only the line break of the types");
  FUZZ_CHECK(strcmp(CurrentParameters.inputName, CurrentParameters.outputName) != 0, "the output is not the input");
  BuildParameterRecord();
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, PrivateFolder().c_str());
  ClearErrorText();
  SortRun(&JobRecord);
  FUZZ_CHECK(strstr(ErrorText, "\n Invalid Sort Parameters!\n") == nullptr, "the run accepts what validation passed");
  return 0;
}
