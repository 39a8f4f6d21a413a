// pelmar-sort: the sort engine and the Sort dialog's checks from a command line. The
// typed options fill the dialog's fields (the plain-text dialog of the window-system
// layer); then it does what the dialog's SORT does, through the dialog's own logic:
// validation, then the SORT action, which saves only with --save.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <string>
#include <vector>

#include "cli/commandline.h"
#include "cli/keylanguage.h"
#include "cli/progressline.h"
#include "engine/errortext.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "engine/statreport.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "dialogs/preferences.h"
#include "windowing/winsys.h"
#include "dialogs/sortdialog.h"
#include "dialogs/validation.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"

static const char kUsage[] =
    "Usage:\n"
    "  pelmar-sort --input IN --output OUT --size N|variable\n"
    "              --key POS,LEN[,TYPE[,SEQ]]... [--input IN]... [--merge] [--unique]\n"
    "              [--title K=TEXT]... [--stats] [--save] [--line-end crlf|lf|cr|nul]\n"
    "              [--delimiter both|cr|lf|nul] [--threads N] [--memory SIZE]\n"
    "              [--temporary-directory DIR] [--stable]\n"
    "              [--field-separator C | --csv]\n"
    "  pelmar-sort --check --input IN [--input IN]... --size N|variable\n"
    "              --key POS,LEN[,TYPE[,SEQ]]... [--unique] [--title K=TEXT]...\n"
    "              [--delimiter both|cr|lf|nul] [--field-separator C | --csv]\n"
    "  pelmar-sort --saved ID | --last      run a saved parameter set (an entry\n"
    "                                       identifier such as orders_b, or the\n"
    "                                       last-used set)\n"
    "  pelmar-sort --list                   list the entry identifiers of user\n"
    "                                       parameter files\n"
    "  pelmar-sort --preferences            show the preferences kept in Pelmar.ini\n"
    "  pelmar-sort --set NAME=VALUE         change one of them (see Preferences)\n"
    "  pelmar-sort -h | --help | --version\n"
    "\n"
    "Sorts files of fixed-length records (N bytes each, 1 to 4300) or of text lines\n"
    "(variable) by up to six keys and writes the records in key order: fixed-length\n"
    "records unchanged, text lines with CR LF line ends unless --line-end says\n"
    "otherwise. Several inputs are sorted as one; --merge merges inputs that are in\n"
    "key order already, and --check only checks that they are.\n"
    "\n"
    "Options (values as \"-i x\", \"-ix\", \"--input x\" or \"--input=x\"; \"--\" ends them):\n"
    "  -i, --input IN           a file to sort; once for each input, read one after\n"
    "                           the other as one input. IN - is standard input (once\n"
    "                           at most). A single named input's name has a '.' and\n"
    "                           4 characters or more\n"
    "  -o, --output OUT         the sorted file; its name has exactly one '.', so\n"
    "                           ./out.dat or sorted are refused (write out.dat, or\n"
    "                           sorted.dat). An OUT equal to the first IN gets the\n"
    "                           output file name identifier (\"Srt\" unless Pelmar.ini\n"
    "                           says otherwise) before its extension. OUT - is\n"
    "                           standard output, which then holds the records\n"
    "                           alone: \"Sort Is Done!\" goes to standard error\n"
    "  -s, --size N|variable    record length in bytes, or text lines of at most 260\n"
    "                           bytes (any beginning of \"variable\" from \"var\" on)\n"
    "  -k, --key POS,LEN,TYPE,SEQ\n"
    "                           a key: position, length in bytes, type (c when left\n"
    "                           out), sequence a ascending (when left out) or d\n"
    "                           descending; one to six keys, the most significant\n"
    "                           first. POS is a byte from 1 on, fN (field N from its\n"
    "                           first byte) or fN.C (from its C-th byte)\n"
    "  -t, --title K=TEXT       names key K (1 to 6), at most 25 characters, in\n"
    "                           messages and the statistics report; an empty TEXT\n"
    "                           changes nothing\n"
    "  -m, --merge              merge inputs that are each in key order already, in\n"
    "                           one pass; equal keys come first from the earlier\n"
    "                           input. An input out of key order ends the run, and\n"
    "                           the message names its record\n"
    "  -u, --unique             of the records with equal keys, write only the first\n"
    "                           in input order; standard error counts those left out.\n"
    "                           With --check, equal keys count as out of order\n"
    "  -c, --check              only check that the inputs, taken as one, are in key\n"
    "                           order, and write nothing: exit status 0 when they\n"
    "                           are, else 1, with the first record out of order\n"
    "                           named on standard error\n"
    "      --stats              write SortStat.txt in the first input file's folder\n"
    "                           (the current directory for standard input)\n"
    "      --delimiter MODE     line ends of the text lines read: both (CR LF), cr,\n"
    "                           lf or nul (a zero byte); without it Pelmar.ini in the\n"
    "                           current directory decides, else both\n"
    "      --line-end END       line ends of the text lines written: crlf (when left\n"
    "                           out), lf, cr or nul (a zero byte)\n"
    "      --save               save the set as the last-used one (spt.spt), and in\n"
    "                           the input file's user parameter file when user-files\n"
    "                           is on; refused for a key on a field or of a type\n"
    "                           other than c, a, i, u and f\n"
    "      --threads N          threads the sort uses, 1 to 64; without it the cores,\n"
    "                           at most 8. Every count writes the same output and\n"
    "                           report\n"
    "  -S, --memory SIZE        memory the sort may use: bytes, or with K, M or G; at\n"
    "                           least 16M. Without it half the physical memory. An\n"
    "                           input whose keys and bytes do not fit is sorted\n"
    "                           through run files\n"
    "  -T, --temporary-directory DIR\n"
    "                           where those run files go (about the input's size and\n"
    "                           its keys), and standard input or several inputs when\n"
    "                           they pass a quarter of the memory; without it\n"
    "                           TMPDIR, else /tmp (Windows: GetTempPath)\n"
    "      --stable             fixed-length records with equal keys keep their input\n"
    "                           order (each key is 4 bytes longer); text lines always\n"
    "                           do\n"
    "      --field-separator C  the byte between the fields of a record: one\n"
    "                           character, or \\t for a tab\n"
    "      --csv                fields separated by commas, as CSV files quote them:\n"
    "                           a field in double quotes may hold commas and doubled\n"
    "                           quotes, and its key sees it without the quotes; a\n"
    "                           line break inside quotes still ends the record\n"
    "Each option is a word of its own: -m -u, not -mu.\n"
    "Not together: --merge and --check; --check and --output; --stats and --merge or\n"
    "--check; --save and --merge, --check, several inputs, standard input or\n"
    "standard output; --field-separator and --csv; --saved, --last, --list,\n"
    "--preferences and --set with each other or with --input, --output, --size or\n"
    "--key. An existing OUT is replaced only by a run that finishes: the records go\n"
    "to a new file beside it, which takes its name at the end; a refused, failed or\n"
    "interrupted run leaves OUT as it was.\n"
    "\n"
    "Key types (text lines and keys on a field take c, a, n and za only):\n"
    "  c   characters, letters a to z counted as A to Z\n"
    "  a   bytes, as they are\n"
    "  i   signed integer of 2, 4, 6, 8 ... bytes, least significant byte first\n"
    "  u   unsigned integer of 2, 4, 6, 8 ... bytes, least significant byte first\n"
    "  f   IEEE real of 4 or 8 bytes, least significant byte first (see below)\n"
    "  bi  signed integer of 1 to 8 bytes, most significant byte first\n"
    "  bu  unsigned integer of 1 to 8 bytes, most significant byte first\n"
    "  bf  IEEE real of 4 or 8 bytes, most significant byte first; NaNs last\n"
    "  pd  packed decimal (COMP-3) of 1 to 16 bytes: two digits a byte, the sign last\n"
    "  zd  zoned decimal of 1 to 31 bytes, a digit in each byte's low half (EBCDIC)\n"
    "  za  zoned decimal in ASCII of 1 to 31 characters, sign leading or overpunched\n"
    "  n   a number written as text, 1 to 64 characters: -12.50, 7 = 007 = 7.0\n"
    "The numbers sort by value, exactly, but for f: it keys negative values by their\n"
    "reciprocals ascending, and positive ones descending. So ascending, -0 sorts\n"
    "first with -infinity; descending, +infinity sorts after every finite positive\n"
    "value; and values whose reciprocals round alike (the smallest subnormals)\n"
    "compare equal. bf sorts big-endian reals in plain numeric order.\n"
    "A key on a field takes the field's first LEN bytes from POS on; a shorter field\n"
    "is padded with zero bytes, a missing one is empty. It needs --field-separator\n"
    "or --csv.\n"
    "A pd, zd or za field that is not a valid number sorts before every number\n"
    "(after them with d); the sort goes on, and standard error says how many there\n"
    "were for each key.\n"
    "\n"
    "Preferences (--set NAME=VALUE), checked as the Preferences dialog checks them:\n"
    "  browse-folder=FOLDER     where the input file dialog opens (more than 2\n"
    "                           characters; not used while last-path is on)\n"
    "  ofni=TEXT                output file name identifier: 1 to 4 letters,\n"
    "                           digits, - _ ~\n"
    "  delimiter=both|cr|lf     line ends of text lines, from the next run on\n"
    "  user-files=on|off        keep named sets per input file: --save adds, --list\n"
    "                           shows\n"
    "  go-to-sort=on|off, stay=on|off, last-path=on|off, key-titling=on|off\n"
    "                           switches of the Windows program\n"
    "\n"
    "Examples:\n"
    "  pelmar-sort -i accounts.dat -o by-balance.dat -s 32 -k 17,4,i,d -k 1,16,c\n"
    "      32-byte records by the signed 32-bit number at byte 17, largest first,\n"
    "      then by the name in bytes 1 to 16\n"
    "  pelmar-sort -i cities.txt -o by-country.txt -s var -k 1,2 -k 4,12\n"
    "      text lines ended by CR LF, by their first two characters, then\n"
    "      characters 4 to 15\n"
    "  pelmar-sort -i sales.csv -o by-amount.csv -s var -k f3,12,n --csv\n"
    "      a CSV file by the number in its third column (a header line's word\n"
    "      reads as 0)\n"
    "  pelmar-sort -i policies.dat -o by-premium.dat -s 100 -k 41,6,pd,d\n"
    "      100-byte COBOL records by the COMP-3 amount in bytes 41 to 46, largest\n"
    "      first\n"
    "  pelmar-sort -i events.bin -o by-id.bin -s 16 -k 1,4,bi\n"
    "      16-byte records by the big-endian signed 32-bit id in bytes 1 to 4\n"
    "\n"
    "In pipelines: Linux text ends its lines in LF alone, so --delimiter lf reads\n"
    "them, and --line-end lf writes them so (without it they would end in CR LF):\n"
    "  zcat app.log.gz | pelmar-sort -s var -k 1,19 --delimiter lf --line-end lf \\\n"
    "                                -i - -o - | head\n"
    "      the 10 earliest lines of a compressed log, by the time stamp in their\n"
    "      first 19 characters\n"
    "  pelmar-sort -m -i mon.log -i tue.log -i wed.log -o week.log -s var -k 1,19 \\\n"
    "              --delimiter lf --line-end lf\n"
    "      daily logs, each in time order already, merged into one\n"
    "  pelmar-sort -u -i jan.txt -i feb.txt -o - -s var -k 1,8 --delimiter lf \\\n"
    "              --line-end lf | less\n"
    "      one line for each customer number (characters 1 to 8), the first of it\n"
    "      in jan.txt and then feb.txt, a page at a time\n"
    "  if pelmar-sort -c -i week.log -s var -k 1,19 --delimiter lf; then ...\n"
    "      a script that goes on only when week.log is in time order (a check\n"
    "      writes nothing, so it takes no --line-end)\n"
    "\n"
    "Relative names are taken from the current directory, which also holds\n"
    "Pelmar.ini and the parameter files. Records are always written whole; text\n"
    "lines end in CR LF unless --line-end says otherwise.\n"
    "\n"
    "Exit status: 0 done, or in key order for --check; 1 the parameters were\n"
    "refused, the sort failed, something could not be saved, or --check found a\n"
    "record out of key order, with the messages on standard error; 2 the command\n"
    "line was not understood.\n";

