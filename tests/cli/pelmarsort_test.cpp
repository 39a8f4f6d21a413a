// pelmar-sort end to end, as transcripts: the built program run in a fresh folder holding
// the given files, each command's exit status, standard output and standard error, and
// the files it leaves. How records are sorted is the engine's to prove; these show what
// the command line adds: options reaching the run, statuses, messages and reports.
#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
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

// pelmar-sort's arguments, and its exit status, standard output and standard error; an
// expected "A..." matches any text that starts with A. Standard input is the file in names
// (none when empty); records written to standard output ("-") are compared byte for byte.
struct Step { std::vector<std::string> arguments; int status; std::string out, err, in = std::string(); };

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
    std::vector<std::string> arguments = {PELMAR_SORT_PROGRAM};
    arguments.insert(arguments.end(), step.arguments.begin(), step.arguments.end());
    std::string out, err;
    const auto output = std::find(arguments.begin(), arguments.end(), "-o");  // records on standard output
    const bool raw = output != arguments.end() && output + 1 != arguments.end() && output[1] == "-";
    EXPECT_EQ(RunProgramIn(folder.path, arguments, &out, &err, step.in, raw), step.status) << testing::PrintToString(step.arguments);
    EXPECT_PRED2(Matches, out, step.out);
    EXPECT_PRED2(Matches, err, step.err);
  }
  for (const auto &file : after) EXPECT_EQ(ReadFile(folder.File(file.first)), file.second) << file.first;
}

}  // namespace

