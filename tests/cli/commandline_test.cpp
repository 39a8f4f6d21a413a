#include "cli/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/progressline.h"
#include "os/platform.h"
#include "engine/sortrun.h"

namespace {

// What a parse gives, as one line: the action, then each field that differs from its
// default; or "error: " and the reason.
std::string Parse(std::vector<std::string> words) {
  static std::vector<std::string> keep;
  keep = words;
  keep.insert(keep.begin(), "pelmar-sort");
  std::vector<char *> argv;
  for (auto &w : keep) argv.push_back(&w[0]);
  static CommandLine line;
  char error[640] = "";
  if (ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line, error, sizeof error) != 0) {
    return std::string("error: ") + error;
  }
  const char *actions[] = {"sort", "saved", "last", "list", "help", "version", "preferences", "set"};
  std::string text = actions[line.action];
  auto add = [&](const char *name, const char *value) { if (value != nullptr) text += std::string(" ") + name + "=" + value; };
  add("in", line.input);
  add("out", line.output);
  add("size", line.size);
  add("id", line.identifier);
  add("set", line.setting);
  for (int k = 0; k < line.keyCount; k++) {
    text += " key=";
    for (int part = 0; part < kKeyParts; part++) text += std::string(part ? "," : "") + line.keys[k][part];
  }
  for (int k = 0; k < kMaxKeys; k++) {
    if (line.titles[k] != nullptr) text += " title" + std::to_string(k + 1) + "=" + line.titles[k];
  }
  if (line.statistics) text += " stats";
  if (line.save) text += " save";
  if (line.delimiter != -1) text += " delimiter=" + std::to_string(line.delimiter);
  if (line.threads != 0) text += " threads=" + std::to_string(line.threads);
  return text;
}

}  // namespace

TEST(ParseCommandLine, ArgumentsAndWhatTheyGive) {
  const std::string title26(26, 'x');
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"-i", "in.dat", "--output=out.dat", "-s", "80", "-k", "1,2", "--key", "3,,C, d", "-k", "7"},
       "sort in=in.dat out=out.dat size=80 key=1,2,, key=3,,C, d key=7,,,"},
      {{"--saved", "orders_b", "-t", "2=Amount", "--stats", "--delimiter", "lf", "--save"},
       "saved id=orders_b title2=Amount stats save delimiter=2"},
      {{"--list"}, "list"},
      {{"-i", "x", "-h"}, "help in=x"},
      {{"--version"}, "version"},
      {{"--preferences"}, "preferences"},
      {{"--set", "ofni=Mrg"}, "set set=ofni=Mrg"},
      {{"--last", "--threads", "3"}, "last threads=3"},
      {{"--last", "--threads=64", "--delimiter=cr"}, "last delimiter=1 threads=64"},
      // Values attached to short options, "--" ending the options, an empty title ignored.
      {{"-ix.dat", "-k1,2", "-t1=", "--"}, "sort in=x.dat key=1,2,,"},
      {{"-i", "x.dat", "--", "-o"}, "error: unexpected argument '-o'"},
      {{"-hx"}, "error: option '--help' takes no value"},
      {{"--frobnicate", "--help"}, "error: unknown option '--frobnicate'"},  // read in order
      {{"-i"}, "error: option '--input' needs a value"},
      {{"-i", "a.dat", "stray"}, "error: unexpected argument 'stray'"},
      {{"-k", "1,2", "-k", "3,1", "-k", "4,1", "-k", "5,1", "-k", "6,1", "-k", "7,1", "-k", "8,1"}, "error: at most 6 keys"},
      {{"-k", "1,2,c,a,x"}, "error: a key has at most four parts: POS,LEN,TYPE,SEQ, not '1,2,c,a,x'"},
      {{"-t", "7=Seven", "-i", "a.b"}, "error: --title needs a key number from 1 to 6: K=TEXT, not '7=Seven'"},
      {{"-t", "0=Zero", "-i", "a.b"}, "error: --title needs a key number from 1 to 6: K=TEXT, not '0=Zero'"},
      {{"-t", "1=" + title26, "-i", "a.b"}, "error: a key title has at most 25 characters"},
      {{"-t", "6=" + title26.substr(1), "-i", "a.b"}, "sort in=a.b title6=" + title26.substr(1)},
      {{"--delimiter", "crlf", "-i", "a.b"}, "error: --delimiter takes both, cr or lf, not 'crlf'"},
      {{"--threads", "0", "-i", "a.b"}, "error: --threads takes a number from 1 to 64, not '0'"},
      {{"--threads=65", "-i", "a.b"}, "error: --threads takes a number from 1 to 64, not '65'"},
      {{"--threads", "2x", "-i", "a.b"}, "error: --threads takes a number from 1 to 64, not '2x'"},
      {{"--stats=yes"}, "error: option '--stats' takes no value"},
      {{"--saved", "a_b", "--last"}, "error: --saved, --last, --list, --preferences and --set go one at a time"},
      {{"--last", "-i", "a.b"},
       "error: --saved, --last, --list, --preferences and --set take no --input, --output, --size or --key"},
      {{}, "error: nothing to sort: give --input, --output, --size and --key, or --saved or --last"},
  };
  for (const auto &row : rows) EXPECT_EQ(Parse(row.first), row.second);
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
