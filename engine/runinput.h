// The run's input. One named file is opened as it is: mapped in memory, or read in sequence
// by the external path, and so is standard input when it is a regular file read from its
// start. Any other standard input, or several inputs taken as one (pelmar-sort's), are
// read in sequence, in the order given, into memory, or once they pass a quarter of the
// budget into a temporary file made as run files are (no name left, gone with the run); a
// text input whose last line has no delimiter gets one, so that the next input's first line
// is a line of its own. Messages about a failed input name it.
// Call order: OpenRunInput at the run's start; OpenSource for each input of a merge or a
// check, which read them in sequence themselves.
#ifndef PELMAR_ENGINE_RUNINPUT_H
#define PELMAR_ENGINE_RUNINPUT_H

#include "engine/runstate.h"

// What messages call standard input.
extern const char kStandardInputName[];  // "standard input"

// Opens the run's input into run->input, its identities into run->sources, and names it in
// run->job.inputName for the messages and the report: "standard input", or several names
// joined by ", ". Returns 0, or 1 once the run has failed.
int OpenRunInput(SortRunState *run);

// Opens input s of the run's inputs ("-": standard input) to be read in sequence, and
// notes its identity. Returns 0, or 1 once the run has failed ("Could NOT Open Input File").
int OpenSource(SortRunState *run, int s, InputFile *file);

// The name of input s, as messages give it.
const char *SourceName(const SortRunState *run, int s);

#endif