static const char kVersion[] = "pelmar-sort " PELMAR_VERSION "\n";
static const char kLastEntry[] = "spt_a";  // the entry identifier of "spt.spt" itself
static const char kLastParametersName[] = "spt.spt";

// The whole error text, as the dialog would show it, ended by a line break.
static void PrintErrorText() {
  fputs(ErrorText, stderr);
  const size_t length = ErrorTextLength();
  if (length == 0 || ErrorText[length - 1] != '\n') fputc('\n', stderr);
}

static const CommandLine *gLine;  // the command line being run

// One line on standard error for every key with fields that were not valid numbers, and
// for the records a unique run left out.
static void PrintNotes(const RunOutcome *outcome) {
  for (int k = 0; k < gLine->keyCount; k++) {
    const uint64_t count = outcome->invalidFields[k];
    if (count == 0) continue;
    char text[kPartSize];
    DescribeKey(gLine, k, text, sizeof text);
    fprintf(stderr, "pelmar-sort: key %d (%s): %llu field%s not a valid number, sorted %s every number\n", k + 1, text,
            static_cast<unsigned long long>(count), count == 1 ? " is" : "s are",
            CurrentParameters.keys[k].sequence == 'd' ? "after" : "before");
  }
  if (outcome->leftOut > 0) {
    fprintf(stderr, "pelmar-sort: %llu record%s with a key equal to the one before left out\n",
            static_cast<unsigned long long>(outcome->leftOut), outcome->leftOut == 1 ? "" : "s");
  }
}

