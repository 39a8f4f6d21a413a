// Dialog fields over plain texts: the Sort dialog's fields without a window. pelmar-sort
// fills them from its command line, validates through TextDialogFields and reads the
// repaired texts back; the tests do the same. Call order: ClearTextFields, SetFieldText
// and SetFieldCheck for each given field, TextDialogFields, then FieldText to read back.
#ifndef PELMAR_SORTDIALOG_TEXTFIELDS_H
#define PELMAR_SORTDIALOG_TEXTFIELDS_H

#include <cstddef>

#include "sortdialog/dialogfields.h"

constexpr int kTextFieldCount = 64;       // identifiers 0 to 63: every Sort dialog control
constexpr size_t kTextFieldSize = 512;    // a field text of at most 511 characters and a NUL

// The texts and check states of one set of fields.
struct TextFieldsRecord {
  char texts[kTextFieldCount][kTextFieldSize];  // text of field id, NUL-terminated
  int checked[kTextFieldCount];                 // 1: check box id is checked
};

// Empties every text and unchecks every box.
void ClearTextFields(TextFieldsRecord *fields);

// Sets the text of field id; a longer text is cut at 511 characters, which is more than
// any reader examines. An identifier outside 0 to 63 is ignored.
void SetFieldText(TextFieldsRecord *fields, int id, const char *text);

// Checks (1) or unchecks (0) box id.
void SetFieldCheck(TextFieldsRecord *fields, int id, int checked);

// The current text of field id; an empty text for an identifier outside 0 to 63.
const char *FieldText(const TextFieldsRecord *fields, int id);

// The DialogFields that read and write fields. fields must outlive every use of them.
DialogFields TextDialogFields(TextFieldsRecord *fields);

#endif
