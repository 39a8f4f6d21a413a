#include "dialogs/validation.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/errortext.h"
#include "resources/resource.h"
#include "storage/parameterfiles.h"
#include "tests/support/fakewinsys.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;
using Changes = std::vector<std::pair<int, std::string>>;

// Field identifiers, keys numbered 1 to 6 as the user sees them.
constexpr int IN = IDC_INPUT_NAME, OUT = IDC_OUTPUT_NAME, SIZE = IDC_RECORD_SIZE;
constexpr int P(int key) { return IDC_KEY_POSITION(key - 1); }
constexpr int L(int key) { return IDC_KEY_LENGTH(key - 1); }
constexpr int T(int key) { return IDC_KEY_TYPE(key - 1); }
constexpr int S(int key) { return IDC_KEY_SEQUENCE(key - 1); }

// Validates the changes to a valid set in fields that start afresh (in.dat, ten records of 80
// bytes, to out.dat, record size 80, key 1 at 1 for 10 bytes), after a validation of that
// set itself (so the variable-length flag is clear) and with cleared parameters.
static int Validate(const Changes &changes) {
  FakeReset();
  BrowsedInput = 0;
  for (const auto &change : Changes{{IN, "in.dat"}, {OUT, "out.dat"}, {SIZE, "80"}, {P(1), "1"}, {L(1), "10"}}) {
    WriteFieldText(FakeDialog, change.first, change.second.c_str());
  }
  if (ValidateParameters(FakeDialog) != 0) return -1;
  ResetParameterState();
  for (const auto &change : changes) WriteFieldText(FakeDialog, change.first, change.second.c_str());
  return ValidateParameters(FakeDialog);
}

