// Settings file: the user's preferences and the main window's position, one
// PreferenceRecord in "Pelmar.ini" in the program directory, and the working values
// derived from it.
#ifndef PELMAR_STORAGE_SETTINGS_H
#define PELMAR_STORAGE_SETTINGS_H

constexpr int kOfniSize = 5;  // an OFNI of at most 4 characters and a NUL

extern char WorkingOfni[kOfniSize];  // inserted before the extension of default output names; "Srt"

#endif
