#include "engine/sortrun.h"

#include <cstdlib>
#include <cstring>

#include "engine/errortext.h"
#include "engine/external.h"
#include "engine/groupsort.h"
#include "engine/keys.h"
#include "engine/merge.h"
#include "engine/mergeinputs.h"
#include "engine/runinput.h"
#include "engine/runpath.h"
#include "engine/runparts.h"
#include "engine/runphases.h"
#include "engine/runstate.h"
#include "engine/scanner.h"
#include "engine/statreport.h"
#include "engine/workspace.h"
#include "os/platform.h"

char StatisticsDirectory[kNameSize] = {'C', ':', kPathSeparator, 0};

static const char kLongestRecord[] = "\n Longest Variable Record Length  = %d\n";
static const char kPositionPastRecord[] = "\n Postion in %s Key > Variable Record Length!\n";
static const char kFieldPastRecord[] = "\n Postion + Length in %s Key > Variable Record Length!\n";
static const char kCannotOpenOutput[] = "\n Could NOT Open Output File: %s!\n";
static const char kTooFewRecords[] = "\n Only ONE Record in File - No Need to Sort!\n";
static const char kCannotOpenStatistics[] = "\n Could NOT Open Statistics File: %s!\n";
static const char kKeysTooLong[] = "\n Total Length of Keys Specified > Record Length!\n";
static const char kTerminated[] = "\n* * * ERRORS! - Sort Terminated * * *";
static const char kInvalidJob[] = "\n Invalid Sort Parameters!\n";
static const char kTooManyRecords[] = "\n Too Many Records - 4,294,967,295 Limit: %s!\n";
static const char kOutputIsInputFile[] = "\n Output File Is the Input File: %s!\n";

// The record and key buffers: 1 KiB up to records of this length (text lines too), and
// above it the record length rounded down to 16 bytes with room to spare.
static const int32_t kSmallRecordLimit = 1000;
static const uint32_t kSmallRecordBuffer = 1024;
static const uint32_t kRecordBufferAlignment = 16;
static const uint32_t kRecordBufferSlack = 32;

// Bytes of the record buffer for a record length the job check accepted.
static uint32_t RecordBufferSize(int32_t recordLength) {
  if (recordLength == kVariableRecords || recordLength < kSmallRecordLimit) return kSmallRecordBuffer;
  const uint32_t length = static_cast<uint32_t>(recordLength);
  return length / kRecordBufferAlignment * kRecordBufferAlignment + kRecordBufferSlack;
}

// One key of a job: a type its records take, with a length it takes, inside a fixed-length
// record, or on a field that the settings say how to find.
static bool KeyIsSafe(const KeyField *key, int32_t recordLength, const KeySettings *settings) {
  const bool variable = recordLength == kVariableRecords;
  const KeyTypeRule *rule = FindKeyType(key->type);
  if (rule == nullptr || (variable && !rule->text)) return false;
  if (key->position < 1 || key->length < 1 || key->field < 0) return false;
  if (key->sequence != 'a' && key->sequence != 'd') return false;
  if (rule->realLength && key->length != 4 && key->length != 8) return false;
  if (rule->mostLength > 0 && key->length > rule->mostLength) return false;
  if (key->field > 0) return rule->text && settings->fieldMode != kFieldsNone && key->length <= kMaxRecordLength;
  return variable || int64_t{key->position} + key->length - 1 <= recordLength;
}

// A job that any caller could hand over, a damaged parameter file included, is checked
// before anything is sized or opened: nothing below may read or write outside its buffers.
// Keys that add up to more than a fixed record are left to AllocateWorkspace.
static bool JobIsSafe(const ParameterRecord *job, const KeySettings *settings) {
  const bool variable = job->recordLength == kVariableRecords;
  if (!variable && (job->recordLength < 1 || job->recordLength > kMaxRecordLength)) return false;
  if (job->keyCount < 1 || job->keyCount > kMaxKeys) return false;
  int64_t total = variable ? kOffsetSuffixLength : 0;
  for (int k = 0; k < job->keyCount; k++) {
    if (!KeyIsSafe(&job->keys[k], job->recordLength, settings)) return false;
    total += job->keys[k].length;
  }
  return !variable || total <= static_cast<int64_t>(kSmallRecordBuffer);
}

