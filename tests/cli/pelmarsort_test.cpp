// pelmar-sort end to end: the built program run in a fresh folder, its exit status,
// standard output and standard error, and the files it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/sorttypes.h"
#include "tests/support/testfiles.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs pelmar-sort with arguments in folder.
Outcome RunProgram(const TempFolder &folder, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), PELMAR_SORT_PROGRAM);
  Outcome outcome;
  outcome.status = RunProgramIn(folder.path, arguments, &outcome.out, &outcome.err);
  return outcome;
}

const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *\n";
const std::string kReport = kPathSeparator + std::string("SortStat.txt");  // after its folder

// A settings file with "Create User .spt Files" on and the given delimiter.
std::string SettingsBytes(int userFiles, int delimiter) {
  std::string bytes(302, '\0');
  memcpy(&bytes[0], "plm", 3);
  memcpy(&bytes[4], "C:\\", 3);
  memcpy(&bytes[258], "Srt", 3);
  bytes[266] = static_cast<char>(userFiles);
  bytes[294] = static_cast<char>(delimiter);
  return bytes;
}

}  // namespace

TEST(PelmarSort, HelpAndVersion) {
  TempFolder folder;
  Outcome help = RunProgram(folder, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char *part : {"Usage:", "--saved ID | --last", "-k 17,4,i,d", "-s variable", "Key types",
                           "Exit status: 0"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  Outcome version = RunProgram(folder, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "pelmar-sort 1.0\n");
}

TEST(PelmarSort, UsageErrorsTakeOneLineAndStatusTwo) {
  TempFolder folder;
  for (const std::vector<std::string> &arguments :
       std::vector<std::vector<std::string>>{{"--bogus"}, {"-o"}, {"-k", "1,2,c,a,b"}, {"-t", "9=x", "-i", "a.b"}}) {
    Outcome outcome = RunProgram(folder, arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.rfind("pelmar-sort: ", 0), 0u) << outcome.err;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
  }
}

TEST(PelmarSort, SortsFixedRecordsAndSaysSo) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "dd4\ncc3\nbb2\naa1\n");
  Outcome outcome = RunProgram(folder, {"-i", "in.dat", "-o", "out.dat", "-s", "4", "-k", "1,2"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "Sort Is Done!\n");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "aa1\nbb2\ncc3\ndd4\n");
  EXPECT_FALSE(FileExists(folder.File("spt.spt")));  // nothing saved without --save
}

