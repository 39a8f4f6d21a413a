// pelmar-sort end to end, as transcripts: the built program run in a fresh folder holding
// the given files, each command's exit status, standard output and standard error, and
// the files it leaves. How records are sorted is the engine's to prove; these show what
// the command line adds: options reaching the run, statuses, messages and reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/sorttypes.h"
#include "tests/support/testfiles.h"

namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;  // name and bytes; a name ending in '/' is a folder
const std::string kSep(1, kPathSeparator);                       // in a report's path after its folder
const std::string kTerminated = "\n* * * ERRORS! - Sort Terminated * * *\n";

struct Step {  // pelmar-sort's arguments, and its exit status, standard output and standard error
  std::vector<std::string> arguments;
  int status;
  std::string out, err;  // "A..." matches any text that starts with A
};

bool Matches(const std::string &text, const std::string &expected) {
  const size_t cut = expected.size() - 3;
  return expected.size() > 3 && expected.substr(cut) == "..." ? text.substr(0, cut) == expected.substr(0, cut) : text == expected;
}

// Runs the steps in a fresh folder that holds files, and then compares the files after.
void Play(const Files &files, const std::vector<Step> &steps, const Files &after) {
  TempFolder folder;
  for (const auto &file : files) {
    fs::create_directories(fs::path(folder.File(file.first)).parent_path());
    if (file.first.back() != '/') WriteFile(folder.File(file.first), file.second);
  }
  for (const Step &step : steps) {
    std::vector<std::string> arguments = step.arguments;
    arguments.insert(arguments.begin(), PELMAR_SORT_PROGRAM);
    std::string out, err;
    EXPECT_EQ(RunProgramIn(folder.path, arguments, &out, &err), step.status) << testing::PrintToString(step.arguments);
    EXPECT_PRED2(Matches, out, step.out);
    EXPECT_PRED2(Matches, err, step.err);
  }
  for (const auto &file : after) EXPECT_EQ(ReadFile(folder.File(file.first)), file.second) << file.first;
}

}  // namespace

