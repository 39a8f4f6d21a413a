#include "sortdialog/textfields.h"

#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"

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

TEST(TextFields, ReadKeepsAtMostOneLessThanTheBuffer) {
  TextFieldsRecord record;
  ClearTextFields(&record);
  DialogFields fields = TextDialogFields(&record);
  fields.WriteText(fields.context, IDC_RECORD_SIZE, "0123456789abc");
  char text[10];
  EXPECT_EQ(fields.ReadText(fields.context, IDC_RECORD_SIZE, text, sizeof text), 9u);
  EXPECT_STREQ(text, "012345678");
  EXPECT_EQ(fields.ReadNumber(fields.context, IDC_RECORD_SIZE), 123456789);  // from the whole text
  fields.WriteNumber(fields.context, IDC_RECORD_SIZE, 4301);
  EXPECT_STREQ(FieldText(&record, IDC_RECORD_SIZE), "4301");
  SetFieldText(&record, IDC_INPUT_NAME, std::string(600, 'n').c_str());
  EXPECT_EQ(std::string(FieldText(&record, IDC_INPUT_NAME)), std::string(kTextFieldSize - 1, 'n'));
  SetFieldText(&record, kTextFieldCount, "ignored");
  EXPECT_STREQ(FieldText(&record, kTextFieldCount), "");
  EXPECT_EQ(fields.ReadText(fields.context, -1, text, sizeof text), 0u);
}
