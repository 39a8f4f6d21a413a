// The os layer's fault hook, which the fault simulation of every other suite relies on.
#include "os/platform.h"

#include <gtest/gtest.h>

#include <string>

// The chosen operation fails once, or with persistent from it on; with a kind, only that
// kind's operations count and fail.
TEST(FaultHook, FailsTheChosenOperationOfItsKindOnceOrFromItOn) {
  std::string failed;
  for (int persistent : {0, 1}) {
    SetFileFaultForTesting(2, persistent, kFileRead);
    for (int kind : {kFileRead, kFileWrite, kFileRead, kFileRead}) failed += FileOperationFails(kind) ? "F" : ".";
  }
  SetFileFaultForTesting(0);
  EXPECT_EQ(failed, "..F...FF");
}
