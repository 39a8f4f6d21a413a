#include "engine/statreport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "engine/errortext.h"
#include "engine/sortrun.h"
#include "os/platform.h"
#include "tests/support/model.h"
#include "tests/support/tables.h"
#include "tests/support/testfiles.h"

namespace {

uint32_t gTick = 0;
const uint32_t kSteps[] = {1000, 1010, 1030, 1060, 1100};
uint32_t FakeMilliseconds() { return kSteps[gTick++ % 5]; }
void FakeLocalTime(LocalTime *t) { *t = LocalTime{2026, 12, 6, 9, 5}; }

}  // namespace

// statreport.txt's counts.
TEST(FormatCount, RightAlignsWithCommasAndWidensPastNineDigits) {
  PlayTable(PELMAR_ENGINE_DATA "statreport.txt", 29, [](const TableRow &row) {
    char field[kCountFieldSize];
    if (row.words[0] != "count") return;
    if (row.words[1][0] == '-') FormatSignedCount(std::stoll(row.words[1]), field);
    else FormatCount(std::stoull(row.words[1]), field);
    EXPECT_EQ(std::string(field), row.words[2]);
  });
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

// A whole report, byte for byte (statreport.txt): three 4-byte records, two keys, a fixed clock.
TEST(StatisticsReport, GoldenBytesOfAFixedLengthRun) {
  TempFolder folder;
  const std::string input = folder.File("in.dat"), output = folder.File("out.dat");
  WriteFile(input, "b1xxa2xxc3xx");
  ParameterRecord job = MakeJob(input, output, 4, {KeyField{1, 1, 'c', 'a', 0}, KeyField{2, 1, 'a', 'd', 0}});
  CopyText(job.keyTitles[1], kKeyTitleSize, "A Title Of 25 Characters!");
  std::string expected;
  PlayTable(PELMAR_ENGINE_DATA "statreport.txt", 29, [&](const TableRow &row) { expected += row.words[0] == "count" ? "" : row.words[0]; });
  expected.replace(expected.find("{input}"), 7, input).replace(expected.find("{output}"), 8, output);
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