// The steps of a run. Each returns 0 to go on, or 1 once the run has failed (its message
// written); SortRun chains them, and Finish closes whatever came before it.

// Copies the job and the options and starts the clock and the counts.
static void StartRun(SortRunState *run, const ParameterRecord *jobRecord, const RunOptions *options) {
  memset(run, 0, sizeof *run);
  run->t[0] = ElapsedMilliseconds();
  run->input.handle = -1;
  run->job = *jobRecord;
  run->job.inputName[kNameSize - 1] = '\0';
  run->job.outputName[kNameSize - 1] = '\0';
  for (int k = 0; k < kMaxKeys; k++) run->job.keyTitles[k][kKeyTitleSize - 1] = '\0';
  ResolveRunOptions(options, &run->options);
  SortCompares = 0;
  MergeCompares = 0;
  SequenceErrorFlag = 0;
  run->variable = run->job.recordLength == kVariableRecords;
  run->statisticsFlag = run->job.statisticsFlag;
}

// Refuses a job that is not safe to run and allocates the record buffer.
static int CheckJob(SortRunState *run) {
  if (JobIsSafe(&run->job, &run->options.keySettings)) run->bufferSize = RecordBufferSize(run->job.recordLength);
  if (run->bufferSize == 0) {
    Fail(run, kInvalidJob);
  } else if ((run->recordBuffer = static_cast<unsigned char *>(AllocateZeroed(run->bufferSize, 1))) == nullptr) {
    Fail(run, kMemoryError);
  }
  return run->failed;
}

// Pass 0 of a text input: mapped when it may be, else read in blocks (and then surely
// sorted externally). Writes the scan's failure, if any.
static void ScanText(SortRunState *run) {
  PhaseInput *phase = &run->phase;
  int scan;
  if (MapsForScan(run)) {
    if (MapInputFile(&run->input) != 0) {
      FailWithName(run, kReadError, run->job.inputName);
      return;
    }
    phase->bytes = run->input.bytes;
    phase->size = run->input.size;
    phase->pool = RunPool(run);
    phase->threads = run->options.threads;
    scan = RunGuarded(ScanInput, phase);
  } else {
    run->external = true;
    scan = ScanInputInBlocks(run);
  }
  const char *inputName = run->job.inputName;
  if (scan == kScanReadFailed) FailInputRead(run);
  if (scan == kScanDelimiterError) FailWithName(run, kDelimiterError, inputName);
  if (scan == kScanTooLong) FailWithName(run, kRecordTooLong, inputName);
  if (scan == kScanTooManyRecords) FailWithName(run, kTooManyRecords, inputName);
  if (scan == kScanNoMemory) Fail(run, kMemoryError);
}

// Opens the input; a text input is scanned and its keys checked against its longest line.
static int OpenInput(SortRunState *run) {
  const char *inputName = run->job.inputName;
  if (OpenRunInput(run) != 0) return 1;
  run->wideOffsets = OffsetsAreWide(run->input.size);
  PrepareKeyPlan(run->job.keys, run->job.keyCount, run->job.recordLength, &run->options.keySettings, run->wideOffsets,
                 run->invalidFields, &run->plan);
  if (InputHasUnsizedContent(&run->input)) {
    FailWithName(run, kReadError, inputName);
    return 1;
  }
  if (!run->variable) return 0;
  ScanText(run);
  if (run->failed) return 1;
  const int longest = run->phase.tally.longestRecord;
  AppendErrorFormat(kLongestRecord, longest);
  for (int k = 0; k < run->job.keyCount; k++) {
    const KeyField *key = &run->job.keys[k];
    if (key->field > 0) continue;  // a key on a field reads what its field holds
    if (key->position > longest) FailWithName(run, kPositionPastRecord, run->job.keyTitles[k]);
    if (int64_t{key->position} + key->length > int64_t{longest} + 8) {
      FailWithName(run, kFieldPastRecord, run->job.keyTitles[k]);
    }
  }
  return run->failed;
}

