#include "cli/commandline.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/keylanguage.h"
#include "engine/scanner.h"
#include "engine/sortrun.h"
#include "engine/workpool.h"

// The options, each with its long and short name.
enum OptionName {
  kInput, kOutput, kSize, kKey, kTitle, kStats, kDelimiter, kSave, kSaved, kLast, kList,
  kPreferences, kSet, kThreads, kMemory, kTemporaryFolder, kHelp, kVersion, kStable, kFieldSeparator, kCsv,
  kMerge, kUnique, kCheck, kLineEnd
};

struct OptionSpec {
  OptionName name;
  const char *longName;
  char shortName;   // 0: none
  bool takesValue;
};

static const OptionSpec kOptions[] = {
    {kInput, "input", 'i', true},        {kOutput, "output", 'o', true},   {kSize, "size", 's', true},
    {kKey, "key", 'k', true},            {kTitle, "title", 't', true},     {kStats, "stats", 0, false},
    {kDelimiter, "delimiter", 0, true},  {kSave, "save", 0, false},        {kSaved, "saved", 0, true},
    {kLast, "last", 0, false},           {kList, "list", 0, false},        {kPreferences, "preferences", 0, false},
    {kSet, "set", 0, true},              {kThreads, "threads", 0, true},   {kHelp, "help", 'h', false},
    {kVersion, "version", 0, false},     {kMemory, "memory", 'S', true},
    {kTemporaryFolder, "temporary-directory", 'T', true},
    {kStable, "stable", 0, false},       {kFieldSeparator, "field-separator", 0, true}, {kCsv, "csv", 0, false},
    {kMerge, "merge", 'm', false},       {kUnique, "unique", 'u', false},  {kCheck, "check", 'c', false},
    {kLineEnd, "line-end", 0, true},
};

// The option an argument names and the value written into it, if any: "--input=x" gives
// input and "x", "-ix" gives input and "x", "--input" and "-i" give input and null.
static const OptionSpec *FindOption(const char *argument, const char **inlineValue) {
  *inlineValue = nullptr;
  if (argument[0] != '-' || argument[1] == '\0') return nullptr;
  if (argument[1] == '-') {
    const char *name = argument + 2;
    const char *equals = strchr(name, '=');
    const size_t length = equals != nullptr ? static_cast<size_t>(equals - name) : strlen(name);
    for (const OptionSpec &option : kOptions) {
      if (strlen(option.longName) == length && strncmp(option.longName, name, length) == 0) {
        if (equals != nullptr) *inlineValue = equals + 1;
        return &option;
      }
    }
    return nullptr;
  }
  for (const OptionSpec &option : kOptions) {
    if (option.shortName == argument[1]) {
      if (argument[2] != '\0') *inlineValue = argument + 2;
      return &option;
    }
  }
  return nullptr;
}

// Splits POS,LEN,TYPE,SEQ into the key's parts. Returns 0, or 1 for more than four parts.
static int SplitKey(const char *text, char parts[kKeyParts][kPartSize]) {
  int part = 0;
  size_t used = 0;
  for (const char *c = text; *c != '\0'; c++) {
    if (*c == ',') {
      if (++part == kKeyParts) return 1;
      used = 0;
    } else if (used + 1 < kPartSize) {
      parts[part][used++] = *c;
      parts[part][used] = '\0';
    }
  }
  return 0;
}

// --title K=TEXT. Returns 0, or 1 when K is not 1 to 6 or TEXT is too long.
static int ReadTitle(const char *value, CommandLine *line, char *error, size_t errorSize) {
  if (value[0] < '1' || value[0] > '6' || value[1] != '=') {
    snprintf(error, errorSize, "--title needs a key number from 1 to 6: K=TEXT, not '%s'", value);
    return 1;
  }
  if (strlen(value + 2) > static_cast<size_t>(kKeyTitleMaxLength)) {
    snprintf(error, errorSize, "a key title has at most %d characters", kKeyTitleMaxLength);
    return 1;
  }
  if (value[2] != '\0') line->titles[value[0] - '1'] = value + 2;
  return 0;
}

