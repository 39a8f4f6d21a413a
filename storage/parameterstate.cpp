// The program-wide parameter state and the operations on it alone. Kept apart from the
// file operations so that code which only reads or writes the state (validation, say)
// links without the window-system layer.
#include <cstring>

#include "storage/parameterfiles.h"

static const char kDefaultKeyTitles[kMaxKeys][kKeyTitleSize] = {"Key 1:", "Key 2:", "Key 3:",
                                                               "Key 4:", "Key 5:", "Key 6:"};

SortParameters CurrentParameters;
char KeyTitles[kMaxKeys][kKeyTitleSize] = {"Key 1:", "Key 2:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
int ParametersLoaded = 0;
ParameterRecord JobRecord;

void ResetParameterState() {
  memset(&CurrentParameters, 0, sizeof CurrentParameters);
  ClearParameters();
  memset(&JobRecord, 0, sizeof JobRecord);
  ParametersLoaded = 0;
  SetDefaultKeyTitles();
}

void ClearParameters() {
  memset(CurrentParameters.inputName, 0, sizeof CurrentParameters.inputName);
  memset(CurrentParameters.outputName, 0, sizeof CurrentParameters.outputName);
  CurrentParameters.recordLength = 0;
  for (int k = 0; k < kMaxKeys; k++) CurrentParameters.keys[k] = KeyField{0, 0, ' ', ' '};
}

void SetDefaultKeyTitles() {
  for (int k = 0; k < kMaxKeys; k++) CopyText(KeyTitles[k], kKeyTitleSize, kDefaultKeyTitles[k]);
}
