// pelmar-sort: the sort engine and the Sort dialog's checks from a command line. The
// typed options fill the dialog's fields as texts; then it does what the dialog's SORT
// does: validation, the parameter record, the optional save, the sort.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "cli/commandline.h"
#include "cli/progress.h"
#include "engine/errortext.h"
#include "engine/progress.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "engine/statreport.h"
#include "resources/resource.h"
#include "shell/winsys_posix.h"
#include "sortdialog/sortfields.h"
#include "sortdialog/textfields.h"
#include "sortdialog/validation.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"

static const char kUsage[] =
    "Usage:\n"
    "  pelmar-sort --input IN --output OUT --size N|variable [--key POS,LEN[,TYPE[,SEQ]]]...\n"
    "              [--title K=TEXT]... [--stats] [--delimiter both|cr|lf] [--save] [--threads N]\n"
    "  pelmar-sort --saved ID | --last      run a saved parameter set (an entry identifier\n"
    "                                       such as orders_b, or the last-used set)\n"
    "  pelmar-sort --list                   list the entry identifiers of the user parameter files\n"
    "  pelmar-sort --help | --version\n"
    "\n"
    "Sorts a file of fixed-length records (N bytes each, 1 to 4300) or of text lines\n"
    "(variable) by up to six keys and writes the records, unchanged, in key order.\n"
    "\n"
    "Options:\n"
    "  -i, --input IN           the file to sort\n"
    "  -o, --output OUT         the sorted file; an OUT equal to IN gets the output file\n"
    "                           name identifier (\"Srt\" unless Pelmar.ini says otherwise)\n"
    "                           before its extension\n"
    "  -s, --size N|variable    record length in bytes, or text lines (any beginning of\n"
    "                           \"variable\" from \"var\" on)\n"
    "  -k, --key POS,LEN,TYPE,SEQ\n"
    "                           a key: 1-based byte position, length in bytes, type (c when\n"
    "                           left out), sequence a ascending (when left out) or d\n"
    "                           descending; up to six keys, the most significant first\n"
    "  -t, --title K=TEXT       names key K (1 to 6), at most 25 characters, in messages\n"
    "                           and the statistics report\n"
    "      --stats              write SortStat.txt in the input file's folder\n"
    "      --delimiter MODE     line ends of text lines: both (CR LF), cr or lf; without it\n"
    "                           Pelmar.ini in the current directory decides, else both\n"
    "      --save               save the set as the last-used one (spt.spt), and in the input\n"
    "                           file's user parameter file when Pelmar.ini turns those on\n"
    "      --threads N          threads the sort uses, 1 to 64; without it the cores, at\n"
    "                           most 8. Every count writes the same output and report\n"
    "\n"
    "Key types, the numbers stored least significant byte first:\n"
    "  c  characters, letter case ignored      a  bytes, as they are\n"
    "  i  signed integer of 2, 4, 6 or 8 bytes u  unsigned integer of 2, 4, 6 or 8 bytes\n"
    "  f  IEEE real of 4 or 8 bytes            (text lines take c and a only)\n"
    "\n"
    "Examples:\n"
    "  pelmar-sort -i accounts.dat -o by-balance.dat -s 32 -k 17,4,i,d -k 1,16,c\n"
    "      32-byte records by the signed 32-bit number at byte 17, largest first, then by\n"
    "      the name in bytes 1 to 16\n"
    "  pelmar-sort -i cities.txt -o by-country.txt -s variable -k 1,2 -k 4,12 --delimiter lf\n"
    "      text lines ended by LF, by their first two characters, then characters 4 to 15\n"
    "\n"
    "Relative names are taken from the current directory, which also holds Pelmar.ini and\n"
    "the parameter files. Records are always written whole; text lines end in CR LF.\n"
    "\n"
    "Exit status: 0 sorted (or listed); 1 the parameters were refused or the sort failed,\n"
    "with the messages on standard error; 2 the command line was not understood.\n";

static const char kVersion[] = "pelmar-sort 1.0\n";
static const char kDone[] = "Sort Is Done!";
static const char kLastEntry[] = "spt_a";  // the entry identifier of "spt.spt" itself

// The whole error text, as the dialog would show it, ended by a line break.
static void PrintErrorText() {
  fputs(ErrorText, stderr);
  const size_t length = ErrorTextLength();
  if (length == 0 || ErrorText[length - 1] != '\n') fputc('\n', stderr);
}

