// pelmar-sort's plain-text dialog: the field rules every implementation of the dialog
// operations shares, over texts held in memory.
#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "windowing/winsys.h"

TEST(FieldNumber, ReadsLeadingDigitsAndNeverTurnsNegative) {
  EXPECT_EQ(FieldNumber("  12  "), 12);
  EXPECT_EQ(FieldNumber("12x"), 12);
  EXPECT_EQ(FieldNumber("x12"), 0);
  EXPECT_EQ(FieldNumber("1 2"), 1);
  EXPECT_EQ(FieldNumber(""), 0);
  EXPECT_EQ(FieldNumber("2147483647"), 2147483647);
  EXPECT_EQ(FieldNumber("4294967295"), 2147483647);  // as signed 32 bits it would be -1
  EXPECT_EQ(FieldNumber("99999999999999999999x"), 2147483647);
}

TEST(TextDialog, ReadKeepsAtMostOneLessThanTheBuffer) {
  WriteFieldText(nullptr, IDC_RECORD_SIZE, "0123456789abc");
  char text[10];
  EXPECT_EQ(ReadFieldText(nullptr, IDC_RECORD_SIZE, text, sizeof text), 9u);
  EXPECT_STREQ(text, "012345678");
  EXPECT_EQ(ReadFieldNumber(nullptr, IDC_RECORD_SIZE), 123456789);  // from the whole text
  WriteFieldNumber(nullptr, IDC_RECORD_SIZE, 4301);
  char whole[1024];
  ReadFieldText(nullptr, IDC_RECORD_SIZE, whole, sizeof whole);
  EXPECT_STREQ(whole, "4301");
  WriteFieldText(nullptr, IDC_INPUT_NAME, std::string(600, 'n').c_str());
  ReadFieldText(nullptr, IDC_INPUT_NAME, whole, sizeof whole);
  EXPECT_EQ(std::string(whole), std::string(511, 'n'));  // a field holds 511 characters
  WriteFieldText(nullptr, 128, "ignored");                // past every control of both dialogs
  EXPECT_EQ(ReadFieldText(nullptr, 128, whole, sizeof whole), 0u);
  EXPECT_EQ(ReadFieldText(nullptr, -1, text, sizeof text), 0u);
}