// A check's finding: the record out of key order, on one line.
static void PrintCheckResult() {
  std::string text = ErrorText;
  const size_t first = text.find_first_not_of("\n ");
  text = first == std::string::npos ? "" : text.substr(first);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  fprintf(stderr, "pelmar-sort: %s\n", text.c_str());
}

// The run's result on the terminal: "Sort Is Done!" and the report's name (on standard
// error when the records go to standard output), or the error text on standard error;
// notes on invalid numbers and left-out records. A check says nothing when all is in order.
// The progress line is gone first.
static void PrintSortResult(WindowHandle, int result, const RunOutcome *outcome) {
  EndProgress();
  FILE *notes = gLine->output != nullptr && strcmp(gLine->output, "-") == 0 ? stderr : stdout;
  if (result != 0 && outcome->outOfOrder && gLine->runAction == kRunCheck) {
    PrintCheckResult();
    return;
  }
  if (result != 0) {
    if (!StandardOutputClosed()) PrintErrorText();  // a reader that went away needs no word
    return;
  }
  PrintNotes(outcome);
  if (gLine->runAction == kRunCheck) return;
  fprintf(notes, "%s\n", kMessageSortDone);
  const bool statistics = CurrentParameters.statisticsFlag == 1;
  if (statistics && outcome->statisticsWritten) {
    fprintf(notes, "%s%s\n", StatisticsDirectory, kStatisticsFileName);
  } else if (statistics) {
    fprintf(stderr, "Could NOT Open Statistics File: %s%s\n", StatisticsDirectory, kStatisticsFileName);
  }
}