static int OpenOutput(SortRunState *run) {
  const int opened = run->options.streams.standardOutput ? OpenStandardOutput(&run->output)
                                                         : OpenOutputFile(run->job.outputName, run->sources, run->sourceCount, &run->output);
  if (opened == kOutputIsInput) {
    FailWithName(run, kOutputIsInputFile, run->job.outputName);
  } else if (opened == kOutputNoMemory) {
    Fail(run, kMemoryError);
  } else if (opened != kOutputOpened) {
    FailWithName(run, kCannotOpenOutput, run->job.outputName);
  } else {
    run->outputOpen = true;
  }
  return run->failed;
}

// n: the whole records of a fixed-length input, or pass 0's count of a text input.
static int CountRecords(SortRunState *run) {
  const uint64_t recordLength = static_cast<uint64_t>(run->job.recordLength);
  const uint64_t n = run->variable ? run->phase.tally.recordCount : run->input.size / recordLength;
  if (n < 2) {
    Fail(run, kTooFewRecords);
  } else if (n > UINT32_MAX) {
    FailWithName(run, kTooManyRecords, run->job.inputName);
  } else if (!run->variable && run->input.size % recordLength != 0) {
    // A part record at the end (the file grew since it was checked): sorting the whole
    // records alone would silently drop its bytes.
    FailWithName(run, kPartialRecord, run->job.inputName);
  } else {
    run->recordCount = static_cast<uint32_t>(n);
  }
  return run->failed;
}

// The path for the counted records: in memory the input is mapped (a text input already
// is, for its scan); external, it is read in sequence.
static int TakePath(SortRunState *run) {
  ChooseRunPath(run);
  if (run->external) {
    UnmapInputFile(&run->input);
  } else if (run->input.bytes == nullptr && MapInputFile(&run->input) != 0) {
    FailWithName(run, kReadError, run->job.inputName);
  }
  return run->failed;
}

// Opens the statistics report when the job asks for one; a report that cannot be opened
// is told, and the run goes on without it.
static void OpenReport(SortRunState *run) {
  if (run->statisticsFlag != 1) return;
  run->statistics = OpenStatisticsFile(StatisticsDirectory, run->sources, run->sourceCount, &run->output);
  if (run->statistics == nullptr) {
    AppendErrorFormat(kCannotOpenStatistics, kStatisticsFileName);
    run->statisticsFlag = 0;
  }
}

// The in-memory run's phases over the mapped input (a text input's scan set up the rest).
static void SetUpPhases(SortRunState *run) {
  PhaseInput *phase = &run->phase;
  phase->bytes = run->input.bytes;
  phase->size = run->input.size;
  phase->recordLength = run->job.recordLength;
  phase->ws = &run->ws;
  phase->plan = &run->plan;
  phase->pool = RunPool(run);
  phase->threads = run->options.threads;
  phase->scratch = run->recordBuffer;
  phase->scratchSize = run->bufferSize;
  phase->progress = run->options.progress;
}

// Allocates the workspace (or the external sort's parts and merges) and writes the
// report's header, which tells what it takes.
static int Allocate(SortRunState *run) {
  uint64_t figure = 0;
  int allocated = 0;
  if (run->external) {
    allocated = AllocateExternalSort(run, &figure);
  } else {
    allocated = AllocateWorkspace(&run->ws, run->recordCount, &run->plan);
    figure = 2 * uint64_t{run->bufferSize} + run->ws.allocatedMemoryUsage;
    SetUpPhases(run);
  }
  if (allocated == 1) {
    Fail(run, kKeysTooLong);
  } else if (allocated == 2) {
    Fail(run, kMemoryError);
  } else if (run->statistics != nullptr) {
    ReportHeader header;
    ReadLocalTime(&header.time);
    header.job = &run->job;
    header.recordCount = run->recordCount;
    header.allocatedMemoryUsage = figure;
    WriteStatisticsHeader(run->statistics, &header);
  }
  return run->failed;
}

