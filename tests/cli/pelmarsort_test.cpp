// pelmar-sort end to end, as transcripts: the built program run in a fresh folder holding
// the given files, each command's exit status, standard output and standard error, and
// the files it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/sorttypes.h"
#include "tests/support/testfiles.h"

namespace {

const std::string kAbsent = "<absent>";      // a file that must not exist
const std::string kFolder = "<folder>";      // a folder made in the file's place
const std::string kSep(1, kPathSeparator);  // in a report's path after its folder
const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *\n";

// A settings file with "Create User .spt Files" as given, a delimiter and a window top.
std::string Settings(int userFiles, int delimiter, const char *ofni = "Srt") {
  std::string bytes(302, '\0');
  memcpy(&bytes[0], "plm", 3);
  memcpy(&bytes[4], "C:\\", 3);
  memcpy(&bytes[258], ofni, strlen(ofni));
  bytes[266] = static_cast<char>(userFiles);
  bytes[274] = 7;
  bytes[294] = static_cast<char>(delimiter);
  return bytes;
}

struct Step {
  std::vector<std::string> arguments;
  int status;
  std::string out;  // "~A\tB": holds A and B
  std::string err;
};

struct Transcript {
  const char *what;
  std::vector<std::pair<std::string, std::string>> files;  // before: name, bytes
  std::vector<Step> steps;
  std::vector<std::pair<std::string, std::string>> after;  // name, bytes, kAbsent
};

void Play(const Transcript &t) {
  SCOPED_TRACE(t.what);
  TempFolder folder;
  for (const auto &file : t.files) {
    std::filesystem::create_directories(std::filesystem::path(folder.File(file.first)).parent_path());
    if (file.second == kFolder) std::filesystem::create_directory(folder.File(file.first));
    else WriteFile(folder.File(file.first), file.second);
  }
  for (const Step &step : t.steps) {
    std::vector<std::string> arguments = step.arguments;
    arguments.insert(arguments.begin(), PELMAR_SORT_PROGRAM);
    std::string out, err;
    EXPECT_EQ(RunProgramIn(folder.path, arguments, &out, &err), step.status) << arguments[1] << "\n" << err;
    if (step.out.rfind("~", 0) == 0) {
      for (size_t at = 1, end; at < step.out.size(); at = end + 1) {
        end = std::min(step.out.find('\t', at), step.out.size());
        EXPECT_NE(out.find(step.out.substr(at, end - at)), std::string::npos) << step.out.substr(at, end - at);
      }
    } else {
      EXPECT_EQ(out, step.out) << arguments[1];
    }
    EXPECT_EQ(err, step.err) << arguments[1];
  }
  for (const auto &file : t.after) {
    if (file.second == kAbsent) EXPECT_FALSE(FileExists(folder.File(file.first))) << file.first;
    else EXPECT_EQ(ReadFile(folder.File(file.first)), file.second) << file.first;
  }
}

}  // namespace