// After a refused or failed run: the system's reason for each named input that cannot be
// read, and a hint when a text input's lines end in LF alone but the run took CR LF.
static void ExplainFailure(const CommandLine *line) {
  for (int i = 0; i < line->inputCount; i++) {
    const char *name = line->inputs[i];
    struct stat status;
    const char *reason = nullptr;
    if (strcmp(name, "-") == 0) continue;
    if (stat(name, &status) != 0) {
      reason = strerror(errno);
    } else if (S_ISDIR(status.st_mode)) {
      reason = "a folder, not a file";
    } else if (!S_ISREG(status.st_mode)) {
      reason = "not a regular file";
    }
    if (reason != nullptr) fprintf(stderr, "pelmar-sort: %s: %s\n", name, reason);
  }
  const bool countRefused = strstr(ErrorText, "Only ONE Record in File") != nullptr ||
                            strstr(ErrorText, "Found Record Length > 256 Bytes") != nullptr;
  if (line->delimiter >= 0 || DelimiterMode != kDelimiterBoth || !countRefused || PathExists(SettingsPath)) return;
  for (int i = 0; i < line->inputCount; i++) {
    FILE *file = strcmp(line->inputs[i], "-") == 0 ? nullptr : fopen(line->inputs[i], "rb");
    if (file == nullptr) continue;
    static char head[65536];
    const size_t got = fread(head, 1, sizeof head, file);
    fclose(file);
    if (memchr(head, '\n', got) != nullptr && memchr(head, '\r', got) == nullptr) {
      fprintf(stderr, "pelmar-sort: the lines of %s end in LF alone: add --delimiter lf\n", line->inputs[i]);
      return;
    }
  }
}

