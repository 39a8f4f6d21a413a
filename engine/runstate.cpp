#include "engine/runstate.h"

#include "engine/errortext.h"

const char kMemoryError[] = "\n Memory Allocation Error! Not Enough Memory\n";
const char kCannotOpenInput[] = "\n Could NOT Open Input File: %s!\n";
const char kPartialRecord[] = "\n File Size NOT Equally Divisible by Record Length: %s!\n";
const char kDelimiterError[] = "\n Record Delimeter Error in: %s!\n";
const char kRecordTooLong[] = "\n Found Record Length > 256 Bytes in: %s!\n";
const char kCannotCreateTemporary[] = "\n Could NOT Create Temporary File in: %s!\n";
const char kCannotWriteTemporary[] = "\n Could NOT Write Temporary File: %s!\n";
const char kCannotReadTemporary[] = "\n Could NOT Read Temporary File: %s!\n";
const char kInputChanged[] = "\n Input File Changed During Sort: %s!\n";
const char kReadError[] = "\n Error Reading Input File: %s!\n";
const char kWriteError[] = "\n Error Writing Output File: %s!\n";
const char kSequenceError[] = "\n Sort FAILED - Sequence Error! Program Aborted! \n";

void Fail(SortRunState *run, const char *message) {
  AppendErrorText(message);
  run->failed = 1;
}

void FailWithName(SortRunState *run, const char *format, const char *name) {
  AppendErrorFormat(format, name);
  run->failed = 1;
}

void FailInputRead(SortRunState *run) {
  FailWithName(run, InputFileChanged(&run->input) == 1 ? kInputChanged : kReadError, run->job.inputName);
}

int FailIfInputChanged(SortRunState *run) {
  const int changed = InputFileChanged(&run->input);
  if (changed != 0) FailWithName(run, changed == 1 ? kInputChanged : kReadError, run->job.inputName);
  return changed != 0;
}

uint32_t UniqueLength(const KeyPlan *plan, const RunOptions *options) {
  return options->streams.unique ? plan->keyLength - plan->offsetLength - plan->indexLength : 0;
}

WorkPool *RunPool(SortRunState *run) {
  if (run->pool == nullptr && run->options.threads > 1) {
    run->pool = StartWorkPool(run->options.threads);
    if (run->pool == nullptr) run->options.threads = 1;
  }
  return run->pool;
}
