// The Sort dialog's fields and the current parameters, the one way round: showing a
// parameter set in the fields (after start-up restored it, after a saved entry was
// loaded, after Browse). Validation (validation.h) goes the other way.
#ifndef PELMAR_SORTDIALOG_SORTFIELDS_H
#define PELMAR_SORTDIALOG_SORTFIELDS_H

#include "sortdialog/dialogfields.h"

// Writes CurrentParameters into the fields: the names; the record size as a number, as
// "variable" for -1, empty for 0 (any other value leaves the field as it is); the
// statistics box checked when the flag is 1 (never unchecked here); each key's position
// and length as numbers or empty when 0, its type and sequence letters as one-character
// texts or empty when blank.
void FillDialogFields(const DialogFields *fields);

#endif
