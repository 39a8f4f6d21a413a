// Shared by the storage tests: every test runs in a fresh temporary folder, which is the
// current directory and so the program directory, with the fake window system reset and
// the settings and parameters brought back to their start-up state.
#ifndef PELMAR_TESTS_STORAGE_STORAGETEST_H
#define PELMAR_TESTS_STORAGE_STORAGETEST_H

#include <gtest/gtest.h>

#include <filesystem>

#include "os/platform.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"
#include "tests/storage/storageimages.h"
#include "tests/support/fakewinsys.h"
#include "tests/support/testfiles.h"

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeReset();
    SetFileFaultForTesting(0);
    LoadSettings();
    ResetParameterState();
  }

  void TearDown() override { SetFileFaultForTesting(0); }

  TempCurrentFolder folder_;
};

#endif