// A progress line while the sort runs, on a terminal only.
static bool ShowsProgress() { return isatty(fileno(stderr)) != 0; }

static void StartSortProgress() {
  if (ShowsProgress()) StartProgress(stderr);
}

// Alphabetical order, as the Sort dialog's list keeps its items: letters compared
// without regard to case, ties by byte value.
static bool IdentifierBefore(const std::string &a, const std::string &b) {
  int order = strcasecmp(a.c_str(), b.c_str());
  return order != 0 ? order < 0 : a < b;
}

static void CollectIdentifier(void *list, const char *identifier) {
  static_cast<std::vector<std::string> *>(list)->push_back(identifier);
}

// The identifiers of every saved entry, in the Sort dialog's order; storage's messages
// (a corrupted file) go to standard error.
static std::vector<std::string> SavedIdentifiers() {
  static StorageOutcome outcome;
  std::vector<std::string> identifiers;
  ListUserEntries(&outcome, CollectIdentifier, &identifiers);
  ShowStorageMessages(nullptr, &outcome);
  std::sort(identifiers.begin(), identifiers.end(), IdentifierBefore);
  return identifiers;
}

// An identifier as a shell word: as it is when every character is plain, else in single
// quotes (orders_| becomes 'orders_|'), so that a listed name can be pasted after --saved.
static void PrintShellWord(const std::string &word) {
  bool plain = !word.empty() && word[0] != '~';
  for (char c : word) {
    if (!isalnum(static_cast<unsigned char>(c)) && strchr("_-.,+@%:/~", c) == nullptr) plain = false;
  }
  if (plain) {
    printf("%s\n", word.c_str());
    return;
  }
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  printf("%s'\n", quoted.c_str());
}

// A preference that --preferences shows and --set changes: its name, the Preferences
// dialog's control, and for a switch the record's field.
struct PreferenceName {
  const char *name;
  int control;
  int32_t PreferenceRecord::*field;  // null for the three texts
};
static const PreferenceName kPreferenceNames[] = {
    {"browse-folder", IDC_PREF_BROWSE_DIR, nullptr},
    {"ofni", IDC_PREF_OFNI, nullptr},
    {"delimiter", IDC_PREF_DELIMITER, nullptr},
    {"user-files", IDC_PREF_USER_FILES, &PreferenceRecord::createUserFiles},
    {"go-to-sort", IDC_PREF_GO_TO_SORT, &PreferenceRecord::goToSortDialog},
    {"stay", IDC_PREF_STAY, &PreferenceRecord::stayInSortDialog},
    {"last-path", IDC_PREF_LAST_PATH, &PreferenceRecord::useLastPath},
    {"key-titling", IDC_PREF_KEY_TITLING, &PreferenceRecord::enableKeyTitling},
};

// One preference as NAME=VALUE.
static void PrintPreference(const PreferenceName &preference) {
  static const char *const kDelimiterWords[] = {"both", "cr", "lf"};
  if (preference.field != nullptr) {
    printf("%s=%s\n", preference.name, Preferences.*preference.field == 1 ? "on" : "off");
  } else if (preference.control == IDC_PREF_BROWSE_DIR) {
    printf("%s=%s\n", preference.name, Preferences.defaultBrowseDirectory);
  } else if (preference.control == IDC_PREF_OFNI) {
    printf("%s=%s\n", preference.name, Preferences.ofni);
  } else {
    printf("%s=%s\n", preference.name, kDelimiterWords[DelimiterMode]);
  }
}

