#include "cli/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/progressline.h"
#include "os/platform.h"
#include "engine/sortrun.h"

namespace {

int Parse(std::vector<std::string> words, CommandLine *line, std::string *error = nullptr) {
  std::vector<char *> argv;
  static std::vector<std::string> keep;
  keep = words;
  keep.insert(keep.begin(), "pelmar-sort");
  for (auto &w : keep) argv.push_back(&w[0]);
  char text[640] = "";
  int result = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), line, text, sizeof text);
  if (error != nullptr) *error = text;
  return result;
}

}  // namespace

TEST(ParseCommandLine, KeysFillTheirPartsAsTyped) {
  static CommandLine line;
  ASSERT_EQ(Parse({"-i", "in.dat", "--output=out.dat", "-s", "80", "-k", "1,2", "--key", "3,,C, d", "-k", "7"}, &line), 0);
  EXPECT_EQ(line.action, kActionSort);
  EXPECT_STREQ(line.input, "in.dat");
  EXPECT_STREQ(line.output, "out.dat");
  EXPECT_STREQ(line.size, "80");
  ASSERT_EQ(line.keyCount, 3);
  EXPECT_STREQ(line.keys[0][0], "1");
  EXPECT_STREQ(line.keys[0][1], "2");
  EXPECT_STREQ(line.keys[0][2], "");
  EXPECT_STREQ(line.keys[1][1], "");
  EXPECT_STREQ(line.keys[1][2], "C");
  EXPECT_STREQ(line.keys[1][3], " d");
  EXPECT_STREQ(line.keys[2][0], "7");
  EXPECT_EQ(line.delimiter, -1);
}

TEST(ParseCommandLine, RefusesWhatItCannotUse) {
  static CommandLine line;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"-i"}, "option '--input' needs a value"},
      {{"-i", "a.dat", "stray"}, "unexpected argument 'stray'"},
      {{"-k", "1,2", "-k", "3,1", "-k", "4,1", "-k", "5,1", "-k", "6,1", "-k", "7,1", "-k", "8,1"}, "at most 6 keys"},
      {{"-k", "1,2,c,a,x"}, "a key has at most four parts: POS,LEN,TYPE,SEQ, not '1,2,c,a,x'"},
      {{"-t", "7=Seven", "-i", "a.b"}, "--title needs a key number from 1 to 6: K=TEXT, not '7=Seven'"},
      {{"-t", "0=Zero", "-i", "a.b"}, "--title needs a key number from 1 to 6: K=TEXT, not '0=Zero'"},
      {{"-t", "1=" + std::string(26, 'x'), "-i", "a.b"}, "a key title has at most 25 characters"},
      {{"--delimiter", "crlf", "-i", "a.b"}, "--delimiter takes both, cr or lf, not 'crlf'"},
      {{"--threads", "0", "-i", "a.b"}, "--threads takes a number from 1 to 64, not '0'"},
      {{"--threads=65", "-i", "a.b"}, "--threads takes a number from 1 to 64, not '65'"},
      {{"--threads", "2x", "-i", "a.b"}, "--threads takes a number from 1 to 64, not '2x'"},
      {{"--stats=yes"}, "option '--stats' takes no value"},
      {{"--saved", "a_b", "--last"}, "--saved, --last, --list, --preferences and --set go one at a time"},
      {{"--last", "-i", "a.b"}, "--saved, --last, --list, --preferences and --set take no --input, --output, --size or --key"},
      {{}, "nothing to sort: give --input, --output, --size and --key, or --saved or --last"},
  };
  for (const auto &c : cases) {
    std::string error;
    EXPECT_EQ(Parse(c.first, &line, &error), 2) << c.second;
    EXPECT_EQ(error, c.second);
  }
}

TEST(ParseCommandLine, ActionsTitlesAndSwitches) {
  static CommandLine line;
  ASSERT_EQ(Parse({"--saved", "orders_b", "-t", "2=Amount", "--stats", "--delimiter", "lf", "--save"}, &line), 0);
  EXPECT_EQ(line.action, kActionSaved);
  EXPECT_STREQ(line.identifier, "orders_b");
  EXPECT_STREQ(line.titles[1], "Amount");
  EXPECT_EQ(line.titles[0], nullptr);
  EXPECT_EQ(line.statistics, 1);
  EXPECT_EQ(line.delimiter, 2);
  EXPECT_EQ(line.threads, 0);
  EXPECT_EQ(line.save, 1);
  ASSERT_EQ(Parse({"--list"}, &line), 0);
  EXPECT_EQ(line.action, kActionList);
  ASSERT_EQ(Parse({"--frobnicate", "--help"}, &line), 2);  // read in order: the unknown option first
  ASSERT_EQ(Parse({"-i", "x", "-h"}, &line), 0);
  EXPECT_EQ(line.action, kActionHelp);

  // Values attached to short options, "--" ending the options, an empty title ignored.
  ASSERT_EQ(Parse({"-ix.dat", "-k1,2", "-t1=", "--", }, &line), 0);
  EXPECT_STREQ(line.input, "x.dat");
  EXPECT_STREQ(line.keys[0][1], "2");
  EXPECT_EQ(line.titles[0], nullptr);
  std::string error;
  EXPECT_EQ(Parse({"-i", "x.dat", "--", "-o"}, &line, &error), 2);
  EXPECT_EQ(error, "unexpected argument '-o'");
  EXPECT_EQ(Parse({"-hx"}, &line, &error), 2);
  EXPECT_EQ(error, "option '--help' takes no value");
  ASSERT_EQ(Parse({"--set", "ofni=Mrg"}, &line), 0);
  EXPECT_EQ(line.action, kActionSet);
  EXPECT_STREQ(line.setting, "ofni=Mrg");
  ASSERT_EQ(Parse({"--last", "--threads", "3"}, &line), 0);
  EXPECT_EQ(line.threads, 3);
}

namespace {

uint32_t gNow = 0;
uint32_t FakeNow() { return gNow; }

std::string Contents(FILE *file) {
  std::string text;
  rewind(file);
  int c;
  while ((c = fgetc(file)) != EOF) text += static_cast<char>(c);
  return text;
}

}  // namespace

TEST(ProgressLine, AppearsAfterAMomentAndIsClearedAtTheEnd) {
  SetClockForTesting(FakeNow, nullptr);
  FILE *terminal = tmpfile();
  gNow = 1000;
  StartProgress(terminal);
  ShowProgress(kPhaseKeying, 10, 100);  // too early: nothing
  gNow = 1000 + kProgressDelay;
  ShowProgress(kPhaseKeying, 42, 100);
  ShowProgress(kPhaseKeying, 42, 100);  // unchanged: not written again
  ShowProgress(kPhaseWriting, 5, 5);
  EndProgress();
  EXPECT_EQ(Contents(terminal),
            "\rpelmar-sort: keying    42%\rpelmar-sort: writing  100%\r" + std::string(28, ' ') + "\r");
  fclose(terminal);

  terminal = tmpfile();  // a quick run shows and clears nothing
  StartProgress(terminal);
  ShowProgress(kPhaseSorting, 1, 2);
  EndProgress();
  EXPECT_EQ(Contents(terminal), "");
  fclose(terminal);
  SetClockForTesting(nullptr, nullptr);
}
