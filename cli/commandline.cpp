#include "cli/commandline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/scanner.h"
#include "engine/workpool.h"

// The option an argument names, long or short, and its value: "--input=x", "--input x"
// and "-i x" all give "input" and "x".
struct OptionSpec {
  const char *longName;
  char shortName;   // 0: none
  bool takesValue;
};

static const OptionSpec kOptions[] = {
    {"input", 'i', true},   {"output", 'o', true}, {"size", 's', true},      {"key", 'k', true},
    {"title", 't', true},   {"stats", 0, false},   {"delimiter", 0, true},   {"save", 0, false},
    {"saved", 0, true},     {"last", 0, false},    {"list", 0, false},       {"help", 'h', false},
    {"version", 0, false},  {"threads", 0, true},
};

static const OptionSpec *FindOption(const char *argument, const char **inlineValue) {
  *inlineValue = nullptr;
  if (argument[0] == '-' && argument[1] == '-') {
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
  if (argument[0] == '-' && argument[1] != '\0' && argument[2] == '\0') {
    for (const OptionSpec &option : kOptions) {
      if (option.shortName == argument[1]) return &option;
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
  line->titles[value[0] - '1'] = value + 2;
  return 0;
}

int ParseCommandLine(int argc, char **argv, CommandLine *line, char *error, size_t errorSize) {
  memset(line, 0, sizeof *line);
  line->delimiter = -1;
  bool fieldGiven = false;  // --input, --output, --size or --key
  int actions = 0;          // --saved, --last, --list
  for (int i = 1; i < argc; i++) {
    const char *inlineValue;
    const OptionSpec *option = FindOption(argv[i], &inlineValue);
    if (option == nullptr) {
      snprintf(error, errorSize, argv[i][0] == '-' ? "unknown option '%s'" : "unexpected argument '%s'", argv[i]);
      return 2;
    }
    const char *value = nullptr;
    if (option->takesValue) {
      if (inlineValue != nullptr) {
        value = inlineValue;
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        snprintf(error, errorSize, "option '--%s' needs a value", option->longName);
        return 2;
      }
    } else if (inlineValue != nullptr) {
      snprintf(error, errorSize, "option '--%s' takes no value", option->longName);
      return 2;
    }
    const char *name = option->longName;
    if (strcmp(name, "help") == 0) {
      line->action = kActionHelp;
      return 0;
    } else if (strcmp(name, "version") == 0) {
      line->action = kActionVersion;
      return 0;
    } else if (strcmp(name, "input") == 0) {
      line->input = value;
      fieldGiven = true;
    } else if (strcmp(name, "output") == 0) {
      line->output = value;
      fieldGiven = true;
    } else if (strcmp(name, "size") == 0) {
      line->size = value;
      fieldGiven = true;
    } else if (strcmp(name, "key") == 0) {
      if (line->keyCount == kMaxKeys) {
        snprintf(error, errorSize, "at most %d keys", kMaxKeys);
        return 2;
      }
      if (SplitKey(value, line->keys[line->keyCount]) != 0) {
        snprintf(error, errorSize, "a key has at most four parts: POS,LEN,TYPE,SEQ, not '%s'", value);
        return 2;
      }
      line->keyCount++;
      fieldGiven = true;
    } else if (strcmp(name, "title") == 0) {
      if (ReadTitle(value, line, error, errorSize) != 0) return 2;
    } else if (strcmp(name, "stats") == 0) {
      line->statistics = 1;
    } else if (strcmp(name, "delimiter") == 0) {
      if (strcmp(value, "both") == 0) {
        line->delimiter = kDelimiterBoth;
      } else if (strcmp(value, "cr") == 0) {
        line->delimiter = kDelimiterCr;
      } else if (strcmp(value, "lf") == 0) {
        line->delimiter = kDelimiterLf;
      } else {
        snprintf(error, errorSize, "--delimiter takes both, cr or lf, not '%s'", value);
        return 2;
      }
    } else if (strcmp(name, "threads") == 0) {
      char *end = nullptr;
      const long threads = strtol(value, &end, 10);
      if (end == value || *end != '\0' || threads < 1 || threads > kMaxSortThreads) {
        snprintf(error, errorSize, "--threads takes a number from 1 to %d, not '%s'", kMaxSortThreads, value);
        return 2;
      }
      line->threads = static_cast<int>(threads);
    } else if (strcmp(name, "save") == 0) {
      line->save = 1;
    } else if (strcmp(name, "saved") == 0) {
      line->action = kActionSaved;
      line->identifier = value;
      actions++;
    } else if (strcmp(name, "last") == 0) {
      line->action = kActionLast;
      actions++;
    } else if (strcmp(name, "list") == 0) {
      line->action = kActionList;
      actions++;
    }
  }
  if (actions > 1) {
    snprintf(error, errorSize, "--saved, --last and --list go one at a time");
    return 2;
  }
  if (actions == 1 && fieldGiven) {
    snprintf(error, errorSize, "--saved, --last and --list take no --input, --output, --size or --key");
    return 2;
  }
  if (line->action == kActionSort && !fieldGiven) {
    snprintf(error, errorSize, "nothing to sort: give --input, --output, --size and --key, or --saved or --last");
    return 2;
  }
  return 0;
}
