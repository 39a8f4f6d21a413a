#include "dialogs/validation.h"

#include <cstdarg>
#include <cstring>

#include "engine/errortext.h"
#include "os/platform.h"
#include "engine/sorttypes.h"
#include "resources/resource.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"

constexpr size_t kNameReadSize = 254;     // a name field: at most 253 characters examined
constexpr size_t kShortReadSize = 10;     // record size and key fields: at most 9 characters
constexpr size_t kMinInputNameLength = 4; // shorter input names are suspicious
constexpr size_t kMaxNameLength = 250;    // longest input or output name accepted
constexpr size_t kKeyStageLimit = 670;    // stages 6, 7 and 8a end the validation beyond this
constexpr size_t kSequenceStageLimit = 512;  // stage 8b ends it beyond this
constexpr int64_t kMaxVariableKeyLength = 250;  // total key bytes on variable-length records

int BrowsedInput = 0;

static int gFailed = 0;           // the running validation's result: 1 once anything was reported
static int gReportCount = 0;      // messages reported by the running validation
static int gVariableRecords = 0;  // 1: the record size text named variable-length records;
                                  // kept between validations on purpose (see CheckRecordLength)

// Appends one message and marks the validation failed. The group line breaks are appended
// directly: they separate messages but report nothing.
static void Report(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void Report(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  AppendErrorFormatList(format, arguments);
  va_end(arguments);
  gFailed = 1;
  gReportCount++;
}

// Key k's title as a bounded text: at most 25 characters of its slot, whatever the slot holds.
struct TitleText {
  char text[kKeyTitleMaxLength + 1];
};
static TitleText Title(int k) {
  TitleText title;
  CopyText(title.text, sizeof title.text, KeyTitles[k]);
  return title;
}

// Reads at most capacity-1 characters of field id into text; returns their number.
static size_t ReadField(WindowHandle dialog, int id, char *text, size_t capacity) {
  text[0] = '\0';
  ReadFieldText(dialog, id, text, capacity);
  text[capacity - 1] = '\0';
  return strlen(text);
}

static void LowerCase(char *text) {
  for (; *text != '\0'; text++) {
    if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
  }
}

// True also for the empty text.
static bool AllDigits(const char *text) {
  for (; *text != '\0'; text++) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

static size_t CountDots(const char *text) {
  size_t dots = 0;
  for (; *text != '\0'; text++) dots += *text == '.';
  return dots;
}

// A position or length field: at most 9 characters, trimmed. True when they are digits only.
static bool ReadKeyNumberText(WindowHandle dialog, int id) {
  char text[kShortReadSize];
  if (ReadField(dialog, id, text, sizeof text) > 0) TrimBlanks(text);
  return AllDigits(text);
}

// A type or sequence field: at most 9 characters in lower case, trimmed only when longer
// than one character, so that a single blank stays a (wrong) letter while two blanks are
// an empty entry. Leaves the text in text and returns its first character.
static char ReadKeyLetterText(WindowHandle dialog, int id, char text[kShortReadSize]) {
  size_t length = ReadField(dialog, id, text, kShortReadSize);
  LowerCase(text);
  if (length > 1) TrimBlanks(text);
  return text[0];
}

static bool KeyInUse(const KeyField *key) { return key->position > 0 || key->length > 0; }

// Appends at most length bytes of text to name, which holds used bytes; bounded by capacity.
static void AppendName(char *name, size_t capacity, size_t *used, const char *text, size_t length) {
  if (*used + length > capacity - 1) length = capacity - 1 - *used;
  memcpy(name + *used, text, length);
  *used += length;
  name[*used] = '\0';
}

// Stage 3: an output name equal to the input name becomes the input name with the OFNI
// ("Srt" when it is empty) before its '.', also in the output field. Both hold exactly one '.' here. A result
// longer than 255 characters is cut; stage 5 refuses it anyway.
static void RenameEqualOutput(WindowHandle dialog) {
  SortParameters *p = &CurrentParameters;
  if (strcmp(p->inputName, p->outputName) != 0) return;
  const char *dot = strchr(p->inputName, '.');
  if (dot == nullptr) return;
  char name[kNameSize];
  size_t used = 0;
  name[0] = '\0';
  AppendName(name, sizeof name, &used, p->inputName, static_cast<size_t>(dot - p->inputName));
  // An empty identifier (a settings file may hold one) would leave the names equal.
  const char *ofni = WorkingOfni[0] != '\0' ? WorkingOfni : kInitialOfni;
  AppendName(name, sizeof name, &used, ofni, strnlen(ofni, kOfniSize - 1));
  AppendName(name, sizeof name, &used, dot, strlen(dot));
  CopyText(p->outputName, kNameSize, name);
  WriteFieldText(dialog, IDC_OUTPUT_NAME, p->outputName);
}

static void CheckKeyPositions(WindowHandle dialog) {
  SortParameters *p = &CurrentParameters;
  for (int k = 0; k < kMaxKeys; k++) {
    KeyField *key = &p->keys[k];
    TitleText title = Title(k);
    if (!ReadKeyNumberText(dialog, IDC_KEY_POSITION(k))) {
      Report("Invalid Input in %s Key Position Field!\n", title.text);
    }
    key->position = ReadFieldNumber(dialog, IDC_KEY_POSITION(k));
    if (key->position > p->recordLength && !gVariableRecords) {
      Report("%s Key Position > Record Length!\n", title.text);
    }
    if (k == 0 && key->position == 0) Report("%s Key Position Must be > 0!\n", title.text);
  }
}

static void CheckKeyLengths(WindowHandle dialog) {
  SortParameters *p = &CurrentParameters;
  for (int k = 0; k < kMaxKeys; k++) {
    KeyField *key = &p->keys[k];
    TitleText title = Title(k);
    if (!ReadKeyNumberText(dialog, IDC_KEY_LENGTH(k))) {
      Report("Invalid Input in %s Key Length Field!\n", title.text);
    }
    key->length = ReadFieldNumber(dialog, IDC_KEY_LENGTH(k));
    if (k == 0 && key->length == 0) Report("%s Key Length Must be > 0!\n", title.text);
    if (!gVariableRecords) {
      if (key->length > p->recordLength) Report("%s Key Length > Record Length!\n", title.text);
      if (int64_t{key->position} + key->length - 1 > p->recordLength) {
        Report("%s Key Position + Length > Record Length!\n", title.text);
      }
    }
    if (key->length > 0 && key->position == 0) {
      Report("%s Key Position - Invalid for %s Key Length!\n", title.text, title.text);
    }
    if (key->length == 0 && key->position > 0) {
      Report("%s Key Length - Invalid for %s Key Position!\n", title.text, title.text);
    }
  }
}

static void CheckKeyTypes(WindowHandle dialog) {
  SortParameters *p = &CurrentParameters;
  for (int k = 0; k < kMaxKeys; k++) {
    KeyField *key = &p->keys[k];
    TitleText title = Title(k);
    char text[kShortReadSize];
    char letter = ReadKeyLetterText(dialog, IDC_KEY_TYPE(k), text);
    bool valid = true;  // the entry of a key not in use is never wrong
    if (KeyInUse(key)) {
      if (text[0] == '\0') letter = 'c';
      valid = strchr("aciuf", letter) != nullptr;
      if (gVariableRecords && letter != 'c' && letter != 'a') {
        Report("%s Key Type Must BE `c` or `a` for Variable Record Length!\n", title.text);
      }
    }
    if (k == 0 && !valid) Report("%s Key Type Must have a Valid Entry!\n", title.text);
    if (!valid) Report("Invalid Input in %s Key Type Field!\n", title.text);
    // The letter is checked against the length also for a key not in use: a stray 'f'
    // left in an empty row is reported.
    if ((letter == 'i' || letter == 'u') && key->length % 2 != 0) {
      Report("%s Integer Type Must have a even" " Lenth!\n  Usually 2 or 4!\n", title.text);
    }
    if (letter == 'f' && key->length != 4 && key->length != 8) {
      Report("%s Float Type Length must be 4 or 8!", title.text);  // no line break, as shown
    }
    key->type = letter;
  }
}

static void CheckKeySequences(WindowHandle dialog) {
  SortParameters *p = &CurrentParameters;
  for (int k = 0; k < kMaxKeys; k++) {
    KeyField *key = &p->keys[k];
    TitleText title = Title(k);
    char text[kShortReadSize];
    char letter = ReadKeyLetterText(dialog, IDC_KEY_SEQUENCE(k), text);
    bool valid = true;
    if (KeyInUse(key)) {
      if (text[0] == '\0') letter = 'a';
      valid = letter == 'a' || letter == 'd';
    }
    if (k == 0 && !valid) Report("%s Key Sequence Must have a Valid Entry!\n", title.text);
    if (!valid) Report("Invalid Input in %s Key Sequence Field!\n", title.text);
    key->sequence = letter;
  }
}

// Stage 9: counts the keys before the first one without a position and returns the sum
// of their lengths. The later keys lose their letters; each of them with a position is
// reported, since a sort would silently leave it out.
static int64_t CountKeys() {
  SortParameters *p = &CurrentParameters;
  int64_t lengthSum = 0;
  bool counting = true;
  p->keyCount = 0;
  for (int k = 0; k < kMaxKeys; k++) {
    KeyField *key = &p->keys[k];
    if (key->position == 0) counting = false;
    if (counting) {
      lengthSum += key->length;
      p->keyCount++;
      continue;
    }
    key->type = ' ';
    key->sequence = ' ';
    if (key->position > 0) Report("Key Declaration Must be Sequential!\n");
  }
  return lengthSum;
}

// Stage 11: arranges the counted keys by position and reports each key that starts inside
// the key before it. The exchange sort swaps only on a strictly greater position, so keys
// at the same position keep their key order. Only neighbours are compared.
static void CheckOverlaps(int64_t lengthSum) {
  const SortParameters *p = &CurrentParameters;
  if (p->keyCount == 1) return;
  if (!gVariableRecords && lengthSum > p->recordLength) {
    Report("\nOverlapping Key Fields NOT Allowed!\n\n");
  }
  int order[kMaxKeys];
  int count = p->keyCount;
  for (int i = 0; i < count; i++) order[i] = i;
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (int i = 0; i + 1 < count; i++) {
      if (p->keys[order[i]].position > p->keys[order[i + 1]].position) {
        int held = order[i];
        order[i] = order[i + 1];
        order[i + 1] = held;
        swapped = true;
      }
    }
  }
  for (int i = 0; i + 1 < count; i++) {
    const KeyField *a = &p->keys[order[i]];
    const KeyField *b = &p->keys[order[i + 1]];
    if (b->position >= a->position && b->position <= int64_t{a->position} + a->length - 1) {
      Report("%s Key Overlaps with %s Key\n", Title(order[i + 1]).text, Title(order[i]).text);
    }
  }
}

// Stage 12: the input file must open as a regular file (relative names against the
// current directory) and hold more than one whole record. Nothing in it is read.
static void CheckInputFile() {
  const SortParameters *p = &CurrentParameters;
  InputFile file;
  if (OpenInputFile(p->inputName, &file) != 0) {
    Report("\nCould NOT Open Input File: %s!\n", p->inputName);
    return;
  }
  uint64_t size = file.size;
  if (!gVariableRecords && p->recordLength > 0 &&
      size % static_cast<uint64_t>(p->recordLength) != 0) {
    Report("\nFile Size NOT Equally Divisible by Record Length!\n");
  }
  if (p->recordLength > 0 && size == static_cast<uint64_t>(p->recordLength)) {
    Report("\nOnly ONE Record in File - No Need To Sort!\n");
  }
  if (size == 0) Report("\n%s File is Empty - No Records to Sort!\n", p->inputName);
  CloseInputFile(&file);
}

// Ends a group of key messages with an empty line, when the stage reported anything.
static void EndMessageGroup(int reportsBefore) {
  if (gReportCount > reportsBefore) AppendErrorText("\n");
}

int ValidateParameters(WindowHandle dialog, int checks) {
  SortParameters *p = &CurrentParameters;
  gFailed = 0;
  gReportCount = 0;
  ClearErrorText();
  p->statisticsFlag = ReadCheckBox(dialog, IDC_STATISTICS) ? 1 : 0;

  if (!BrowsedInput) {
    memset(p->inputName, 0, kNameSize);
    size_t length = ReadField(dialog, IDC_INPUT_NAME, p->inputName, kNameReadSize);
    if ((checks & kCheckInput) && (strchr(p->inputName, '.') == nullptr || length < kMinInputNameLength)) {
      Report("Suspicious Syntax of Input File Name!\n");
    }
  }
  p->inputName[kNameSize - 1] = '\0';  // a browsed name is used as held: keep it bounded
  memset(p->outputName, 0, kNameSize);
  ReadField(dialog, IDC_OUTPUT_NAME, p->outputName, kNameReadSize);
  if ((checks & kCheckOutput) && CountDots(p->outputName) != 1) Report("Suspicious Syntax of Output File Name!\n");
  if (gFailed) return gFailed;

  if (checks & kCheckOutput) RenameEqualOutput(dialog);
  CheckRecordLength(dialog);
  if (strlen(p->inputName) > kMaxNameLength || strlen(p->outputName) > kMaxNameLength) {
    Report("Input or Output File Name\\Path too LONG!\n");
  }
  if (gFailed) return gFailed;
  if ((checks & kCheckKeys) == 0) {
    if (checks & kCheckInput) CheckInputFile();
    return gFailed;
  }

  int reportsBefore = gReportCount;
  CheckKeyPositions(dialog);
  EndMessageGroup(reportsBefore);
  if (ErrorTextLength() > kKeyStageLimit) return gFailed;
  reportsBefore = gReportCount;
  CheckKeyLengths(dialog);
  EndMessageGroup(reportsBefore);
  if (ErrorTextLength() > kKeyStageLimit) return gFailed;
  CheckKeyTypes(dialog);
  AppendErrorText("\n");  // after the types always, so a valid set leaves "\n"
  if (ErrorTextLength() > kKeyStageLimit) return gFailed;
  CheckKeySequences(dialog);
  if (ErrorTextLength() > kSequenceStageLimit) return gFailed;

  int64_t lengthSum = CountKeys();
  if (gVariableRecords && lengthSum > kMaxVariableKeyLength) {
    Report("\nTotal Key Lengths on Variable Length Records \n" "Must be < 250!\n");
  }
  CheckOverlaps(lengthSum);
  if (gFailed) return gFailed;

  if (checks & kCheckInput) CheckInputFile();
  return gFailed;
}

int CheckRecordLength(WindowHandle dialog) {
  SortParameters *p = &CurrentParameters;
  int reportsBefore = gReportCount;
  char text[kShortReadSize];
  size_t length = ReadField(dialog, IDC_RECORD_SIZE, text, sizeof text);
  LowerCase(text);
  if (AllDigits(text)) {
    gVariableRecords = 0;
    p->recordLength = ReadFieldNumber(dialog, IDC_RECORD_SIZE);
  } else if (length >= 3 && strncmp(text, "variable", length) == 0) {
    gVariableRecords = 1;
    p->recordLength = kVariableRecords;
  } else {
    Report("Invalid Input in Record Length Field!\n");
  }
  if (p->recordLength == 0) {
    Report("Record Length Must be > 0!\n");
  } else if (p->recordLength > kMaxRecordLength) {
    Report("Record Length Must be < 4300!\n");
  }
  if (p->recordLength > 0) {
    WriteFieldNumber(dialog, IDC_RECORD_SIZE, static_cast<uint32_t>(p->recordLength));
  } else if (p->recordLength == kVariableRecords) {
    WriteFieldText(dialog, IDC_RECORD_SIZE, "variable");
  }
  return gReportCount > reportsBefore ? 1 : 0;
}

size_t TrimBlanks(char *text) {
  size_t length = strlen(text);
  while (length > 0 && text[length - 1] == ' ') length--;
  text[length] = '\0';
  size_t start = 0;
  while (start < length && text[start] == ' ') start++;
  memmove(text, text + start, length - start + 1);
  return length - start;
}