TEST(PelmarSort, Transcripts) {
  const std::string done = "Sort Is Done!\n", noEntry = "' is not an entry identifier: a base name, '_' and a letter, as --list shows them\n";
  const std::string big = "big.dat";  // takes run files within 16M of memory, not within the default
  Play({{"d/in.dat", "bb2\ndd4\naa1\ncc3\n"}, {"e/in.dat", "bbaa"}, {"e/SortStat.txt/", ""},
        {big, std::string(200000, 'x')}, {"runs/", ""}, {"orders.dat", "a1c0b2"}, {"o&k.dat", "c0b2a1"}, {"in.txt", "zz\naa\nmm\n"}},
       {{{"--help"}, 0, "Usage:\n  pelmar-sort --input IN --output OUT...", ""},
        {{"--version"}, 0, "pelmar-sort 1.0\n", ""},
        {{"-i", big, "-S", "15M"}, 2, "", "pelmar-sort: --memory takes at least 16M, not '15M' (see pelmar-sort --help)\n"},
        {{"-i", "d/in.dat", "-o", "out.dat", "-s", "4", "-k", "1,2,c,d", "--stats"}, 0, done + "d" + kSep + "SortStat.txt\n", ""},
        {{"-iout.dat", "--output=back.dat", "-s4", "-k1,2", "--stats", "--threads=2"}, 0, done + "." + kSep + "SortStat.txt\n", ""},
        {{"-i", "e/in.dat", "-o", "e.dat", "-s", "2", "-k", "1,2", "--stats"}, 0, done, "Could NOT Open Statistics File: e" + kSep + "SortStat.txt\n"},
        {{"--last"}, 1, "", "pelmar-sort: no parameters were saved here yet (a sort with --save saves them)\n"},
        {{"-i", big, "-o", "o.dat", "-s", "4", "-k", "1,3,u", "-t", "1=Amount"}, 1, "", "Amount Integer Type Must have a even Lenth!\n  Usually 2 or 4!\n\n"},
        {{"-i", big, "-o", "o.dat", "-s", "1", "-k", "1,1", "-S", "16M", "-T", "nowhere"}, 1, "", "\n Could NOT Create Temporary File in: nowhere!\n" + kTerminated},
        {{"-i", big, "-o", "o.dat", "-s", "1", "-k", "1,1", "-S", "16M", "-T", "runs"}, 0, done, ""},
        {{"-i", big, "-o", "o.dat", "-s", "1", "-k", "1,1", "-T", "nowhere"}, 0, done, ""},
        {{"--set", "user-files=on"}, 0, "user-files=on\n", ""},
        {{"-i", "orders.dat", "-o", "o.dat", "-s", "2", "-k", "2,1,a,d", "--save"}, 0, done, ""},
        {{"-i", "o&k.dat", "-o", "o.dat", "-s", "2", "-k", "1,1", "--save"}, 0, done, ""},
        {{"--list"}, 0, "'o&k_a'\norders_a\n", ""},
        {{"--last"}, 0, done, ""},
        {{"--saved", "orders_a"}, 0, done, ""},
        {{"--saved", "orders_b"}, 1, "", "  * * ERROR * *\n(b) Corrupted SPT File!\npelmar-sort: there is no saved entry orders_b (--list shows those there are)\n"},
        {{"--saved", "../x_a"}, 2, "", "pelmar-sort: '../x_a" + noEntry},
        {{"--set", "delimiter=LF only"}, 0, "delimiter=lf\n", ""},
        {{"-i", "in.txt", "-o", "back.txt", "-s", "variable", "-k", "1,2,a,d"}, 0, done, ""},
        {{"-i", "in.txt", "-o", "x.txt", "-s", "var", "-k", "1,2", "--delimiter", "both"}, 1, "", "\n Longest Variable Record Length  = 6\n..."},
        {{"--set", "ofni= Mrg "}, 0, "ofni=Mrg\n", ""},
        {{"--set", "browse-folder=D:"}, 1, "", "pelmar-sort: browse-folder needs more than 2 characters\n"},
        {{"--set", "last-path=on"}, 0, "last-path=on\n", ""},
        {{"--preferences"}, 0, "browse-folder=C:\\\nofni=Mrg\ndelimiter=lf\nuser-files=on\ngo-to-sort=off\nstay=off\nlast-path=on\nkey-titling=off\n", ""},
        {{"--set", "browse-folder=D:\\data"}, 1, "", "pelmar-sort: browse-folder is not used while last-path is on\n"},
        {{"--set", "ofni=ab$"}, 1, "", "  * * ERROR * *\nInvalid Characters in O F N I!\n"},
        {{"--set", "ofni= "}, 2, "", "pelmar-sort: ofni takes 1 to 4 letters, digits, '-', '_' or '~'\n"},
        {{"--set", "stay=maybe"}, 2, "", "pelmar-sort: stay takes on or off, not 'maybe'\n"},
        {{"--set", "colour=red"}, 2, "", "pelmar-sort: --set takes NAME=VALUE with a NAME that --preferences shows, not 'colour=red'\n"}},
       {{"back.dat", "aa1\nbb2\ncc3\ndd4\n"}, {"o.dat", "b2a1c0"}, {"back.txt", "zz\r\nmm\r\naa\r\n"}});
  // What cannot be written fails the command.
  Play({{"in.dat", "bbaa"}, {"spt.spt/", ""}, {"Pelmar.ini/", ""}},
       {{{"-i", "in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2", "--save"}, 1, done, "* * Warning * *\nInternal Program Error:\n  Could NOT Open SPT File!\n"},
        {{"--set", "stay=on"}, 1, "", "pelmar-sort: could not write ..."}},
       {{"out.dat", "aabb"}});
}