// Builds the keys, sorts, merges and writes the output; the workspace is allocated and the
// input mapped.
static void SortInMemory(SortRunState *run) {
  SortWorkspace *ws = &run->ws;
  const int keyed = RunGuarded(BuildKeys, &run->phase);
  if (keyed < 0) {
    FailInputRead(run);
    return;
  }
  if (keyed != 0) {
    FailWithName(run, kInputChanged, run->job.inputName);
    return;
  }
  if (FailIfInputChanged(run) != 0) return;
  if (run->statistics != nullptr) WriteStatisticsGroupLines(run->statistics, ws->groupCount);
  run->t[1] = ElapsedMilliseconds();
  if (SortGroups(ws, run->statistics, &run->t[2], run->pool, run->options.progress) != 0) {
    Fail(run, kSequenceError);
    return;
  }
  run->t[3] = ElapsedMilliseconds();
  if (FailIfInputChanged(run) != 0) return;
  OutputCopy copy = {&run->phase, &run->output, nullptr, 0, UniqueLength(&run->plan, &run->options), 0};
  copy.lineEnd = LineEndBytes(run->options.streams.lineEnd, &copy.lineEndLength);
  const int written = RunGuarded(WriteOutput, &copy);
  run->leftOut = copy.leftOut;
  if (written < 0) {
    FailInputRead(run);
  } else if (written != 0) {
    FailWithName(run, kWriteError, run->job.outputName);
  } else {
    FailIfInputChanged(run);  // cut short after its last record was read
  }
}

// Releases everything, closes the files (emptying the output of a failed run), writes the
// report's footer after a run that did not fail, and returns the run's result.
static int Finish(SortRunState *run, RunOutcome *outcome) {
  const int ranExternally = run->externalSort != nullptr;
  ReleaseWorkspace(&run->ws);
  ReleaseExternalSort(run);
  StopWorkPool(run->pool);
  CloseInputFile(&run->input);
  // An interrupt removes the new output until it has taken the named one's place, and never after.
  if (run->outputOpen && CloseOutputFile(&run->output, !run->failed) != 0 && !run->failed) {
    FailWithName(run, kWriteError, run->job.outputName);
  }
  StopWatchingInterrupts();
  free(run->recordBuffer);
  run->t[4] = ElapsedMilliseconds();
  int statisticsWritten = 0;
  if (run->statistics != nullptr) {
    if (run->statisticsFlag == 1 && !run->failed) {
      WriteStatisticsFooter(run->statistics, SortCompares, MergeCompares, run->t);
      statisticsWritten = 1;
    }
    if (fclose(run->statistics) != 0) statisticsWritten = 0;
  }
  if (run->failed && !(run->outOfOrder && run->options.streams.action == kRunCheck)) AppendErrorText(kTerminated);
  if (outcome != nullptr) {
    *outcome = RunOutcome{statisticsWritten, ranExternally, {}, run->leftOut, run->outOfOrder};
    memcpy(outcome->invalidFields, run->invalidFields, sizeof outcome->invalidFields);
  }
  return run->failed;
}

// pelmar-sort's merge and check of inputs that are each in key order already.
static void MergeOrCheck(SortRunState *run) {
  if (run->options.streams.action == kRunCheck) {
    CheckInputs(run);
  } else {
    MergeInputs(run, OpenOutput);
  }
}

int SortRun(const ParameterRecord *jobRecord, const RunOptions *options, RunOutcome *outcome) {
  SortRunState run;
  StartRun(&run, jobRecord, options);
  if (CheckJob(&run) != 0) {
    // refused
  } else if (run.options.streams.action != kRunSort) {
    MergeOrCheck(&run);
  } else if (OpenInput(&run) == 0 && OpenOutput(&run) == 0 && CountRecords(&run) == 0 && TakePath(&run) == 0) {
    OpenReport(&run);
    if (Allocate(&run) == 0) {
      if (run.external) SortExternally(&run); else SortInMemory(&run);
    }
  }
  return Finish(&run, outcome);
}
