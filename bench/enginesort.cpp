// Runs the sort engine on one file with one key, as the benchmark's Pelmar side:
//   enginesort IN OUT SIZE|variable POS,LEN,TYPE,SEQ [both|cr|lf [THREADS [MEMORY [TMPDIR]]]]
// THREADS: the engine's thread count; without it (or 0) the default (the cores, at most 8).
// MEMORY: the run's budget in bytes (0: the default); TMPDIR: the run files' folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/errortext.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"

int main(int argc, char **argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: enginesort IN OUT SIZE|variable POS,LEN,TYPE,SEQ [both|cr|lf [THREADS [MEMORY [TMPDIR]]]]\n");
    return 2;
  }
  ParameterRecord job;
  memset(&job, 0, sizeof job);
  CopyText(job.inputName, sizeof job.inputName, argv[1]);
  CopyText(job.outputName, sizeof job.outputName, argv[2]);
  job.recordLength = strcmp(argv[3], "variable") == 0 ? kVariableRecords : atoi(argv[3]);
  job.keyCount = 1;
  char type = 'a', sequence = 'a';
  if (sscanf(argv[4], "%d,%d,%c,%c", &job.keys[0].position, &job.keys[0].length, &type, &sequence) != 4) return 2;
  job.keys[0].type = type;
  job.keys[0].sequence = sequence;
  if (argc > 5) DelimiterMode = strcmp(argv[5], "lf") == 0 ? kDelimiterLf : strcmp(argv[5], "cr") == 0 ? kDelimiterCr : kDelimiterBoth;
  RunOptions options;
  memset(&options, 0, sizeof options);
  if (argc > 6) options.threads = atoi(argv[6]);
  if (argc > 7) options.memoryBudget = strtoull(argv[7], nullptr, 10);
  if (argc > 8) CopyText(options.temporaryFolder, sizeof options.temporaryFolder, argv[8]);
  ClearErrorText();
  RunOutcome outcome;
  if (SortRun(&job, &options, &outcome) != 0) {
    fprintf(stderr, "%s\n", ErrorText);
    return 1;
  }
  if (getenv("ENGINESORT_SAY_PATH") != nullptr) fprintf(stderr, "%s\n", outcome.ranExternally ? "external" : "in memory");
  return 0;
}