// The command line, one option and one message at a time, and what each run leaves.
TEST(PelmarSort, Transcripts) {
  const std::string done = "Sort Is Done!\n", x25(25, 'x'), d200(200, 'd');
  const auto usage = [](const std::string &reason) { return "pelmar-sort: " + reason + " (see pelmar-sort --help)\n"; };
  Play({{"d/in.dat", "bb2\ndd4\naa1\ncc3\n"}, {"e/in.dat", "bbaa"}, {"e/SortStat.txt/", ""},
        {"big.dat", std::string(200000, 'x')}, {"runs.dir/", ""}, {"orders.dat", "a1c0b2"}, {"o&k.dat", "c0b2a1"}, {"in.txt", "zz\naa\nmm\n"}},
       {{{"-h", "--bogus"}, 0, "Usage:\n  pelmar-sort --input IN --output OUT...", ""},  // help and version end the reading
        {{"--version", "-o"}, 0, "pelmar-sort 1.0\n", ""},
        // Command lines not understood: status 2, the reason, and where to look.
        {{"-i", "x.dat", "--", "-o"}, 2, "", usage("unexpected argument '-o'")},
        {{"-hx"}, 2, "", usage("option '--help' takes no value")},
        {{"--frobnicate", "--help"}, 2, "", usage("unknown option '--frobnicate'")},
        {{"-i"}, 2, "", usage("option '--input' needs a value")},
        {{"-k", "1", "-k", "2", "-k", "3", "-k", "4", "-k", "5", "-k", "6", "-k", "7"}, 2, "", usage("at most 6 keys")},
        {{"-k", "1,2,c,a,x"}, 2, "", usage("a key has at most four parts: POS,LEN,TYPE,SEQ, not '1,2,c,a,x'")},
        {{"-t", "7=Seven"}, 2, "", usage("--title needs a key number from 1 to 6: K=TEXT, not '7=Seven'")},
        {{"-t", "1=" + x25 + "x"}, 2, "", usage("a key title has at most 25 characters")},
        {{"--delimiter", "crlf"}, 2, "", usage("--delimiter takes both, cr, lf or nul, not 'crlf'")},
        {{"--threads", "0"}, 2, "", usage("--threads takes a number from 1 to 64, not '0'")},
        {{"--threads=65"}, 2, "", usage("--threads takes a number from 1 to 64, not '65'")},
        {{"-S", "16777215"}, 2, "", usage("--memory takes at least 16M, not '16777215'")},
        {{"-S", "1T"}, 2, "", usage("--memory takes a size such as 512M or 2G, not '1T'")},
        {{"-S", "-1"}, 2, "", usage("--memory takes a size such as 512M or 2G, not '-1'")},
        {{"--memory=17179869184G"}, 2, "", usage("--memory takes a size such as 512M or 2G, not '17179869184G'")},
        {{"-T", ""}, 2, "", usage("--temporary-directory takes a folder name of 1 to 200 characters")},
        {{"--temporary-directory", d200 + "d"}, 2, "", usage("--temporary-directory takes a folder name of 1 to 200 characters")},
        {{"--saved", "a_b", "--last"}, 2, "", usage("--saved, --last, --list, --preferences and --set go one at a time")},
        {{"--last", "-i", "a.b"}, 2, "", usage("--saved, --last, --list, --preferences and --set take no --input, --output, --size or --key")},
        {{"-t", "1=A"}, 2, "", usage("nothing to sort: give --input, --output, --size and --key, or --saved or --last")},
        // Sorts: the options reach the run (a key's parts are kept as typed, the validation
        // trims them); a report is named beside its input, or said to be missing; refused
        // parameters and failed runs print the whole error text, status 1.
        {{"-i", "d/in.dat", "-o", "out.dat", "-s", "4", "-k", "1,2, c, d", "--stats", "--threads", "1", "--delimiter=cr", "-t", "6=" + x25, "--"},
         0, done + "d" + kSep + "SortStat.txt\n", ""},
        {{"-iout.dat", "--output=back.dat", "-s4", "-k1,2", "--stats", "--threads=64"}, 0, done + "." + kSep + "SortStat.txt\n", ""},
        {{"-i", "e/in.dat", "-o", "e.dat", "-s", "2", "-k", "1,2", "--stats"}, 0, done, "Could NOT Open Statistics File: e" + kSep + "SortStat.txt\n"},
        {{"-i", "runs.dir", "-o", "e.dat", "-s", "2", "-k", "1,2"}, 1, "", "\n\nCould NOT Open Input File: runs.dir!\npelmar-sort: runs.dir: a folder, not a file\n"},
        {{"--last"}, 1, "", "pelmar-sort: no parameters were saved here yet (a sort with --save saves them)\n"},
        {{"-i", "big.dat", "-o", "o.dat", "-s", "4", "-k", "1,3,u", "-t", "1=Amount", "-t1="}, 1, "", "Amount Integer Type Must have a even Lenth!\n  Usually 2 or 4!\n\n"},
        {{"-i", "big.dat", "-o", "o.dat", "-s", "1", "-k", "1,1", "--memory=16384k", "-T", "nowhere"}, 1, "", "\n Could NOT Create Temporary File in: nowhere!\n" + kTerminated},
        {{"-i", "big.dat", "-o", "o.dat", "-s", "1", "-k", "1,1", "-S16777216", "-T", "runs.dir"}, 0, done, ""},
        {{"-i", "big.dat", "-o", "o.dat", "-s", "1", "-k", "1,1", "-S", "2g", "-T", d200}, 0, done, ""},
        // Saved sets: nothing is saved without --save; user entries listed (quoted for a
        // shell) and run by name, the last-used set by --last.
        {{"--set", "user-files=on"}, 0, "user-files=on\n", ""},
        {{"-i", "orders.dat", "-o", "o.dat", "-s", "2", "-k", "2,1,a,d", "--save"}, 0, done, ""},
        {{"-i", "o&k.dat", "-o", "o.dat", "-s", "2", "-k", "1,1", "--save"}, 0, done, ""},
        {{"--list"}, 0, "'o&k_a'\norders_a\n", ""},
        {{"--last"}, 0, done, ""},
        {{"--saved", "orders_a", "-t", "2=A", "--stats"}, 0, done + "." + kSep + "SortStat.txt\n", ""},
        {{"--saved", "orders_b"}, 1, "", "pelmar-sort: there is no saved entry orders_b (--list shows those there are)\n"},
        {{"--saved", "../x_a"}, 2, "", "pelmar-sort: '../x_a' is not an entry identifier: a base name, '_' and a letter, as --list shows them\n"},
        // Preferences, through the Preferences dialog's checks; the delimiter comes from the
        // option, else from the settings.
        {{"--set", "delimiter=LF only"}, 0, "delimiter=lf\n", ""},
        {{"-i", "in.txt", "-o", "back.txt", "-s", "variable", "-k", "1,2,a,d"}, 0, done, ""},
        {{"-i", "in.txt", "-o", "x.txt", "-s", "var", "-k", "1,2", "--delimiter", "both"}, 1, "", "\n Longest Variable Record Length  = 6\n..."},
        {{"--set", "browse-folder=D:"}, 1, "", "pelmar-sort: browse-folder needs more than 2 characters\n"},
        {{"--set", "last-path=on"}, 0, "last-path=on\n", ""},
        {{"--preferences"}, 0, "browse-folder=C:\\\nofni=Srt\ndelimiter=lf\nuser-files=on\ngo-to-sort=off\nstay=off\nlast-path=on\nkey-titling=off\n", ""},
        {{"--set", "browse-folder=D:\\data"}, 1, "", "pelmar-sort: browse-folder is not used while last-path is on\n"},
        {{"--set", "ofni=ab$"}, 1, "", "  * * ERROR * *\nInvalid Characters in O F N I!\n"},
        {{"--set", "ofni= "}, 2, "", "pelmar-sort: ofni takes 1 to 4 letters, digits, '-', '_' or '~'\n"},
        {{"--set", "stay=maybe"}, 2, "", "pelmar-sort: stay takes on or off, not 'maybe'\n"},
        {{"--set", "colour=red"}, 2, "", "pelmar-sort: --set takes NAME=VALUE with a NAME that --preferences shows, not 'colour=red'\n"}},
       {{"out.dat", "dd4\ncc3\nbb2\naa1\n"}, {"back.dat", "aa1\nbb2\ncc3\ndd4\n"}, {"o.dat", "b2a1c0"}, {"back.txt", "zz\r\nmm\r\naa\r\n"}});
  // The wider key language: fields, numbers as text and decimals; keys that cannot be read
  // (status 2), keys past the record (1), fields that are no number (counted, sorted first).
  const std::string pd = std::string("\x12\x3C" "a1" "\x12\x3D" "a2" "\x1A\x2C" "a3" "\x00\x0C" "a4", 16);
  Play({{"in.csv", "id,amount\n3,\"-1,5\",x\n1,-12.50\n2,007\n"}, {"in.tsv", "b\t2\na\t 10\nc\t+1\n"}, {"pd.dat", pd},
        {"ties.dat", "b1a2b3a4"}},
       {{{"-i", "in.csv", "-o", "out.csv", "-s", "var", "-k", "f2,8,n,d", "--csv", "--delimiter", "lf"}, 0, done, ""},
        {{"-i", "in.tsv", "-o", "out.tsv", "-s", "var", "-k", "f2,3,n", "--field-separator", "\\t", "--delimiter", "lf"}, 0, done, ""},
        {{"-i", "pd.dat", "-o", "pd.out", "-s", "4", "-k", "1,2,pd", "--stable"}, 0, done,
         "pelmar-sort: key 1 (1,2,pd): 1 field is not a valid number, sorted before every number\n"},
        {{"-i", "ties.dat", "-o", "ties.out", "-s", "2", "-k", "1,1", "--stable"}, 0, done, ""},
        {{"-i", "pd.dat", "-o", "x.dat", "-s", "4", "-k", "3,4,pd"}, 1, "", "pelmar-sort: key 1 (3,4,pd): bytes 3 to 6 lie past the record's 4 bytes\n"},
        {{"-k", "1,2,xy"}, 2, "", usage("key 1 (1,2,xy): the types are c, a, i, u, f, bi, bu, bf, pd, zd, za and n")},
        {{"-k", "f0,3,n", "--csv"}, 2, "", usage("key 1 (f0,3,n): a field number (fN) starts at 1")},
        {{"-k", "1,2", "-k", "f2,3,n"}, 2, "", usage("key 2 (f2,3,n): a key on a field needs --field-separator C or --csv")},
        {{"-k", "f1,2,pd", "--csv"}, 2, "", usage("key 1 (f1,2,pd): a key on a field takes the types c, a, n and za")},
        {{"-s", "var", "-k", "1,2,zd"}, 2, "", usage("key 1 (1,2,zd): text lines take the types c, a, n and za")},
        {{"-k", "1,17,pd"}, 2, "", usage("key 1 (1,17,pd): pd takes a length of 1 to 16")},
        {{"-k", "1,3,bf"}, 2, "", usage("key 1 (1,3,bf): bf takes a length of 4 or 8")},
        {{"-k", "1,2,pd,x"}, 2, "", usage("key 1 (1,2,pd,x): the sequence is a (ascending) or d (descending)")},
        {{"-k", "f1,2", "--csv", "--save"}, 2, "", usage("--save cannot keep key 1 (f1,2): a parameter file holds keys at a byte position of types c, a, i, u and f only")},
        {{"-k", "1,2", "--csv", "--field-separator", ";"}, 2, "", usage("--field-separator and --csv do not go together")},
        {{"--field-separator", "ab"}, 2, "", usage("--field-separator takes one character (or \\t for a tab), not 'ab'")}},
       {{"out.csv", "2,007\r\nid,amount\r\n3,\"-1,5\",x\r\n1,-12.50\r\n"}, {"out.tsv", "c\t+1\r\nb\t2\r\na\t 10\r\n"},
        {"pd.out", std::string("\x1A\x2C" "a3" "\x12\x3D" "a2" "\x00\x0C" "a4" "\x12\x3C" "a1", 16)}, {"ties.out", "a2a4b1b3"}});
  // Pipelines: standard input and output (binary: CR, LF and 0x1A pass as they are), several
  // inputs as one, merges of sorted inputs, unique keys, checks, the chosen line ends; an
  // existing output stays as it was after a refused run; the refusals of the options.
  const std::string binary("\x1A\r\n" "b\n\r" "a\r\x1A", 9), crlf = "\n* * * ERRORS! - Sort Terminated * * *\n";
  const std::vector<std::string> lf = {"-s", "var", "-k", "1,1", "--delimiter", "lf"};
  auto with = [](std::vector<std::string> a, const std::vector<std::string> &b) { a.insert(a.end(), b.begin(), b.end()); return a; };
  Play({{"lf.txt", "b2\na1\nc3\n"}, {"more.txt", "a0\n"}, {"bin.dat", binary}, {"s1.txt", "a1\nc3\n"}, {"s2.txt", "b2\nc0\n"},
        {"zero.txt", std::string("b\0a\0", 4)}, {"old.txt", "old"}, {"ties.txt", "a1\na2\n"}},
       {{with({"-i", "-", "-o", "-", "--line-end", "lf"}, lf), 0, "a1\nb2\nc3\n", "Sort Is Done!\n", "lf.txt"},
        {{"-i", "-", "-o", "-", "-s", "3", "-k", "1,1,a"}, 0, std::string("\x1A\r\n" "a\r\x1A" "b\n\r", 9), "Sort Is Done!\n", "bin.dat"},
        {with({"-i", "lf.txt", "-i", "-", "-o", "both.txt", "--line-end", "cr"}, lf), 0, done, "", "more.txt"},
        {with({"-m", "-i", "s1.txt", "--input=s2.txt", "-o", "-", "--line-end", "lf"}, lf), 0, "a1\nb2\nc3\nc0\n", "Sort Is Done!\n"},
        {with({"-m", "-i", "s1.txt", "-i", "lf.txt", "-o", "old.txt"}, lf), 1, "", "\n Record 2 at Byte 3 of lf.txt Is Out of Key Order!\n" + crlf},
        {with({"-m", "-i", "s1.txt", "-i", "s2.txt", "-o", "s2.txt"}, lf), 1, "", "\n Output File Is the Input File: s2.txt!\n" + crlf},
        {with({"-u", "-i", "ties.txt", "-i", "lf.txt", "-o", "-", "--line-end", "lf"}, lf), 0, "a1\nb2\nc3\n",
         "pelmar-sort: 2 records with a key equal to the one before left out\nSort Is Done!\n"},
        {with({"-c", "-i", "s1.txt"}, lf), 0, "", ""},
        {with({"-c", "-i", "-"}, lf), 1, "", "pelmar-sort: Record 2 at Byte 3 of standard input Is Out of Key Order!\n", "lf.txt"},
        {with({"-c", "-u", "-i", "ties.txt"}, lf), 1, "", "pelmar-sort: Record 2 at Byte 3 of ties.txt Is Out of Key Order!\n"},
        {{"-i", "-", "-o", "-", "-s", "var", "-k", "1,1", "--delimiter", "nul", "--line-end", "nul"}, 0, std::string("a\0b\0", 4),
         "Sort Is Done!\n", "zero.txt"},
        {{"-i", "lf.txt", "-o", "old.txt", "-s", "var", "-k", "1,1"}, 1, "",
         "\n Longest Variable Record Length  = 6\n\n Only ONE Record in File - No Need to Sort!\n" + crlf +
         "pelmar-sort: the lines of lf.txt end in LF alone: add --delimiter lf\n"},
        {with({"-i", "gone.txt", "-i", "lf.txt", "-o", "x.txt"}, lf), 1, "", "\n Could NOT Open Input File: gone.txt!\n" + crlf +
         "pelmar-sort: gone.txt: No such file or directory\n"},
        {{"--list"}, 0, "", "pelmar-sort: user parameter files are off: --save keeps none (--set user-files=on)\n"},
        {{"-i", "-", "--input=-"}, 2, "", usage("standard input (--input -) can be read once")},
        {{"-m", "-c"}, 2, "", usage("--merge and --check do not go together")},
        {{"-c", "-o", "x.txt"}, 2, "", usage("--check writes nothing: it takes no --output")},
        {{"-m", "--stats"}, 2, "", usage("--stats goes with a sort, not with --merge or --check")},
        {{"-i", "-", "--save"}, 2, "", usage("--save keeps the set of a sort of one named input into a named output")},
        {{"--line-end", "crcr"}, 2, "", usage("--line-end takes crlf, lf, cr or nul, not 'crcr'")}},
       {{"both.txt", "a1\ra0\rb2\rc3\r"}, {"old.txt", "old"}, {"s2.txt", "b2\nc0\n"}});
  // What cannot be written fails the command.
  Play({{"in.dat", "bbaa"}, {"spt.spt/", ""}, {"Pelmar.ini/", ""}},
       {{{"-i", "in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2", "--save"}, 1, done, "* * Warning * *\nInternal Program Error:\n  Could NOT Open SPT File!\n"},
        {{"--set", "stay=on"}, 1, "", "pelmar-sort: could not write ..."}},
       {{"out.dat", "aabb"}});
}

// A reader that goes away (pelmar-sort ... -o - | head -c 1) ends the run at once, with no
// message: by the signal a closed pipe sends (POSIX), or a quiet exit (Windows).
TEST(PelmarSort, AClosedReaderEndsTheRunQuietly) {
  TempFolder folder;
  std::string lines;
  for (int i = 0; i < 200000; i++) lines += std::to_string(i * 7919 % 200000) + "\n";
  WriteFile(folder.File("in.txt"), lines);
  std::string err;
  const int status = RunProgramIntoClosedPipe(
      folder.path, {PELMAR_SORT_PROGRAM, "-i", "in.txt", "-o", "-", "-s", "var", "-k", "1,6", "--delimiter", "lf"}, 1, &err);
#ifdef _WIN32
  EXPECT_EQ(status, 1);
#else
  EXPECT_EQ(status, 128 + SIGPIPE);
#endif
  EXPECT_EQ(err, "");
  EXPECT_EQ(FolderNames(folder.path), std::vector<std::string>{"in.txt"});
}
