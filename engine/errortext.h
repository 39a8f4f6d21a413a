// The error text: one 1024-byte text into which validation and the sort run append
// their messages, shown whole when an operation fails. Whoever starts an operation
// clears it first; every append is bounded, so nothing is ever written past its end.
#ifndef PELMAR_ENGINE_ERRORTEXT_H
#define PELMAR_ENGINE_ERRORTEXT_H

#include <cstdarg>
#include <cstddef>

constexpr size_t kErrorTextSize = 1024;  // at most 1023 characters and a NUL

extern char ErrorText[kErrorTextSize];  // the program's one error text

void ClearErrorText();

// Appends text; a text that does not fit is cut at the capacity.
void AppendErrorText(const char *text);

// Appends a printf-style formatted text, cut at the capacity like AppendErrorText.
void AppendErrorFormat(const char *format, ...) __attribute__((format(printf, 1, 2)));
void AppendErrorFormatList(const char *format, va_list arguments) __attribute__((format(printf, 1, 0)));

size_t ErrorTextLength();

#endif