// --delimiter both|cr|lf|nul. Returns 0, or 1 for another word.
static int ReadDelimiter(const char *value, CommandLine *line, char *error, size_t errorSize) {
  static const char *const kWords[] = {"both", "cr", "lf", "nul"};  // by delimiter mode
  for (int mode = kDelimiterBoth; mode <= kDelimiterNul; mode++) {
    if (strcmp(value, kWords[mode]) == 0) {
      line->delimiter = mode;
      return 0;
    }
  }
  snprintf(error, errorSize, "--delimiter takes both, cr, lf or nul, not '%s'", value);
  return 1;
}

// --line-end crlf|lf|cr|nul. Returns 0, or 1 for another word.
static int ReadLineEnd(const char *value, CommandLine *line, char *error, size_t errorSize) {
  static const char *const kWords[] = {"crlf", "lf", "cr", "nul"};  // by kLineEndCrLf ...
  for (int end = kLineEndCrLf; end <= kLineEndNul; end++) {
    if (strcmp(value, kWords[end]) == 0) {
      line->lineEnd = end;
      return 0;
    }
  }
  snprintf(error, errorSize, "--line-end takes crlf, lf, cr or nul, not '%s'", value);
  return 1;
}

// --input IN, once for each input; "-" once at most. Returns 0, or 1 for one too many.
static int ReadInput(const char *value, CommandLine *line, char *error, size_t errorSize) {
  for (int i = 0; i < line->inputCount && strcmp(value, "-") == 0; i++) {
    if (strcmp(line->inputs[i], "-") == 0) {
      snprintf(error, errorSize, "standard input (--input -) can be read once");
      return 1;
    }
  }
  if (line->inputCount == kMostInputs) {
    snprintf(error, errorSize, "at most %d inputs", kMostInputs);
    return 1;
  }
  line->inputs[line->inputCount++] = value;
  return 0;
}

// --threads N. Returns 0, or 1 for anything but a number from 1 to kMaxSortThreads.
static int ReadThreads(const char *value, CommandLine *line, char *error, size_t errorSize) {
  char *end = nullptr;
  const long threads = strtol(value, &end, 10);
  if (end == value || *end != '\0' || threads < 1 || threads > kMaxSortThreads) {
    snprintf(error, errorSize, "--threads takes a number from 1 to %d, not '%s'", kMaxSortThreads, value);
    return 1;
  }
  line->threads = static_cast<int>(threads);
  return 0;
}

// The longest --temporary-directory: room is left for a run file's own name after it.
static const size_t kLongestTemporaryFolder = 200;

// --memory SIZE: bytes, or with K, M or G (KiB, MiB, GiB). Returns 0, or 1 for anything else
// and for less than the least budget.
static int ReadMemory(const char *value, CommandLine *line, char *error, size_t errorSize) {
  char *end = nullptr;
  const unsigned long long number = strtoull(value, &end, 10);
  int shift = 0;
  if (end != value && *end != '\0' && end[1] == '\0') {
    const char *units = "KkMmGg";
    const char *unit = strchr(units, *end);
    if (unit != nullptr) {
      shift = 10 * (1 + static_cast<int>(unit - units) / 2);
      end++;
    }
  }
  if (end == value || *end != '\0' || value[0] == '-' || number > (UINT64_MAX >> shift)) {
    snprintf(error, errorSize, "--memory takes a size such as 512M or 2G, not '%s'", value);
    return 1;
  }
  line->memory = static_cast<uint64_t>(number) << shift;
  if (line->memory < kMinimumMemoryBudget) {
    snprintf(error, errorSize, "--memory takes at least %lluM, not '%s'",
             static_cast<unsigned long long>(kMinimumMemoryBudget >> 20), value);
    return 1;
  }
  return 0;
}

