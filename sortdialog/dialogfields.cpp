#include "sortdialog/dialogfields.h"

constexpr uint32_t kLargestFieldNumber = 2147483647;

int32_t FieldNumber(const char *text) {
  while (*text == ' ') text++;
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    uint32_t digit = static_cast<uint32_t>(*text - '0');
    if (value > (kLargestFieldNumber - digit) / 10) {
      value = kLargestFieldNumber;  // saturated; the remaining digits change nothing
    } else {
      value = value * 10 + digit;
    }
  }
  return static_cast<int32_t>(value);
}