// Each row: the fields changed, and the whole error text (only the types' line break when valid).
TEST(ValidateParameters, ReportsEachProblemInStageOrder) {
  TempCurrentFolder folder;
  fs::create_directories("folder.dir");
  for (auto file : {std::make_pair("in.dat", 800), {"odd.dat", 801}, {"one.dat", 80}, {"empty.dat", 0}}) {
    std::ofstream(file.first) << std::string(file.second, 'r');
  }
#ifndef _WIN32
  mkfifo("pipe.dat", 0600);  // a FIFO: opening it for its size must not wait for a writer
#endif
  const std::string longName = std::string(247, 'o') + ".txt";  // 251 characters
  const std::pair<Changes, const char *> cases[] = {
      {{}, "\n"},
      {{{IN, "a.b"}, {OUT, "out"}}, "Suspicious Syntax of Input File Name!\nSuspicious Syntax of Output File Name!\n"},
      {{{IN, "my.data.txt"}, {OUT, "my.out.txt"}}, "Suspicious Syntax of Output File Name!\n"},
      {{{SIZE, "va"}}, "Invalid Input in Record Length Field!\nRecord Length Must be > 0!\n"},
      {{{SIZE, ""}}, "Record Length Must be > 0!\n"},
      {{{SIZE, "4301"}, {OUT, longName}, {P(1), ""}},
       "Record Length Must be < 4300!\nInput or Output File Name\\Path too LONG!\n"},
      {{{P(1), " 12 "}, {L(1), "69"}}, "\n"},
      {{{P(1), "1 2"}}, "Invalid Input in Key 1: Key Position Field!\n\n\n"},
      {{{P(1), "82"}, {L(1), "x"}},
       "Key 1: Key Position > Record Length!\n\nInvalid Input in Key 1: Key Length Field!\n"
       "Key 1: Key Length Must be > 0!\nKey 1: Key Position + Length > Record Length!\n"
       "Key 1: Key Length - Invalid for Key 1: Key Position!\n\n\n"},
      {{{P(1), ""}, {L(1), ""}}, "Key 1: Key Position Must be > 0!\n\nKey 1: Key Length Must be > 0!\n\n\n"},
      {{{L(1), "81"}}, "Key 1: Key Length > Record Length!\nKey 1: Key Position + Length > Record Length!\n\n\n"},
      {{{L(2), "5"}}, "Key 2: Key Position - Invalid for Key 2: Key Length!\n\n\n"},
      {{{P(2), "11"}, {T(2), "x"}},
       "Key 2: Key Length - Invalid for Key 2: Key Position!\n\nInvalid Input in Key 2: Key Type Field!\n\n"},
      {{{P(2), "1"}}, "Key 2: Key Length - Invalid for Key 2: Key Position!\n\n\nKey 2: Key Overlaps with Key 1: Key\n"},
      {{{T(1), " "}}, "Key 1: Key Type Must have a Valid Entry!\nInvalid Input in Key 1: Key Type Field!\n\n"},
      {{{T(1), "i"}, {L(1), "3"}}, "Key 1: Integer Type Must have a even Lenth!\n  Usually 2 or 4!\n\n"},
      {{{T(3), "f"}, {S(1), "x"}},  // a stray f in an unused row; the 8a break ends its line
       "Key 3: Float Type Length must be 4 or 8!\nKey 1: Key Sequence Must have a Valid Entry!\n"
       "Invalid Input in Key 1: Key Sequence Field!\n"},
      {{{SIZE, "VAR"}, {T(1), "x"}, {P(2), "11"}, {L(2), "4"}, {T(2), "u"}, {P(3), "21"},
        {L(3), "2"}, {T(3), "A"}},
       "Key 1: Key Type Must BE `c` or `a` for Variable Record Length!\nKey 1: Key Type Must have a Valid Entry!\n"
       "Invalid Input in Key 1: Key Type Field!\nKey 2: Key Type Must BE `c` or `a` for Variable Record Length!\n\n"},
      {{{P(3), "20"}, {L(3), "4"}, {P(4), "30"}, {L(4), "4"}},
       "\nKey Declaration Must be Sequential!\nKey Declaration Must be Sequential!\n"},
      {{{SIZE, "variable"}, {L(1), "200"}, {P(2), "201"}, {L(2), "50"}}, "\n"},
      {{{SIZE, "variable"}, {L(1), "200"}, {P(2), "201"}, {L(2), "51"}},
       "\n\nTotal Key Lengths on Variable Length Records \nMust be < 250!\n"},
      {{{IN, "missing.dat"}, {SIZE, "20"}, {P(1), "5"}, {L(1), "4"}, {P(2), "1"}, {L(2), "5"}},
       "\nKey 1: Key Overlaps with Key 2: Key\n"},  // the failure ends it before the file check
      {{{L(1), "50"}, {P(2), "11"}, {L(2), "40"}},
       "\n\nOverlapping Key Fields NOT Allowed!\n\nKey 2: Key Overlaps with Key 1: Key\n"},
      {{{L(1), "30"}, {P(2), "5"}, {L(2), "2"}, {P(3), "20"}, {L(3), "2"}, {P(4), "5"}, {L(4), "1"}},
       "\nKey 2: Key Overlaps with Key 1: Key\nKey 4: Key Overlaps with Key 2: Key\n"},
      {{{IN, "odd.dat"}}, "\n\nFile Size NOT Equally Divisible by Record Length!\n"},
      {{{IN, "odd.dat"}, {SIZE, "vari"}}, "\n"},
      {{{IN, "one.dat"}}, "\n\nOnly ONE Record in File - No Need To Sort!\n"},
      {{{IN, "empty.dat"}}, "\n\nempty.dat File is Empty - No Records to Sort!\n"},
      {{{IN, "missing.dat"}}, "\n\nCould NOT Open Input File: missing.dat!\n"},
      {{{IN, "folder.dir"}}, "\n\nCould NOT Open Input File: folder.dir!\n"},
      {{{IN, "pipe.dat"}}, "\n\nCould NOT Open Input File: pipe.dat!\n"},
      {{{P(1), ""}, {P(2), "20"}, {L(2), "4"}, {T(2), "x"}},
       "Key 1: Key Position Must be > 0!\n\nKey 1: Key Position - Invalid for Key 1: Key Length!\n\n"
       "Invalid Input in Key 2: Key Type Field!\n\nKey Declaration Must be Sequential!\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "case expecting " << c.second);
    EXPECT_EQ(Validate(c.first), strcmp(c.second, "\n") == 0 ? 0 : 1);
    EXPECT_EQ(std::string(ErrorText), c.second);
  }
}