// --field-separator C: one byte, or \t for a tab. Returns 0, or 1 for anything else.
static int ReadFieldSeparator(const char *value, CommandLine *line, char *error, size_t errorSize) {
  const bool tab = strcmp(value, "\\t") == 0;
  if (!tab && strlen(value) != 1) {
    snprintf(error, errorSize, "--field-separator takes one character (or \\t for a tab), not '%s'", value);
    return 1;
  }
  line->keySettings.fieldMode = kFieldsSeparated;
  line->keySettings.separator = static_cast<unsigned char>(tab ? '\t' : value[0]);
  return 0;
}

// Takes one option and its value. Returns 0, or 2 with the reason in error.
static int TakeOption(const OptionSpec *option, const char *value, CommandLine *line, int *actions,
                      bool *fieldGiven, char *error, size_t errorSize) {
  switch (option->name) {
    case kInput: *fieldGiven = true; return ReadInput(value, line, error, errorSize) != 0 ? 2 : 0;
    case kOutput: line->output = value; *fieldGiven = true; break;
    case kSize: line->size = value; *fieldGiven = true; break;
    case kKey:
      if (line->keyCount == kMaxKeys) {
        snprintf(error, errorSize, "at most %d keys", kMaxKeys);
        return 2;
      }
      if (SplitKey(value, line->keys[line->keyCount]) != 0) {
        snprintf(error, errorSize, "a key has at most four parts: POS,LEN,TYPE,SEQ, not '%s'", value);
        return 2;
      }
      line->keyCount++;
      *fieldGiven = true;
      break;
    case kTitle: return ReadTitle(value, line, error, errorSize) != 0 ? 2 : 0;
    case kStats: line->statistics = 1; break;
    case kDelimiter: return ReadDelimiter(value, line, error, errorSize) != 0 ? 2 : 0;
    case kSave: line->save = 1; break;
    case kSaved: line->action = kActionSaved; line->identifier = value; (*actions)++; break;
    case kLast: line->action = kActionLast; (*actions)++; break;
    case kList: line->action = kActionList; (*actions)++; break;
    case kPreferences: line->action = kActionPreferences; (*actions)++; break;
    case kSet: line->action = kActionSet; line->setting = value; (*actions)++; break;
    case kThreads: return ReadThreads(value, line, error, errorSize) != 0 ? 2 : 0;
    case kMemory: return ReadMemory(value, line, error, errorSize) != 0 ? 2 : 0;
    case kTemporaryFolder:
      if (value[0] == '\0' || strlen(value) > kLongestTemporaryFolder) {
        snprintf(error, errorSize, "--temporary-directory takes a folder name of 1 to %d characters",
                 static_cast<int>(kLongestTemporaryFolder));
        return 2;
      }
      line->temporaryFolder = value;
      break;
    case kStable: line->keySettings.stable = 1; break;
    case kFieldSeparator: return ReadFieldSeparator(value, line, error, errorSize) != 0 ? 2 : 0;
    case kCsv: line->keySettings.fieldMode = kFieldsCsv; line->keySettings.separator = ','; break;
    case kMerge: line->runAction = line->runAction == kRunCheck ? -1 : kRunMerge; break;
    case kCheck: line->runAction = line->runAction == kRunMerge ? -1 : kRunCheck; break;
    case kUnique: line->unique = 1; break;
    case kLineEnd: return ReadLineEnd(value, line, error, errorSize) != 0 ? 2 : 0;
    case kHelp: line->action = kActionHelp; break;
    case kVersion: line->action = kActionVersion; break;
  }
  return 0;
}

int InputsBeyondTheDialog(const CommandLine *line) {
  return line->inputCount > 1 || (line->inputCount == 1 && strcmp(line->inputs[0], "-") == 0) ||
         line->runAction != kRunSort;
}

// What --merge, --check, --save and the standard streams take. Returns 0, or 2 with the
// reason in error.
static int CheckRunOptions(const CommandLine *line, char *error, size_t errorSize) {
  const bool standardOutput = line->output != nullptr && strcmp(line->output, "-") == 0;
  const char *reason = nullptr;
  if (line->runAction < 0) reason = "--merge and --check do not go together";
  if (line->runAction == kRunCheck && line->output != nullptr) reason = "--check writes nothing: it takes no --output";
  if (line->runAction != kRunSort && line->statistics) reason = "--stats goes with a sort, not with --merge or --check";
  if (line->save && (InputsBeyondTheDialog(line) || standardOutput)) {
    reason = "--save keeps the set of a sort of one named input into a named output";
  }
  if (reason == nullptr) return 0;
  snprintf(error, errorSize, "%s", reason);
  return 2;
}

