// Where the engine's platform layer meets what only Windows has: named pipes and devices,
// and reads of the mapped input that fault.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/errortext.h"
#include "os/platform.h"
#include "engine/sortrun.h"
#include "tests/support/model.h"
#include "tests/support/testfiles.h"

namespace {

const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";

const std::vector<KeyField> kOneKey = {KeyField{1, 2, 'a', 'a'}};

int RunJob(const ParameterRecord &job) {
  ClearErrorText();
  return SortRun(&job);
}

// A new instance of a named pipe that waits for its client.
HANDLE ListeningPipe(const std::string &name) {
  return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096,
                          4096, 0, nullptr);
}

}  // namespace

// A pipe would block the read, or take the output away; NUL swallows it. None is a record
// file: each is refused at once, with a client connected, so the refusal is the type check's.
TEST(WindowsPlatform, PipesAndDevicesAreRefusedWithoutWaiting) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "bbaa");
  const std::string pipe = "\\\\.\\pipe\\pelmar-test-" + std::to_string(GetCurrentProcessId());
  HANDLE server = ListeningPipe(pipe);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  ParameterRecord job = MakeJob(pipe, folder.File("out.dat"), 2, kOneKey);
  EXPECT_EQ(RunJob(job), 1);
  EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Input File: " + pipe + "!\n" + kTerminated);
  CloseHandle(server);

  server = ListeningPipe(pipe);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  for (const std::string &output : {pipe, std::string("NUL"), folder.File("NUL.dat")}) {
    job = MakeJob(folder.File("in.dat"), output, 2, kOneKey);
    EXPECT_EQ(RunJob(job), 1) << output;
    EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Output File: " + output + "!\n" + kTerminated);
  }
  CloseHandle(server);
  EXPECT_EQ(ReadFile(folder.File("in.dat")), "bbaa");
}

namespace {

const unsigned char *gView;

// What Windows raises when a page of the view cannot be read in (its drive went away):
// read, the address, and the reason.
int RaiseInPageError(void *) {
  const ULONG_PTR information[3] = {0, reinterpret_cast<ULONG_PTR>(gView + 100), 0xC000020C};
  RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, information);
  return 0;
}

// What Wine raises when the file under the view was cut short: an access violation at
// an address inside the view.
int RaiseViolationInView(void *) {
  const ULONG_PTR information[2] = {0, reinterpret_cast<ULONG_PTR>(gView + 4096)};
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 2, information);
  return 0;
}

int ReadView(void *) { return gView[1] - '0'; }

}  // namespace

// Faults of a mapped read inside the guard end the work with -1; the guard is ready again
// afterwards, and work that does not fault returns its own result.
TEST(WindowsPlatform, GuardTurnsFaultsOfMappedReadsIntoAFailedRead) {
  TempFolder folder;
  WriteFile(folder.File("in.dat"), "07" + std::string(10000, 'x'));
  InputFile input;
  ASSERT_EQ(OpenInputFile(folder.File("in.dat").c_str(), &input), 0);
  ASSERT_EQ(MapInputFile(&input), 0);
  gView = input.bytes;
  for (int round = 0; round < 3; round++) {
    EXPECT_EQ(RunGuarded(RaiseInPageError, nullptr), -1);
    EXPECT_EQ(RunGuarded(RaiseViolationInView, nullptr), -1);
    EXPECT_EQ(RunGuarded(ReadView, nullptr), 7);
  }
  CloseInputFile(&input);
}

namespace {

std::string gCutInput;

// Holds the run before it copies the records until the input's length changes.
void WaitForTheCut(int phase, uint64_t done, uint64_t) {
  if (phase != kPhaseWriting || done != 0) return;
  WriteFile(gCutInput + ".ready", "");
  const auto start = std::chrono::steady_clock::now();
  std::error_code error;
  while (std::filesystem::file_size(gCutInput, error) == 100u * 100000u &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

// Neither Windows nor Wine lets this process shorten its mapped input, but a process
// outside Wine can: tests/engine/cut-from-outside.sh runs this test with the folder in
// PELMAR_OUTSIDE_CUT and cuts the input short when the run waits. The run's next read of
// the view faults, and the run reports the changed input instead of crashing.
TEST(WindowsPlatform, InputCutShortFromOutsideFailsTheRun) {
  const char *folder = getenv("PELMAR_OUTSIDE_CUT");
  if (folder == nullptr) GTEST_SKIP() << "run by cut-from-outside.sh";
  gCutInput = std::string(folder) + "/in.dat";
  std::mt19937_64 random(11);
  std::string records(100u * 100000u, ' ');
  for (char &c : records) c = static_cast<char>('a' + random() % 26);
  WriteFile(gCutInput, records);
  ParameterRecord job = MakeJob(gCutInput, std::string(folder) + "/out.dat", 100, kOneKey);
  SortProgress = WaitForTheCut;
  EXPECT_EQ(RunJob(job), 1);
  SortProgress = nullptr;
  EXPECT_EQ(std::string(ErrorText), "\n Input File Changed During Sort: " + gCutInput + "!\n" + kTerminated);
  EXPECT_EQ(ReadFile(std::string(folder) + "/out.dat"), "");
}