TEST(PelmarSort, Transcripts) {
  const std::string help = " (see pelmar-sort --help)\n";
  const std::string notAnEntry = "' is not an entry identifier: a base name, '_' and a letter, as --list shows them\n";
  const Transcript transcripts[] = {
      {"help, version and usage errors", {},
       {{{"--help"}, 0, "~Usage:\t--saved ID | --last\t-k 17,4,i,d\t-s variable\tKey types\tExit status: 0", ""},
        {{"--version"}, 0, "pelmar-sort 1.0\n", ""},
        {{"--bogus"}, 2, "", "pelmar-sort: unknown option '--bogus'" + help},
        {{"-o"}, 2, "", "pelmar-sort: option '--output' needs a value" + help},
        {{"-t", "9=x", "-i", "a.b"}, 2, "", "pelmar-sort: --title needs a key number from 1 to 6: K=TEXT, not '9=x'" + help}},
       {}},
      {"a fixed-length sort, nothing saved without --save", {{"in.dat", "dd4\ncc3\nbb2\naa1\n"}},
       {{{"-i", "in.dat", "-o", "out.dat", "-s", "4", "-k", "1,2"}, 0, "Sort Is Done!\n", ""}},
       {{"out.dat", "aa1\nbb2\ncc3\ndd4\n"}, {"spt.spt", kAbsent}}},
      {"statistics beside the input", {{"data/in.dat", "bbaa"}},
       {{{"-i", "data/in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2,a", "--stats"}, 0,
         "Sort Is Done!\ndata" + kSep + "SortStat.txt\n", ""},
        {{"-i", "out.dat", "-o", "back.dat", "-s", "2", "-k", "1,2,a,d", "--stats"}, 0,
         "Sort Is Done!\n." + kSep + "SortStat.txt\n", ""}},
       {{"back.dat", "bbaa"}}},
      {"refused parameters and a failed sort print the whole error text", {{"in.dat", std::string(800, 'x')}},
       {{{"-i", "in.dat", "-o", "out.dat", "-s", "80", "-k", "1,3,u", "-t", "1=Amount"}, 1, "",
         "Amount Integer Type Must have a even Lenth!\n  Usually 2 or 4!\n\n"},
        {{"-i", "in.dat", "-o", "no/out.dat", "-s", "80", "-k", "1,3"}, 1, "",
         std::string("\n Could NOT Open Output File: no/out.dat!\n") + kTerminated}},
       {{"out.dat", kAbsent}}},
      {"--last runs the saved set; a text set is saved only after a sort", {{"in.dat", "b2a1"}, {"one.txt", "only\r\n"}},
       {{{"--last"}, 1, "", "pelmar-sort: no parameters were saved here yet (a sort with --save saves them)\n"},
        {{"-i", "in.dat", "-o", "out.dat", "-s", "2", "-k", "2,1,a,d", "--save"}, 0, "Sort Is Done!\n", ""},
        {{"-i", "one.txt", "-o", "out.txt", "-s", "var", "-k", "1,4", "--save"}, 1, "",
         std::string("\n Longest Variable Record Length  = 4\n\n Only ONE Record in File - No Need to Sort!\n") + kTerminated},
        {{"-i", "in.dat", "-o", "again.dat", "-s", "2", "-k", "1,1"}, 0, "Sort Is Done!\n", ""},
        {{"--last"}, 0, "Sort Is Done!\n", ""}},
       {{"out.dat", "b2a1"}, {"again.dat", "a1b2"}}},
      {"user entries listed, quoted where a shell needs it, and run", {{"Pelmar.ini", Settings(1, 0)}, {"orders.dat", "b2a1c0"}},
       {{{"-i", "orders.dat", "-o", "o1.dat", "-s", "2", "-k", "1,1", "--save"}, 0, "Sort Is Done!\n", ""},
        {{"-i", "orders.dat", "-o", "o2.dat", "-s", "2", "-k", "2,1", "--save"}, 0, "Sort Is Done!\n", ""},
        {{"-i", "orders.dat", "-o", "o&k.dat", "-s", "2", "-k", "2,1", "-t", "1=T"}, 0, "Sort Is Done!\n", ""},
        {{"-i", "o&k.dat", "-o", "o3.dat", "-s", "2", "-k", "1,1", "--save"}, 0, "Sort Is Done!\n", ""},
        {{"--list"}, 0, "'o&k_a'\norders_a\norders_b\n", ""},
        {{"-i", "orders.dat", "-o", "o2.dat", "-s", "2", "-k", "1,2"}, 0, "Sort Is Done!\n", ""},
        {{"--saved", "orders_b"}, 0, "Sort Is Done!\n", ""},
        {{"--saved", "orders_c"}, 1, "",
         "  * * ERROR * *\n(b) Corrupted SPT File!\n"
         "pelmar-sort: there is no saved entry orders_c (--list shows those there are)\n"},
        {{"--saved", "orders"}, 2, "", "pelmar-sort: 'orders" + notAnEntry},
        {{"--saved", ""}, 2, "", "pelmar-sort: '" + notAnEntry},
        {{"--saved", "../x_a"}, 2, "", "pelmar-sort: '../x_a" + notAnEntry}},
       {{"o2.dat", "c0a1b2"}}},
      {"preferences shown and set one at a time through the dialog's checks", {{"Pelmar.ini", Settings(0, 0)}},
       {{{"--preferences"}, 0,
         "browse-folder=C:\\\nofni=Srt\ndelimiter=both\nuser-files=off\ngo-to-sort=off\nstay=off\n"
         "last-path=off\nkey-titling=off\n", ""},
        {{"--set", "user-files=on"}, 0, "user-files=on\n", ""},
        {{"--set", "ofni= Mrg "}, 0, "ofni=Mrg\n", ""},
        {{"--set", "delimiter=LF only"}, 0, "delimiter=lf\n", ""},
        {{"--set", "ofni=ab$"}, 1, "", "  * * ERROR * *\nInvalid Characters in O F N I!\n"},
        {{"--set", "delimiter=b"}, 1, "", "  * * ERROR * *\nInvalid Entry in\nVariable Length Record Delimeter Field!\n"},
        {{"--set", "browse-folder=D:"}, 1, "", "pelmar-sort: browse-folder needs more than 2 characters\n"},
        {{"--set", "stay=maybe"}, 2, "", "pelmar-sort: stay takes on or off, not 'maybe'\n"},
        {{"--set", "colour=red"}, 2, "",
         "pelmar-sort: --set takes NAME=VALUE with a NAME that --preferences shows, not 'colour=red'\n"}},
       {{"Pelmar.ini", Settings(1, 2, "Mrg")}}},
      {"a save that could not be written fails the command", {{"in.dat", "bbaa"}, {"spt.spt", kFolder}},
       {{{"-i", "in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2", "--save"}, 1, "Sort Is Done!\n",
         "* * Warning * *\nInternal Program Error:\n  Could NOT Open SPT File!\n"}},
       {{"out.dat", "aabb"}}},
      {"so does a user file that is there but cannot be written",
       {{"Pelmar.ini", Settings(1, 0)}, {"in.dat", "bbaa"}, {"in.spt", kFolder}},
       {{{"-i", "in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2", "--save"}, 1, "Sort Is Done!\n",
         "* * Warning * *\nInternal Program Error:\n  Could NOT Open SPT File!\n"}},
       {{"out.dat", "aabb"}}},
      {"a report that cannot be written is named, and the sort stands",
       {{"d/in.dat", "bbaa"}, {"d/SortStat.txt", kFolder}},
       {{{"-i", "d/in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2", "--stats"}, 0, "Sort Is Done!\n",
         "Could NOT Open Statistics File: d" + kSep + "SortStat.txt\n"}},
       {{"out.dat", "aabb"}}},
      {"the delimiter from the option, else from the settings, else CR LF", {{"in.txt", "zz\naa\nmm\n"}},
       {{{"-i", "in.txt", "-o", "out.txt", "-s", "variable", "-k", "1,2"}, 1, "",
         std::string("\n Longest Variable Record Length  = 6\n\n Only ONE Record in File - No Need to Sort!\n") + kTerminated},
        {{"-i", "in.txt", "-o", "out.txt", "-s", "variable", "-k", "1,2", "--delimiter", "lf"}, 0, "Sort Is Done!\n", ""},
        {{"--set", "delimiter=lf"}, 0, "delimiter=lf\n", ""},
        {{"-i", "in.txt", "-o", "back.txt", "-s", "variable", "-k", "1,2,a,d"}, 0, "Sort Is Done!\n", ""}},
       {{"out.txt", "aa\r\nmm\r\nzz\r\n"}, {"back.txt", "zz\r\nmm\r\naa\r\n"}}},
  };
  for (const Transcript &t : transcripts) Play(t);
}