int NamesTextLines(const char *size) {
  static const char kVariable[] = "variable";
  const size_t length = strlen(size);
  if (length < 3 || length > strlen(kVariable)) return 0;
  for (size_t i = 0; i < length; i++) {
    if (tolower(static_cast<unsigned char>(size[i])) != kVariable[i]) return 0;
  }
  return 1;
}

// The wider key language: every key readable, kept only where a parameter file can hold it.
// Returns 0, or 2 with the reason in error.
static int CheckKeyLanguage(const CommandLine *line, int fieldOptions, char *error, size_t errorSize) {
  if (fieldOptions > 1) {
    snprintf(error, errorSize, "--field-separator and --csv do not go together");
    return 2;
  }
  if (!UsesWideKeys(line)) return 0;
  for (int k = 0; k < line->keyCount; k++) {
    KeyField key;
    if (ReadWideKey(line, k, &key, error, errorSize) != 0) return 2;
    if (line->save && (key.field != 0 || strchr("caiuf", key.type) == nullptr)) {
      char text[kPartSize];
      DescribeKey(line, k, text, sizeof text);
      snprintf(error, errorSize, "--save cannot keep key %d (%s): a parameter file holds keys at a byte position of "
               "types c, a, i, u and f only", k + 1, text);
      return 2;
    }
  }
  return 0;
}

int ParseCommandLine(int argc, char **argv, CommandLine *line, char *error, size_t errorSize) {
  memset(line, 0, sizeof *line);
  line->delimiter = -1;
  line->lineEnd = kLineEndCrLf;
  line->runAction = kRunSort;
  bool fieldGiven = false;  // --input, --output, --size or --key
  int actions = 0;          // --saved, --last, --list, --preferences, --set
  bool optionsEnded = false;
  int fieldOptions = 0;     // --field-separator and --csv given
  for (int i = 1; i < argc; i++) {
    if (!optionsEnded && strcmp(argv[i], "--") == 0) {
      optionsEnded = true;
      continue;
    }
    const char *inlineValue = nullptr;
    const OptionSpec *option = optionsEnded ? nullptr : FindOption(argv[i], &inlineValue);
    if (option == nullptr) {
      const bool looksLikeOption = !optionsEnded && argv[i][0] == '-';
      snprintf(error, errorSize, looksLikeOption ? "unknown option '%s'" : "unexpected argument '%s'", argv[i]);
      return 2;
    }
    const char *value = inlineValue;
    if (option->takesValue && value == nullptr) {
      if (i + 1 == argc) {
        snprintf(error, errorSize, "option '--%s' needs a value", option->longName);
        return 2;
      }
      value = argv[++i];
    } else if (!option->takesValue && value != nullptr) {
      snprintf(error, errorSize, "option '--%s' takes no value", option->longName);
      return 2;
    }
    if (TakeOption(option, value, line, &actions, &fieldGiven, error, errorSize) != 0) return 2;
    fieldOptions += option->name == kFieldSeparator || option->name == kCsv;
    if (line->action == kActionHelp || line->action == kActionVersion) return 0;
  }
  if (actions > 1) {
    snprintf(error, errorSize, "--saved, --last, --list, --preferences and --set go one at a time");
    return 2;
  }
  if (actions == 1 && fieldGiven) {
    snprintf(error, errorSize, "--saved, --last, --list, --preferences and --set take no --input, --output, --size or --key");
    return 2;
  }
  if (CheckRunOptions(line, error, errorSize) != 0) return 2;
  if (line->action == kActionSort && !fieldGiven) {
    snprintf(error, errorSize, "nothing to sort: give --input, --output, --size and --key, or --saved or --last");
    return 2;
  }
  return CheckKeyLanguage(line, fieldOptions, error, errorSize);
}
