#include "storage/parameterfiles.h"

SortParameters CurrentParameters;
char KeyTitles[kMaxKeys][kKeyTitleSize] = {"Key 1:", "Key 2:", "Key 3:", "Key 4:", "Key 5:", "Key 6:"};
int ParametersLoaded = 0;
ParameterRecord JobRecord;
