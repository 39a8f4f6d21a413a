// Parameter validation: turns the Sort dialog's field texts into CurrentParameters and
// checks them before anything is saved or sorted. SORT and Validate call
// ValidateParameters; on result 1 the dialog shows the whole ErrorText captioned
// "  * * ERROR * *". Every field read is stored as it goes, also when the check fails.
//
// The stages, in this order; each problem appends one message to the ErrorText:
//    0  clear the ErrorText; statistics flag from the check box
//    1  input name syntax (skipped while BrowsedInput is set)
//    2  output name syntax                               stop if 1 or 2 reported
//    3  an output name equal to the input name gets the OFNI before its '.'
//    4  record size (CheckRecordLength)
//    5  name lengths                                     stop if anything reported
//    6  key positions, then "\n" if it reported          stop beyond 670 characters
//    7  key lengths, then "\n" if it reported            stop beyond 670 characters
//    8a key types, then "\n" always                      stop beyond 670 characters
//    8b key sequences                                    stop beyond 512 characters
//    9  key count: keys before the first position 0; later keys lose their letters
//   10  total key length on variable-length records
//   11  overlapping neighbours by position              stop if anything reported
//   12  the input file: opens, size fits the record length, more than one record
//
// A valid set leaves the ErrorText holding the single "\n" of stage 8a.
//
// Example, default titles, record size 80: key 1 with length 10 and no position, key 2
// at 20 length 4 type x. Stage 6 reports key 1's missing position, stage 7 its length
// without a position, stage 8a the type x, stage 9 that key 2 follows a key without a
// position (key count 0, stage 11 has nothing to compare), and the ErrorText reads
//   "Key 1: Key Position Must be > 0!\n\n"
//   "Key 1: Key Position - Invalid for Key 1: Key Length!\n\n"
//   "Invalid Input in Key 2: Key Type Field!\n\n"
//   "Key Declaration Must be Sequential!\n"
//
// The ErrorText's appends are cut at its capacity: within stages 7, 8a and 8b six long
// key titles can produce more text than fits; the tail is lost, nothing is written past
// the text, and the stage's limit then ends the validation.
#ifndef PELMAR_DIALOGS_VALIDATION_H
#define PELMAR_DIALOGS_VALIDATION_H

#include "windowing/winsys.h"

// The browsed-input flag. Set by the Sort dialog's Browse when it chose a file (the input
// name is then already in CurrentParameters), cleared by a cancelled Browse; 0 at start-up.
// While it is 1, validation neither reads nor checks the input name field.
extern int BrowsedInput;

// Validates the fields: reads them into CurrentParameters stage by stage, appends one
// message per problem to the ErrorText (which it clears first) and writes the repaired
// record size and output name back into the fields. Returns 0 when valid, 1 when at least
// one message was reported. Reads the key titles and the working OFNI.
// checks names the stages to run: pelmar-sort, whose keys, inputs and outputs go beyond what
// the fields take, leaves out the keys (stages 6 to 11, and so their "\n"; it reads and
// checks them itself and sets them after), the input (stages 1 and 12: standard input,
// several inputs, a merge or a check) or the output (stages 2 and 3: standard output, a
// check). The fields left out are still read into CurrentParameters.
constexpr int kCheckKeys = 1;
constexpr int kCheckInput = 2;
constexpr int kCheckOutput = 4;
constexpr int kCheckEverything = kCheckKeys | kCheckInput | kCheckOutput;
int ValidateParameters(WindowHandle dialog, int checks = kCheckEverything);

// Stage 4, the record size field: digits give that record length and clear the
// variable-length flag; "var" up to "variable" (any letter case) give -1 and set it;
// any other text is reported and keeps both as they were. A length of 0 or above 4300
// is reported. The field is rewritten in plain digits, or as "variable" for -1, and kept
// as typed for 0. Returns 0, or 1 when it reported something (also setting the running
// validation's failure flag).
// The variable-length flag outlives the validation: after an invalid record size text
// the previous validation's mode stays in force.
int CheckRecordLength(WindowHandle dialog);

// Removes the blanks (spaces only) at the end of text, then those at its start, in
// place; returns the new length. A text of blanks only becomes empty.
size_t TrimBlanks(char *text);

#endif
