// Field access for the Sort dialog's logic: every field is reached by its control
// identifier (resources/resource.h) through these six calls, whether the fields are the
// dialog's real controls or plain texts (textfields.h, used by pelmar-sort and the tests).
#ifndef PELMAR_SORTDIALOG_DIALOGFIELDS_H
#define PELMAR_SORTDIALOG_DIALOGFIELDS_H

#include <cstddef>
#include <cstdint>

// One set of fields. Every call gets context first; an identifier without a field reads
// as an empty text, the number 0 and an unchecked box, and ignores writes.
struct DialogFields {
  void *context;  // the implementation's own record: the dialog window, or a TextFieldsRecord

  // Copies at most capacity-1 characters of the field's text into text and terminates
  // it; returns the number of characters copied. Nothing is written when capacity is 0.
  size_t (*ReadText)(void *context, int id, char *text, size_t capacity);

  // The field number of the field's whole text (FieldNumber).
  int32_t (*ReadNumber)(void *context, int id);

  // Replaces the field's text.
  void (*WriteText)(void *context, int id, const char *text);

  // Replaces the field's text by value in plain decimal digits.
  void (*WriteNumber)(void *context, int id, uint32_t value);

  // 1 when the check box is checked, else 0.
  int (*ReadCheck)(void *context, int id);

  // Checks (1) or unchecks (0) the check box.
  void (*WriteCheck)(void *context, int id, int checked);
};

// The field number of a text: the value of the decimal digits at its start after any
// leading blanks (spaces), reading up to the first character that is not a digit; 0 when
// there are none. So "12  " is 12, "12x" is 12 and "x12" is 0.
// A value above 2147483647 gives 2147483647: a field number is never negative, so a
// typed number can never turn into the record length -1 of variable-length records or
// into a position before the record's start.
int32_t FieldNumber(const char *text);

#endif
