// The cost of the engine's progress reporting: the same sort with no progress function
// (as every caller but a terminal runs it) and with one that does nothing, alternated,
// fastest of each. A ratio of 1.00 means the reporting points cost nothing measurable.
//   progresscost INPUT OUTPUT     (100-byte records, key 1,10,a,a)
#include <chrono>
#include <cstdio>
#include <cstring>

#include "engine/errortext.h"
#include "engine/sortrun.h"

static void Ignore(int, uint64_t, uint64_t) {}

static double TimeRun(const ParameterRecord *job, SortProgressFunction progress) {
  RunOptions options;
  memset(&options, 0, sizeof options);
  options.progress = progress;
  ClearErrorText();
  auto start = std::chrono::steady_clock::now();
  if (SortRun(job, &options) != 0) fprintf(stderr, "%s\n", ErrorText);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: progresscost INPUT OUTPUT\n");
    return 2;
  }
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  CopyText(job.inputName, sizeof job.inputName, argv[1]);
  CopyText(job.outputName, sizeof job.outputName, argv[2]);
  job.recordLength = 100;
  job.keyCount = 1;
  job.keys[0] = KeyField{1, 10, 'a', 'a', 0};
  double without = 1e30, with = 1e30;
  for (int round = 0; round < 5; round++) {
    double a = TimeRun(&job, nullptr);
    double b = TimeRun(&job, Ignore);
    if (a < without) without = a;
    if (b < with) with = b;
  }
  printf("progress: none %.1f ms, reporting to a function %.1f ms, ratio %.3f\n", without, with, without / with);
  return 0;
}
