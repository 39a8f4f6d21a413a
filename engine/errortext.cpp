#include "engine/errortext.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

char ErrorText[kErrorTextSize];

void ClearErrorText() { memset(ErrorText, 0, sizeof ErrorText); }

size_t ErrorTextLength() { return strnlen(ErrorText, kErrorTextSize - 1); }

void AppendErrorText(const char *text) {
  size_t used = ErrorTextLength();
  size_t room = kErrorTextSize - 1 - used;
  size_t length = strnlen(text, room);
  memcpy(ErrorText + used, text, length);
  ErrorText[used + length] = '\0';
}

void AppendErrorFormatList(const char *format, va_list arguments) {
  char text[kErrorTextSize];
  vsnprintf(text, sizeof text, format, arguments);
  AppendErrorText(text);
}

void AppendErrorFormat(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  AppendErrorFormatList(format, arguments);
  va_end(arguments);
}
