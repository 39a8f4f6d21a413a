#include "sortdialog/textfields.h"

#include <cstdio>
#include <cstring>

#include "engine/sorttypes.h"

static bool HasField(int id) { return id >= 0 && id < kTextFieldCount; }

static size_t ReadFieldText(void *context, int id, char *text, size_t capacity) {
  if (capacity == 0) return 0;
  const char *source = FieldText(static_cast<TextFieldsRecord *>(context), id);
  size_t length = strnlen(source, capacity - 1);
  memcpy(text, source, length);
  text[length] = '\0';
  return length;
}

static int32_t ReadFieldNumber(void *context, int id) {
  return FieldNumber(FieldText(static_cast<TextFieldsRecord *>(context), id));
}

static void WriteFieldText(void *context, int id, const char *text) {
  SetFieldText(static_cast<TextFieldsRecord *>(context), id, text);
}

static void WriteFieldNumber(void *context, int id, uint32_t value) {
  char digits[16];
  snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(value));
  SetFieldText(static_cast<TextFieldsRecord *>(context), id, digits);
}

static int ReadFieldCheck(void *context, int id) {
  const TextFieldsRecord *fields = static_cast<TextFieldsRecord *>(context);
  return HasField(id) && fields->checked[id] ? 1 : 0;
}

static void WriteFieldCheck(void *context, int id, int checked) {
  SetFieldCheck(static_cast<TextFieldsRecord *>(context), id, checked);
}

void ClearTextFields(TextFieldsRecord *fields) { memset(fields, 0, sizeof *fields); }

void SetFieldText(TextFieldsRecord *fields, int id, const char *text) {
  if (!HasField(id) || text == fields->texts[id]) return;  // writing a field's own text back changes nothing
  CopyText(fields->texts[id], kTextFieldSize, text == nullptr ? "" : text);
}

void SetFieldCheck(TextFieldsRecord *fields, int id, int checked) {
  if (HasField(id)) fields->checked[id] = checked ? 1 : 0;
}

const char *FieldText(const TextFieldsRecord *fields, int id) {
  return HasField(id) ? fields->texts[id] : "";
}

DialogFields TextDialogFields(TextFieldsRecord *fields) {
  DialogFields access;
  access.context = fields;
  access.ReadText = ReadFieldText;
  access.ReadNumber = ReadFieldNumber;
  access.WriteText = WriteFieldText;
  access.WriteNumber = WriteFieldNumber;
  access.ReadCheck = ReadFieldCheck;
  access.WriteCheck = WriteFieldCheck;
  return access;
}