// The report goes beside the input: the folder of its name, or the current directory for
// a bare name (the dialog's Browse always gives full paths; a command line seldom does).
static void SetStatisticsDirectory(const char *inputName) {
  const char *separator = strrchr(inputName, kPathSeparator);
  if (separator == nullptr) {
    CopyText(StatisticsDirectory, sizeof StatisticsDirectory, ".");
    return;
  }
  size_t length = static_cast<size_t>(separator - inputName);
  if (length >= sizeof StatisticsDirectory) length = sizeof StatisticsDirectory - 1;
  memcpy(StatisticsDirectory, inputName, length);
  StatisticsDirectory[length] = '\0';
}

// Puts the typed options into the fields.
static void FillTypedFields(const CommandLine *line, TextFieldsRecord *fields) {
  if (line->input != nullptr) SetFieldText(fields, IDC_INPUT_NAME, line->input);
  if (line->output != nullptr) SetFieldText(fields, IDC_OUTPUT_NAME, line->output);
  if (line->size != nullptr) SetFieldText(fields, IDC_RECORD_SIZE, line->size);
  for (int k = 0; k < line->keyCount; k++) {
    SetFieldText(fields, IDC_KEY_POSITION(k), line->keys[k][0]);
    SetFieldText(fields, IDC_KEY_LENGTH(k), line->keys[k][1]);
    SetFieldText(fields, IDC_KEY_TYPE(k), line->keys[k][2]);
    SetFieldText(fields, IDC_KEY_SEQUENCE(k), line->keys[k][3]);
  }
}

// What the Sort dialog's SORT does with its fields. Returns the exit status.
static int ValidateAndSort(const DialogFields *fields, int save) {
  if (ValidateParameters(fields) != 0) {
    PrintErrorText();
    return 1;
  }
  BuildParameterRecord();
  // A fixed-length set is saved before the sort, a variable-length one only after it succeeded.
  if (save && CurrentParameters.recordLength > 0) SaveLastParameters(nullptr);
  const bool statistics = CurrentParameters.statisticsFlag == 1;
  if (statistics) SetStatisticsDirectory(CurrentParameters.inputName);
  ClearErrorText();
  if (isatty(fileno(stderr))) {
    StartProgress(stderr);
    SortProgress = ShowProgress;
  }
  const int result = SortRun(&JobRecord);
  SortProgress = nullptr;
  EndProgress();
  if (result != 0) {
    PrintErrorText();
    return 1;
  }
  printf("%s\n", kDone);
  if (statistics && StatisticsWritten) {
    printf("%s%s\n", StatisticsDirectory, kStatisticsFileName);
  } else if (statistics) {
    fprintf(stderr, "Could NOT Open Statistics File: %s%s\n", StatisticsDirectory, kStatisticsFileName);
  }
  if (save && CurrentParameters.recordLength == kVariableRecords) SaveLastParameters(nullptr);
  return 0;
}

int main(int argc, char **argv) {
  static CommandLine line;
  char error[640];
  if (ParseCommandLine(argc, argv, &line, error, sizeof error) != 0) {
    fprintf(stderr, "pelmar-sort: %s (see pelmar-sort --help)\n", error);
    return 2;
  }
  if (line.action == kActionHelp) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (line.action == kActionVersion) {
    fputs(kVersion, stdout);
    return 0;
  }

  // Start-up as the program's: the current directory is the program directory.
  ResetParameterState();
  LoadSettings();
  if (line.delimiter >= 0) DelimiterMode = line.delimiter;
  SortThreads = line.threads;

  if (line.action == kActionList) {
    ListUserEntries(nullptr);
    for (int i = 0; i < ListItemCount(); i++) printf("%s\n", ListItemAt(i));
    return 0;
  }

  static TextFieldsRecord fields;
  ClearTextFields(&fields);
  DialogFields access = TextDialogFields(&fields);
  if (line.action == kActionSaved || line.action == kActionLast) {
    if (LoadUserEntry(nullptr, line.action == kActionLast ? kLastEntry : line.identifier) != 0) return 1;
    FillDialogFields(&access);
  } else {
    FillTypedFields(&line, &fields);
  }
  for (int k = 0; k < kMaxKeys; k++) {
    if (line.titles[k] != nullptr) CopyText(KeyTitles[k], kKeyTitleSize, line.titles[k]);
  }
  if (line.statistics) SetFieldCheck(&fields, IDC_STATISTICS, 1);
  return ValidateAndSort(&access, line.save);
}
