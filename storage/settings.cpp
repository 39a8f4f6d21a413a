#include "storage/settings.h"

char WorkingOfni[kOfniSize] = "Srt";