// --set NAME=VALUE: the value goes into the Preferences dialog's field, the dialog's Done
// check takes it over, and the record is written with the stored window position.
// Returns the exit status.
static int SetPreference(const char *setting) {
  const char *equals = strchr(setting, '=');
  const PreferenceName *preference = nullptr;
  for (const PreferenceName &candidate : kPreferenceNames) {
    if (equals != nullptr && strlen(candidate.name) == static_cast<size_t>(equals - setting) &&
        strncmp(candidate.name, setting, strlen(candidate.name)) == 0) {
      preference = &candidate;
    }
  }
  if (preference == nullptr) {
    fprintf(stderr, "pelmar-sort: --set takes NAME=VALUE with a NAME that --preferences shows, not '%s'\n", setting);
    return 2;
  }
  const char *value = equals + 1;
  PreferencesDialogOpen(nullptr, nullptr);
  if (preference->field != nullptr) {
    const bool on = strcmp(value, "on") == 0, off = strcmp(value, "off") == 0;
    if (!on && !off) {
      fprintf(stderr, "pelmar-sort: %s takes on or off, not '%s'\n", preference->name, value);
      return 2;
    }
    WriteCheckBox(nullptr, preference->control, on ? 1 : 0);
    PreferencesDialogCommand(nullptr, nullptr, preference->control);
  } else {
    WriteFieldText(nullptr, preference->control, value);
  }
  if (CheckPreferences(nullptr) != 0) return 1;  // the dialog's message is shown
  if (preference->control == IDC_PREF_OFNI) {
    char trimmed[kPartSize];
    CopyText(trimmed, sizeof trimmed, value);
    if (TrimBlanks(trimmed) == 0) {  // the dialog keeps the identifier for an empty field
      fprintf(stderr, "pelmar-sort: ofni takes 1 to 4 letters, digits, '-', '_' or '~'\n");
      return 2;
    }
    if (strcmp(Preferences.ofni, trimmed) != 0) return 1;  // refused, and the check said why
  }
  if (preference->control == IDC_PREF_BROWSE_DIR && strcmp(BrowseDirectory, value) != 0) {
    fprintf(stderr, "pelmar-sort: browse-folder %s\n",
            Preferences.useLastPath != 0 ? "is not used while last-path is on" : "needs more than 2 characters");
    return 1;
  }
  if (WriteSettingsRecord() != 0) {
    fprintf(stderr, "pelmar-sort: could not write %s\n", SettingsPath);
    return 1;
  }
  if (preference->control == IDC_PREF_DELIMITER) DelimiterMode = Preferences.delimiter;
  PrintPreference(*preference);
  return 0;
}

// The entry a --saved or --last names, into the fields. Returns 0, or the exit status.
static int LoadNamedEntry(const CommandLine *line) {
  if (line->action == kActionLast) {
    FILE *last = fopen(kLastParametersName, "rb");
    if (last == nullptr) {
      fprintf(stderr, "pelmar-sort: no parameters were saved here yet (a sort with --save saves them)\n");
      return 1;
    }
    fclose(last);
    return LoadSavedEntry(nullptr, kLastEntry) != 0 ? 1 : 0;
  }
  const char *identifier = line->identifier;
  if (!IsEntryIdentifier(identifier)) {
    fprintf(stderr, "pelmar-sort: '%.*s' is not an entry identifier: a base name, '_' and a letter, as --list shows them\n",
            kIdentifierSize, identifier);
    return 2;
  }
  const std::vector<std::string> listed = SavedIdentifiers();
  if (std::find(listed.begin(), listed.end(), identifier) == listed.end()) {
    fprintf(stderr, "pelmar-sort: there is no saved entry %s (--list shows those there are)\n", identifier);
    return 1;
  }
  return LoadSavedEntry(nullptr, identifier) != 0 ? 1 : 0;
}

// Puts the typed options into the fields; keys of the wider language are read here instead.
static void FillTypedFields(const CommandLine *line) {
  if (line->inputCount > 0) WriteFieldText(nullptr, IDC_INPUT_NAME, line->inputs[0]);
  if (line->output != nullptr) WriteFieldText(nullptr, IDC_OUTPUT_NAME, line->output);
  if (line->size != nullptr) WriteFieldText(nullptr, IDC_RECORD_SIZE, line->size);
  for (int k = 0; k < line->keyCount && !UsesWideKeys(line); k++) {
    WriteFieldText(nullptr, IDC_KEY_POSITION(k), line->keys[k][0]);
    WriteFieldText(nullptr, IDC_KEY_LENGTH(k), line->keys[k][1]);
    WriteFieldText(nullptr, IDC_KEY_TYPE(k), line->keys[k][2]);
    WriteFieldText(nullptr, IDC_KEY_SEQUENCE(k), line->keys[k][3]);
  }
}

