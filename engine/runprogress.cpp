#include "engine/runprogress.h"

void ReportProgress(SortProgressFunction reporter, int phase, uint64_t done, uint64_t total) {
  if (reporter != nullptr) reporter(phase, done, total);
}
