#include "engine/statreport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "engine/errortext.h"
#include "engine/sortrun.h"
#include "os/platform.h"
#include "tests/support/model.h"
#include "tests/support/testfiles.h"

namespace {

uint32_t gTick = 0;
const uint32_t kSteps[] = {1000, 1010, 1030, 1060, 1100};
uint32_t FakeMilliseconds() { return kSteps[gTick++ % 5]; }
void FakeLocalTime(LocalTime *t) { *t = LocalTime{2026, 12, 6, 9, 5}; }

}  // namespace

// Right-aligned in eleven characters with a comma after every third digit; ten digits or
// more take the room they need.
TEST(FormatCount, RightAlignsWithCommasAndWidensPastNineDigits) {
  const std::pair<uint64_t, const char *> rows[] = {
      {0, "          0"}, {997, "        997"}, {1234, "      1,234"}, {1000000, "  1,000,000"},
      {999999999, "999,999,999"}, {1234567890, "1,234,567,890"}, {18446744073709551615u, "18,446,744,073,709,551,615"}};
  char field[kCountFieldSize];
  for (const auto &row : rows) {
    FormatCount(row.first, field);
    EXPECT_STREQ(field, row.second);
  }
  FormatSignedCount(-1234, field);
  EXPECT_STREQ(field, "     -1,234");
}

// A count that outgrows the field widens its whole column, so the column stays aligned.
TEST(StatisticsReport, FooterColumnsWidenTogether) {
  FILE *file = tmpfile();
  ASSERT_NE(file, nullptr);
  const uint32_t t[5] = {0, 10, 20, 30, 40};
  WriteStatisticsFooter(file, 5000000000u, 12, t);
  std::string text(512, '\0');
  rewind(file);
  text.resize(fread(&text[0], 1, text.size(), file));
  fclose(file);
  EXPECT_EQ(text.substr(0, 125),
            "\r\n  Number of Sort Compares:5,000,000,000"
            "\r\n Number of Merge Compares:           12"
            "\r\n Total Number of Compares:5,000,000,012\r\n");
  EXPECT_NE(text.find("\r\n      Prep Time:         10 Clicks"), std::string::npos);  // 11 wide as before
}

// The report's path holds at most 255 characters: a folder that makes it exactly 255 is
// taken, one character more is not.
TEST(OpenStatisticsFile, TheReportPathHoldsAtMost255Characters) {
  TempFolder folder;
  const size_t room = 255 - strlen(kStatisticsFileName);
  ASSERT_LT(folder.path.size() + 2, room);
  const std::string longest = folder.path + "/" + std::string(room - folder.path.size() - 1, 'd');
  ASSERT_TRUE(std::filesystem::create_directory(longest));
  ASSERT_TRUE(std::filesystem::create_directory(longest + "e"));
  OutputFile output;
  memset(&output, 0, sizeof output);
  FILE *report = OpenStatisticsFile(longest.c_str(), nullptr, 0, &output);
  EXPECT_NE(report, nullptr);
  if (report != nullptr) fclose(report);
  EXPECT_EQ(OpenStatisticsFile((longest + "e").c_str(), nullptr, 0, &output), nullptr);
}

// A whole report, byte for byte: three 4-byte records, two keys, a fixed clock.
TEST(StatisticsReport, GoldenBytesOfAFixedLengthRun) {
  TempFolder folder;
  const std::string input = folder.File("in.dat"), output = folder.File("out.dat");
  WriteFile(input, "b1xxa2xxc3xx");
  ParameterRecord job = MakeJob(input, output, 4, {KeyField{1, 1, 'c', 'a', 0}, KeyField{2, 1, 'a', 'd', 0}});
  CopyText(job.keyTitles[1], kKeyTitleSize, "A Title Of 25 Characters!");
  const std::string expected =
      "\r\n  Date - 12/06/2026   Time - 09:05 \r\n"
      "\r\n  Input File: " + input +
      "\r\n Output File: " + output + "\r\n"
      "\r\n Keys Used:\r\n"
      "   Key 1:                Position:   1  Length:   1\r\n"
      "   A Title Of 25 Characters!  Position:   2  Length:   1\r\n"
      "\r\n Number of Records:          3"
      "\r\n Record Size:          4 Bytes\r\n"
      "\r\n Allocated Memory Usage:      2,094 Bytes\r\n"
      "\r\n Number of Sort Groups:          1\r\n"
      "\r\n Stack Recursion Statistics for Each Sort Group\r\n \r\n"
      " Lo Branch =    1  Hi Branch =    1   Returns =    2  Stack Depth =    1\r\n"
      "\r\n  Number of Sort Compares:          1"
      "\r\n Number of Merge Compares:          0"
      "\r\n Total Number of Compares:          1\r\n"
      "\r\n      Prep Time:         10 Clicks"
      "\r\n      Sort Time:         20 Clicks"
      "\r\n     Merge Time:         30 Clicks"
      "\r\nWrite File Time:         40 Clicks"
      "\r\n Total Run Time:        100 Clicks at 1000.00 Clicks/Second"
      "\r\n\r\n";
  job.statisticsFlag = 1;
  CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder.path.c_str());
  gTick = 0;
  SetClockForTesting(FakeMilliseconds, FakeLocalTime);
  ClearErrorText();
  EXPECT_EQ(SortRun(&job), 0) << ErrorText;
  SetClockForTesting(nullptr, nullptr);
  EXPECT_EQ(ReadFile(folder.File("SortStat.txt")), expected);
  EXPECT_EQ(ReadFile(output), "a2xxb1xxc3xx");
}
