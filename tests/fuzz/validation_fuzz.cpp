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

// The Sort dialog's texts as a user could type them.
struct FieldTexts {
  std::string input;
  std::string output;
  std::string recordSize;
  std::string keys[kMaxKeys][4];  // position, length, type, sequence
  int statistics;
};

enum Operation { kValidate, kSort };

// The one place that calls validation and the run; the lead adapts it when the field
// access changes. kValidate: start-up state with the given titles and OFNI (null: the
// defaults), then the fields validated. kSort: the validated parameters built into the
// job and sorted. Returns the operation's result.
int CallValidation(Operation operation, const FieldTexts &texts, const std::string *titles, const char *ofni) {
  if (operation == kSort) {
    BuildParameterRecord();
    CopyText(StatisticsDirectory, sizeof StatisticsDirectory, PrivateFolder().c_str());
    ClearErrorText();
    return SortRun(&JobRecord);
  }
  const int delimiterMode = DelimiterMode;
  LoadSettings();
  DelimiterMode = delimiterMode;
  ResetParameterState();
  BrowsedInput = 0;
  if (ofni != nullptr) CopyText(WorkingOfni, kOfniSize, ofni);
  for (int k = 0; titles != nullptr && k < kMaxKeys; k++) CopyText(KeyTitles[k], kKeyTitleSize, titles[k].c_str());
  static int dialogRecord;
  WindowHandle dialog = &dialogRecord;
  FakeReset();
  WriteFieldText(dialog, IDC_INPUT_NAME, texts.input.c_str());
  WriteFieldText(dialog, IDC_OUTPUT_NAME, texts.output.c_str());
  WriteFieldText(dialog, IDC_RECORD_SIZE, texts.recordSize.c_str());
  for (int k = 0; k < kMaxKeys; k++) {
    WriteFieldText(dialog, IDC_KEY_POSITION(k), texts.keys[k][0].c_str());
    WriteFieldText(dialog, IDC_KEY_LENGTH(k), texts.keys[k][1].c_str());
    WriteFieldText(dialog, IDC_KEY_TYPE(k), texts.keys[k][2].c_str());
    WriteFieldText(dialog, IDC_KEY_SEQUENCE(k), texts.keys[k][3].c_str());
  }
  WriteCheckBox(dialog, IDC_STATISTICS, texts.statistics);
  return ValidateParameters(dialog);
}

// A name as a field holds it: up to its first NUL, no '/'.
std::string NameText(std::string text) {
  text = text.c_str();
  for (char &c : text) {
    if (c == '/') c = '_';
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EmptyFolder();
  FuzzReader reader = {data, size};
  const uint8_t flags = reader.Byte();
  FieldTexts texts;
  texts.statistics = flags & 1;
  texts.input = NameText(reader.Text(300));
  texts.output = NameText(reader.Text(300));
  texts.recordSize = reader.Text(12);
  for (int k = 0; k < kMaxKeys; k++) {
    for (int f = 0; f < 4; f++) texts.keys[k][f] = reader.Text(12);
  }
  std::string titles[kMaxKeys];
  for (int k = 0; k < kMaxKeys; k++) titles[k] = reader.Text(kKeyTitleMaxLength);
  const std::string ofni = NameText(reader.Text(kOfniSize - 1));
  const std::string file = reader.Rest(2048);
  const std::string inputFile = texts.input.substr(0, 253);
  if ((flags & 2) && !inputFile.empty() && inputFile != "." && inputFile != "..") WriteFile(inputFile, file);
  DelimiterMode = (flags >> 4) % 4 % 3;

  const int result = CallValidation(kValidate, texts, (flags & 4) ? titles : nullptr, (flags & 8) ? ofni.c_str() : nullptr);
  FUZZ_CHECK(strnlen(ErrorText, kErrorTextSize) < kErrorTextSize, "the error text is terminated inside its buffer");
  FUZZ_CHECK(result == 0 || result == 1, "the result is 0 or 1");
  if (result != 0) return 0;
  FUZZ_CHECK(strcmp(ErrorText, "\n") == 0, "a passed validation leaves only the line break of the types");
  FUZZ_CHECK(strcmp(CurrentParameters.inputName, CurrentParameters.outputName) != 0, "the output is not the input");
  CallValidation(kSort, texts, nullptr, nullptr);
  FUZZ_CHECK(strstr(ErrorText, "\n Invalid Sort Parameters!\n") == nullptr, "the run accepts what validation passed");
  return 0;
}
