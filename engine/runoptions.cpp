#include "engine/runoptions.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "engine/workpool.h"
#include "os/platform.h"

static const uint64_t kBudgetWithoutMemorySize = uint64_t{1} << 30;  // the default when the memory size is unknown

uint64_t DefaultMemoryBudget() {
  const uint64_t physical = PhysicalMemoryBytes();
  if (physical == 0) return kBudgetWithoutMemorySize;
  return std::max(physical / 2, kMinimumMemoryBudget);
}

// The threads a run uses: the count asked for, or by default the cores, at most kDefaultMostThreads.
static int ThreadCount(int asked) {
  if (asked >= 1) return std::min(asked, kMaxSortThreads);
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) return 1;
  return static_cast<int>(std::min(cores, static_cast<unsigned>(kDefaultMostThreads)));
}

void ResolveRunOptions(const RunOptions *given, RunOptions *resolved) {
  memset(resolved, 0, sizeof *resolved);
  if (given != nullptr) *resolved = *given;
  resolved->threads = ThreadCount(resolved->threads);
  if (resolved->memoryBudget == 0) resolved->memoryBudget = DefaultMemoryBudget();
  resolved->memoryBudget = std::max(resolved->memoryBudget, kMinimumMemoryBudget);
  resolved->temporaryFolder[kNameSize - 1] = '\0';
  // Unique keeps the first of equal keys in input order: fixed-length keys end in their index.
  if (resolved->streams.unique) resolved->keySettings.stable = 1;
  if (resolved->temporaryFolder[0] == '\0') SystemTemporaryFolder(resolved->temporaryFolder, kNameSize);
}