TEST(PelmarSort, StatisticsGoBesideTheInput) {
  TempFolder folder;
  ASSERT_TRUE(std::filesystem::create_directory(folder.File("data")));
  WriteFile(folder.File("data/in.dat"), "bbaa");
  Outcome outcome = RunProgram(folder, {"-i", "data/in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2,a", "--stats"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "Sort Is Done!\ndata" + kReport + "\n");
  const std::string report = ReadFile(folder.File("data/SortStat.txt"));
  EXPECT_NE(report.find("\r\n  Input File: data/in.dat\r\n Output File: out.dat\r\n"), std::string::npos);

  outcome = RunProgram(folder, {"-i", "out.dat", "-o", "back.dat", "-s", "2", "-k", "1,2,a,d", "--stats"});
  EXPECT_EQ(outcome.out, "Sort Is Done!\n." + kReport + "\n");
  EXPECT_TRUE(FileExists(folder.File("SortStat.txt")));
}

// Refused parameters and a failed sort: the whole error text on standard error, status 1.
TEST(PelmarSort, RefusedOrFailedSortsPrintTheWholeErrorText) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), std::string(800, 'x'));
  Outcome outcome = RunProgram(folder, {"-i", "in.dat", "-o", "out.dat", "-s", "80", "-k", "1,3,u", "-t", "1=Amount"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "Amount Integer Type Must have a even Lenth!\n  Usually 2 or 4!\n\n");

  outcome = RunProgram(folder, {"-i", "in.dat", "-o", "no/out.dat", "-s", "80", "-k", "1,3"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, std::string("\n Could NOT Open Output File: no/out.dat!\n") + kTerminated);
}

TEST(PelmarSort, SavedSetsRunAgainWithLast) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "b2a1");
  Outcome outcome = RunProgram(folder, {"-i", "in.dat", "-o", "out.dat", "-s", "2", "-k", "2,1,a,d", "--save"});
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(ReadFile(folder.File("spt.spt")).size(), 4u + 766u);
  RemoveFile(folder.File("out.dat"));
  outcome = RunProgram(folder, {"--last"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "b2a1");

  // A variable-length set is saved only after a sort that succeeded.
  TempFolder other;
  WriteFile(other.File("one.txt"), "only line\r\n");
  outcome = RunProgram(other, {"-i", "one.txt", "-o", "out.txt", "-s", "var", "-k", "1,4", "--save"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_FALSE(FileExists(other.File("spt.spt")));
  WriteFile(other.File("two.txt"), "line b\r\nline a\r\n");
  outcome = RunProgram(other, {"-i", "two.txt", "-o", "out.txt", "-s", "var", "-k", "6,1", "--save"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(FileExists(other.File("spt.spt")));
  EXPECT_EQ(ReadFile(other.File("out.txt")), "line a\r\nline b\r\n");

  outcome = RunProgram(TempFolder(), {"--last"});  // nothing saved there
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "pelmar-sort: no parameters were saved here yet (a sort with --save saves them)\n");
}

TEST(PelmarSort, UserEntriesAreListedAndRun) {
  TempFolder folder;
  WriteFile(folder.File("Pelmar.ini"), SettingsBytes(1, 0));
  WriteFile(folder.File("orders.dat"), "b2a1c0");
  ASSERT_EQ(RunProgram(folder, {"-i", "orders.dat", "-o", "o1.dat", "-s", "2", "-k", "1,1", "--save"}).status, 0);
  ASSERT_EQ(RunProgram(folder, {"-i", "orders.dat", "-o", "o2.dat", "-s", "2", "-k", "2,1", "--save"}).status, 0);
  Outcome list = RunProgram(folder, {"--list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "orders_a\norders_b\n");
  RemoveFile(folder.File("o2.dat"));
  Outcome saved = RunProgram(folder, {"--saved", "orders_b"});
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(ReadFile(folder.File("o2.dat")), "c0a1b2");
  Outcome missing = RunProgram(folder, {"--saved", "orders_c"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "  * * ERROR * *\n(b) Corrupted SPT File!\n"
            "pelmar-sort: there is no saved entry orders_c (--list shows those there are)\n");
  for (const std::string &wrong : {std::string("orders"), std::string(""), std::string("../x_a"), std::string(500, 'x')}) {
    Outcome refused = RunProgram(folder, {"--saved", wrong});
    EXPECT_EQ(refused.status, 2) << wrong;
    EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << refused.err;
  }

  // Every identifier is listed, quoted where a shell would read it otherwise ('&' is one
  // that Windows takes in a file name too, unlike '|').
  WriteFile(folder.File("o&k.dat"), "b2a1c0");
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(RunProgram(folder, {"-i", "o&k.dat", "-o", "o3.dat", "-s", "2", "-k", std::to_string(i % 2 + 1) + ",1",
                                  "--save", "-t", "1=T" + std::to_string(i)}).status, 0);
  }
  EXPECT_EQ(RunProgram(folder, {"--list"}).out, "'o&k_a'\n'o&k_b'\norders_a\norders_b\n");
}

// --set goes through the Preferences dialog's checks and keeps the stored window position.
TEST(PelmarSort, PreferencesAreShownAndSetOneAtATime) {
  TempFolder folder;
  std::string settings = SettingsBytes(0, 0);
  settings[274] = 7;  // window top
  WriteFile(folder.File("Pelmar.ini"), settings);
  Outcome shown = RunProgram(folder, {"--preferences"});
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.out,
            "browse-folder=C:\\\nofni=Srt\ndelimiter=both\nuser-files=off\ngo-to-sort=off\nstay=off\n"
            "last-path=off\nkey-titling=off\n");
  EXPECT_EQ(RunProgram(folder, {"--set", "user-files=on"}).out, "user-files=on\n");
  EXPECT_EQ(RunProgram(folder, {"--set", "ofni= Mrg "}).out, "ofni=Mrg\n");
  EXPECT_EQ(RunProgram(folder, {"--set", "delimiter=LF only"}).out, "delimiter=lf\n");
  std::string expected = settings;
  expected.replace(258, 4, std::string("Mrg\0", 4));
  expected[266] = 1;
  expected[294] = 2;
  EXPECT_EQ(ReadFile(folder.File("Pelmar.ini")), expected);

  Outcome refused = RunProgram(folder, {"--set", "ofni=ab$"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "  * * ERROR * *\nInvalid Characters in O F N I!\n");
  refused = RunProgram(folder, {"--set", "delimiter=b"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "  * * ERROR * *\nInvalid Entry in\nVariable Length Record Delimeter Field!\n");
  EXPECT_EQ(RunProgram(folder, {"--set", "browse-folder=D:"}).status, 1);
  EXPECT_EQ(RunProgram(folder, {"--set", "stay=maybe"}).status, 2);
  EXPECT_EQ(RunProgram(folder, {"--set", "colour=red"}).status, 2);
  EXPECT_EQ(ReadFile(folder.File("Pelmar.ini")), expected);
}

// A save that could not be written is a failure, though the sort itself succeeded.
TEST(PelmarSort, SaveThatCouldNotBeWrittenFailsTheCommand) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "bbaa");
  ASSERT_TRUE(std::filesystem::create_directory(folder.File("spt.spt")));  // no file can take its place
  Outcome outcome = RunProgram(folder, {"-i", "in.dat", "-o", "out.dat", "-s", "2", "-k", "1,2", "--save"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Sort Is Done!\n");
  EXPECT_EQ(outcome.err, "* * Warning * *\nInternal Program Error:\n  Could NOT Open SPT File!\n");
  EXPECT_EQ(ReadFile(folder.File("out.dat")), "aabb");
}

TEST(PelmarSort, DelimiterComesFromTheOptionOrTheSettings) {
  TempFolder folder;
  WriteFile(folder.File("in.txt"), "zz\naa\nmm\n");
  // Both CR/LF by default: LF alone ends no line, so the file is one record.
  Outcome outcome = RunProgram(folder, {"-i", "in.txt", "-o", "out.txt", "-s", "variable", "-k", "1,2"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Only ONE Record in File"), std::string::npos);
  outcome = RunProgram(folder, {"-i", "in.txt", "-o", "out.txt", "-s", "variable", "-k", "1,2", "--delimiter", "lf"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(ReadFile(folder.File("out.txt")), "aa\r\nmm\r\nzz\r\n");
  WriteFile(folder.File("Pelmar.ini"), SettingsBytes(0, 2));
  RemoveFile(folder.File("out.txt"));
  outcome = RunProgram(folder, {"-i", "in.txt", "-o", "out.txt", "-s", "variable", "-k", "1,2,a,d"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(ReadFile(folder.File("out.txt")), "zz\r\nmm\r\naa\r\n");
}
