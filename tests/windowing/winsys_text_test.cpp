// pelmar-sort's plain-text dialog: the field rules every implementation of the dialog
// operations shares, over texts held in memory.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "resources/resource.h"
#include "windowing/winsys.h"

TEST(FieldNumber, ReadsLeadingDigitsAndNeverTurnsNegative) {
  const std::pair<const char *, int32_t> rows[] = {{"  12  ", 12}, {"12x", 12}, {"x12", 0}, {"", 0},
                                                   {"4294967295", 2147483647}, {"99999999999999999999x", 2147483647}};
  for (const auto &row : rows) EXPECT_EQ(FieldNumber(row.first), row.second) << row.first;
}

TEST(TextDialog, FieldsHold511CharactersAndReadsKeepOneLessThanTheBuffer) {
  char text[10], whole[1024];
  WriteFieldText(nullptr, IDC_RECORD_SIZE, "0123456789abc");
  EXPECT_EQ(ReadFieldText(nullptr, IDC_RECORD_SIZE, text, sizeof text), 9u);
  EXPECT_STREQ(text, "012345678");
  EXPECT_EQ(ReadFieldNumber(nullptr, IDC_RECORD_SIZE), 123456789);  // from the whole text
  WriteFieldText(nullptr, IDC_INPUT_NAME, std::string(600, 'n').c_str());
  ReadFieldText(nullptr, IDC_INPUT_NAME, whole, sizeof whole);
  EXPECT_EQ(std::string(whole), std::string(511, 'n'));
  WriteFieldText(nullptr, 128, "ignored");  // past every control of both dialogs
  EXPECT_EQ(ReadFieldText(nullptr, 128, whole, sizeof whole) + ReadFieldText(nullptr, -1, text, sizeof text), 0u);
}
