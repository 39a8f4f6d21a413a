#include "cli/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/progressline.h"
#include "engine/sortrun.h"
#include "os/platform.h"

namespace {

// What a parse gives, as one line: the action and what only the parse shows (the keys' parts
// as typed, the titles, delimiter, threads, memory and folder); or "error: " and the reason.
std::string Parse(std::vector<std::string> words) {
  static std::vector<std::string> keep;  // the parsed line points into these
  keep = words;
  keep.insert(keep.begin(), "pelmar-sort");
  std::vector<char *> argv;
  for (auto &word : keep) argv.push_back(&word[0]);
  static CommandLine line;
  char error[640] = "";
  if (ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line, error, sizeof error) != 0) return std::string("error: ") + error;
  const char *const actions[] = {"sort", "saved", "last", "list", "help", "version", "preferences", "set"};
  std::string text = actions[line.action];
  for (int k = 0; k < line.keyCount; k++) text += " key=" + std::string(line.keys[k][0]) + "," + line.keys[k][1] + "," + line.keys[k][2] + "," + line.keys[k][3];
  for (int k = 0; k < kMaxKeys; k++) text += line.titles[k] == nullptr ? "" : " title" + std::to_string(k + 1) + "=" + line.titles[k];
  if (line.delimiter >= 0) text += " delimiter=" + std::to_string(line.delimiter);
  if (line.threads != 0) text += " threads=" + std::to_string(line.threads);
  if (line.memory != 0) text += " memory=" + std::to_string(line.memory);
  return line.temporaryFolder == nullptr ? text : text + " tmp=" + line.temporaryFolder;
}

}  // namespace

// Each reason the parser gives is here once; pelmar-sort's transcripts show how one reaches
// the terminal, and run the options whose effect shows there.
TEST(ParseCommandLine, ArgumentsAndWhatTheyGive) {
  const std::string x25(25, 'x'), d200(200, 'd');
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"-ix", "-k", "1,2", "--key", "3,,C, d", "-k7", "-t1=", "-t", "6=" + x25, "--"}, "sort key=1,2,, key=3,,C, d key=7,,, title6=" + x25},
      {{"--saved", "a_b", "-t", "2=A", "--stats", "--save"}, "saved title2=A"},
      {{"-i", "x", "-h", "--bogus"}, "help"},  // help and version end the reading
      {{"--last", "--threads", "1", "--delimiter=cr"}, "last delimiter=1 threads=1"},
      {{"--last", "--threads=64", "-S", "2g", "-T", d200}, "last threads=64 memory=2147483648 tmp=" + d200},
      {{"--last", "--memory=65536k", "--temporary-directory=/var/tmp"}, "last memory=67108864 tmp=/var/tmp"},
      {{"--last", "-S16777216"}, "last memory=16777216"},
      {{"--last", "-S", "16777215"}, "error: --memory takes at least 16M, not '16777215'"},
      {{"--last", "-S", "1T"}, "error: --memory takes a size such as 512M or 2G, not '1T'"},
      {{"--last", "-S", "-1"}, "error: --memory takes a size such as 512M or 2G, not '-1'"},
      {{"--last", "-S", "17179869184G"}, "error: --memory takes a size such as 512M or 2G, not '17179869184G'"},
      {{"--last", "-T", ""}, "error: --temporary-directory takes a folder name of 1 to 200 characters"},
      {{"--last", "-T", d200 + "d"}, "error: --temporary-directory takes a folder name of 1 to 200 characters"},
      {{"-i", "x.dat", "--", "-o"}, "error: unexpected argument '-o'"},
      {{"-hx"}, "error: option '--help' takes no value"},
      {{"--frobnicate", "--help"}, "error: unknown option '--frobnicate'"},
      {{"-i"}, "error: option '--input' needs a value"},
      {{"-k", "1", "-k", "2", "-k", "3", "-k", "4", "-k", "5", "-k", "6", "-k", "7"}, "error: at most 6 keys"},
      {{"-k", "1,2,c,a,x"}, "error: a key has at most four parts: POS,LEN,TYPE,SEQ, not '1,2,c,a,x'"},
      {{"-t", "7=Seven"}, "error: --title needs a key number from 1 to 6: K=TEXT, not '7=Seven'"},
      {{"-t", "0=Zero"}, "error: --title needs a key number from 1 to 6: K=TEXT, not '0=Zero'"},
      {{"-t", "1=" + x25 + "x"}, "error: a key title has at most 25 characters"},
      {{"--delimiter", "crlf"}, "error: --delimiter takes both, cr or lf, not 'crlf'"},
      {{"--threads", "0"}, "error: --threads takes a number from 1 to 64, not '0'"},
      {{"--threads=65"}, "error: --threads takes a number from 1 to 64, not '65'"},
      {{"--threads", "2x"}, "error: --threads takes a number from 1 to 64, not '2x'"},
      {{"--saved", "a_b", "--last"}, "error: --saved, --last, --list, --preferences and --set go one at a time"},
      {{"--last", "-i", "a.b"}, "error: --saved, --last, --list, --preferences and --set take no --input, --output, --size or --key"},
      {{"-t", "1=A"}, "error: nothing to sort: give --input, --output, --size and --key, or --saved or --last"},
  };
  for (const auto &row : rows) EXPECT_EQ(Parse(row.first), row.second);
}

// The line appears only once the run has taken a moment, and only what was shown is cleared.
TEST(ProgressLine, ShowsPhaseAndPercentAfterAMomentAndClearsWhatItShowed) {
  static uint32_t now = 0;
  SetClockForTesting([] { return now; }, nullptr);
  for (uint32_t after : {kProgressDelay, uint32_t{0}}) {
    FILE *terminal = tmpfile();
    StartProgress(terminal);
    now += after;
    ShowProgress(kPhaseWriting, 5, 5);
    ShowProgress(kPhaseKeying, 42, 100);
    EndProgress();
    std::string text(100, '\0');
    rewind(terminal);
    text.resize(fread(&text[0], 1, text.size(), terminal));
    fclose(terminal);
    EXPECT_EQ(text, after == 0 ? "" : "\rpelmar-sort: writing  100%\rpelmar-sort: keying    42%\r" + std::string(28, ' ') + "\r");
  }
  SetClockForTesting(nullptr, nullptr);
}
