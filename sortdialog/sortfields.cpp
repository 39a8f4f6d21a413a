#include "sortdialog/sortfields.h"

#include "engine/sorttypes.h"
#include "resources/resource.h"
#include "storage/parameterfiles.h"

static const char kVariableText[] = "variable";

// A number above 0 as digits; anything else empties the field.
static void WriteCount(const DialogFields *fields, int id, int32_t value) {
  if (value > 0) {
    fields->WriteNumber(fields->context, id, static_cast<uint32_t>(value));
  } else {
    fields->WriteText(fields->context, id, "");
  }
}

// A letter as a one-character text; a blank or a zero byte empties the field.
static void WriteLetter(const DialogFields *fields, int id, char letter) {
  const char text[2] = {letter == ' ' ? '\0' : letter, '\0'};
  fields->WriteText(fields->context, id, text);
}

void FillDialogFields(const DialogFields *fields) {
  const SortParameters *p = &CurrentParameters;
  fields->WriteText(fields->context, IDC_INPUT_NAME, p->inputName);
  fields->WriteText(fields->context, IDC_OUTPUT_NAME, p->outputName);
  if (p->recordLength > 0) {
    fields->WriteNumber(fields->context, IDC_RECORD_SIZE, static_cast<uint32_t>(p->recordLength));
  } else if (p->recordLength == 0) {
    fields->WriteText(fields->context, IDC_RECORD_SIZE, "");
  } else if (p->recordLength == kVariableRecords) {
    fields->WriteText(fields->context, IDC_RECORD_SIZE, kVariableText);
  }
  if (p->statisticsFlag == 1) fields->WriteCheck(fields->context, IDC_STATISTICS, 1);
  for (int k = 0; k < kMaxKeys; k++) {
    WriteCount(fields, IDC_KEY_POSITION(k), p->keys[k].position);
    WriteCount(fields, IDC_KEY_LENGTH(k), p->keys[k].length);
    WriteLetter(fields, IDC_KEY_TYPE(k), p->keys[k].type);
    WriteLetter(fields, IDC_KEY_SEQUENCE(k), p->keys[k].sequence);
  }
}
