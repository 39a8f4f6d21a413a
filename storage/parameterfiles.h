// Parameter files: saved sort parameter sets, one ParameterRecord per entry.
// This module owns the program-wide current parameters, the key titles and the
// parameters-loaded flag.
#ifndef PELMAR_STORAGE_PARAMETERFILES_H
#define PELMAR_STORAGE_PARAMETERFILES_H

#include "engine/sorttypes.h"

extern SortParameters CurrentParameters;         // the current sort parameter set
extern char KeyTitles[kMaxKeys][kKeyTitleSize];  // the six key titles; "Key 1:" to "Key 6:" by default
extern int ParametersLoaded;                     // 1: the Sort dialog fills its fields on opening
extern ParameterRecord JobRecord;                // built by BuildParameterRecord: what is saved and sorted

#endif
