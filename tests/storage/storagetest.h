// Shared by the storage tests: every test runs in a fresh temporary folder, which is the
// current directory and so the program directory, with the fake window system reset and
// the settings and parameters brought back to their start-up state.
#ifndef PELMAR_TESTS_STORAGE_STORAGETEST_H
#define PELMAR_TESTS_STORAGE_STORAGETEST_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "os/platform.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"
#include "storage/storagefile.h"
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

inline std::string ReadFileBytes(const char *name) { return ReadFile(name); }  // the dialogs' tests read with it

// Names in the current folder that end in ".tmp": what a rewrite could have left behind.
inline int TemporaryFilesLeft() {
  int count = 0;
  for (const auto &entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    count += name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0;
  }
  return count;
}

// Puts a signed 32-bit value little-endian at offset, as the layout tables say.
inline void PutLe32(std::string &bytes, size_t offset, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; i++) bytes[offset + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
}

#endif
