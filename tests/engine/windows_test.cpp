// Where the os door meets what only Windows has: named pipes and devices,
// and reads of the mapped input that fault.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/errortext.h"
#include "os/platform.h"
#include "engine/sortrun.h"
#include "tests/support/model.h"
#include "tests/support/testfiles.h"

namespace {

const std::vector<KeyField> kOneKey = {KeyField{1, 2, 'a', 'a', 0}};

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
  EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Input File: " + pipe + "!\n" + kSortTerminated);
  CloseHandle(server);

  server = ListeningPipe(pipe);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  for (const std::string &output : {pipe, std::string("NUL"), folder.File("NUL.dat")}) {
    job = MakeJob(folder.File("in.dat"), output, 2, kOneKey);
    EXPECT_EQ(RunJob(job), 1) << output;
    EXPECT_EQ(std::string(ErrorText), "\n Could NOT Open Output File: " + output + "!\n" + kSortTerminated);
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