// The dialog's checks that apply to the command line: of the keys unless they are of the
// wider language, of the input unless it goes beyond the dialog's one named file, of the
// output unless it is standard output or there is none (a check). Returns 0, or 1.
static int ValidateFields(const CommandLine *line) {
  const bool standardOutput = line->output != nullptr && strcmp(line->output, "-") == 0;
  int checks = UsesWideKeys(line) ? 0 : kCheckKeys;
  if (!InputsBeyondTheDialog(line)) checks |= kCheckInput;
  if (!standardOutput && line->runAction != kRunCheck) checks |= kCheckOutput;
  if (ValidateParameters(nullptr, checks) == 0) return 0;
  PrintErrorText();
  return 1;
}

// Keys of the wider language: read, checked against the record, and put in the current
// parameters. Returns 0, or the exit status.
static int TakeWideKeys(const CommandLine *line) {
  SortParameters *p = &CurrentParameters;
  for (int k = 0; k < line->keyCount; k++) {
    char error[kPartSize + 64];
    if (ReadWideKey(line, k, &p->keys[k], error, sizeof error) != 0) return 2;  // read when parsed
  }
  p->keyCount = line->keyCount;
  char error[kPartSize + 128];
  if (CheckWideKeys(line, p->keys, p->recordLength, error, sizeof error) != 0) {
    fprintf(stderr, "pelmar-sort: %s\n", error);
    return 1;
  }
  return 0;
}

// What the Sort dialog's SORT does with its fields, the sort run with run. Returns the exit
// status.
static int ValidateAndSort(const CommandLine *line, const RunOptions *run) {
  if (ValidateFields(line) != 0) {
    ExplainFailure(line);
    return 1;
  }
  if (UsesWideKeys(line)) {
    if (int status = TakeWideKeys(line)) return status;
  }
  const int save = line->save;
  // The dialog's action, with pelmar-sort's differences: a set is saved only when asked,
  // a bare input name puts the report in the current directory, and the result goes to
  // the terminal.
  SortActionOptions options = {save, ".", run, StartSortProgress, PrintSortResult};
  const int result = RunSortAction(nullptr, 0, &options);
  if (StandardOutputClosed()) exit(1);  // the reader went away: no more to say, as a pipeline expects
  if (result != 0) ExplainFailure(line);
  return result != 0 || ParametersSaveFailed ? 1 : 0;
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

#ifdef SIGPIPE
  signal(SIGPIPE, SIG_DFL);  // a reader that goes away ends the run at once and quietly, as in any pipeline
#endif
  // Start-up as the program's: the current directory is the program directory.
  ResetParameterState();
  LoadSettings();
  if (line.delimiter >= 0) DelimiterMode = line.delimiter;
  static RunOptions run;
  run.threads = line.threads;
  run.memoryBudget = line.memory;
  if (line.temporaryFolder != nullptr) CopyText(run.temporaryFolder, sizeof run.temporaryFolder, line.temporaryFolder);
  run.progress = ShowsProgress() ? ShowProgress : nullptr;
  run.keySettings = line.keySettings;
  run.streams = StreamSettings{line.inputCount > 0 ? line.inputs : nullptr, line.inputCount, line.output != nullptr && strcmp(line.output, "-") == 0,
                               line.runAction, line.unique, line.lineEnd};
  gLine = &line;

  switch (line.action) {
    case kActionList:
      if (Preferences.createUserFiles != 1) {
        fprintf(stderr, "pelmar-sort: user parameter files are off: --save keeps none (--set user-files=on)\n");
      }
      for (const std::string &identifier : SavedIdentifiers()) PrintShellWord(identifier);
      return 0;
    case kActionPreferences:
      for (const PreferenceName &preference : kPreferenceNames) PrintPreference(preference);
      return 0;
    case kActionSet:
      return SetPreference(line.setting);
    case kActionSaved:
    case kActionLast:
      if (int status = LoadNamedEntry(&line)) return status;
      break;
    default:
      FillTypedFields(&line);
      break;
  }
  for (int k = 0; k < kMaxKeys; k++) {
    if (line.titles[k] != nullptr) CopyText(KeyTitles[k], kKeyTitleSize, line.titles[k]);
  }
  if (line.statistics) WriteCheckBox(nullptr, IDC_STATISTICS, 1);
  return ValidateAndSort(&line, &run);
}
