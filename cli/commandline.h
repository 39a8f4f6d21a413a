// pelmar-sort's command line: what it asks for, read from argv. Field options keep their
// texts as typed; the checks are validation's, exactly as for the Sort dialog's fields.
// Options take their values as "--input x", "--input=x", "-i x" or "-ix"; "--" ends the
// options.
#ifndef PELMAR_CLI_COMMANDLINE_H
#define PELMAR_CLI_COMMANDLINE_H

#include <cstddef>
#include <cstdint>

#include "engine/keys.h"
#include "engine/runoptions.h"
#include "engine/sorttypes.h"

constexpr int kActionSort = 0;         // sort the typed parameters
constexpr int kActionSaved = 1;        // sort a saved entry (--saved ID)
constexpr int kActionLast = 2;         // sort the last-used set (--last)
constexpr int kActionList = 3;         // list the saved entries
constexpr int kActionHelp = 4;
constexpr int kActionVersion = 5;
constexpr int kActionPreferences = 6;  // show the preferences (--preferences)
constexpr int kActionSet = 7;          // change one preference (--set NAME=VALUE)

constexpr int kKeyParts = 4;          // POS,LEN,TYPE,SEQ
constexpr size_t kPartSize = 512;     // a part of at most 511 characters is kept whole

struct CommandLine {
  int action;                               // kActionSort ...
  const char *inputs[kMostInputs];          // every --input, in order ("-": standard input)
  int inputCount;
  const char *output;                       // --output, or null ("-": standard output)
  const char *size;                         // --size, or null
  int keyCount;                             // --key options given, 0 to 6
  char keys[kMaxKeys][kKeyParts][kPartSize];  // each key's parts as typed; left-out parts empty
  const char *titles[kMaxKeys];             // --title K=TEXT: key K's new title, or null
                                            // (an empty TEXT leaves the title as it is)
  int statistics;                           // --stats
  int delimiter;                            // --delimiter: 0 both, 1 cr, 2 lf, 3 nul; -1 when not given
  int lineEnd;                              // --line-end: kLineEndCrLf (when not given) ...
  int runAction;                            // kRunSort, or kRunMerge (--merge), kRunCheck (--check)
  int unique;                               // --unique
  int threads;                              // --threads: 1 to kMaxSortThreads; 0 when not given
  uint64_t memory;                          // --memory: the run's budget in bytes; 0 when not given
  const char *temporaryFolder;              // --temporary-directory DIR, or null
  int save;                                 // --save
  const char *identifier;                   // --saved ID
  const char *setting;                      // --set NAME=VALUE, as typed
  KeySettings keySettings;                  // --stable, --field-separator C and --csv
};

// 1 when a --size text names text lines: "var" up to "variable", in any letter case.
int NamesTextLines(const char *size);

// 1 when the command line reads standard input, several inputs, or merges or checks: the
// Sort dialog's checks of the input name and file are not pelmar-sort's then.
int InputsBeyondTheDialog(const CommandLine *line);

// Reads argv. Returns 0, or 2 with a one-line reason in error (without the program name)
// for an unknown option, a missing value, more than six keys, a key of more than four
// parts, a title for a key outside 1 to 6 or longer than 25 characters, a memory size
// that is not one or is below the least budget, a temporary folder name too long for its
// run files' names, a field separator of more than one character, a key of the wider
// language that cannot be read (cli/keylanguage.h) or that --save cannot keep, or options
// that do not go together.
int ParseCommandLine(int argc, char **argv, CommandLine *line, char *error, size_t errorSize);

#endif
