// Settings file: the user's preferences and the main window's position, one 302-byte
// PreferenceRecord in "Pelmar.ini" in the program directory, and the working values
// derived from it. Call order: LoadSettings once at start-up, before anything reads a
// preference; then any number of WriteSettings (the Preferences dialog's Done, and the
// main window's end while SettingsChanged is set).
//
// This module owns Preferences, ProgramDirectory, SettingsPath, BrowseDirectory,
// WorkingOfni and SettingsChanged. It also sets the scanner's DelimiterMode, which the
// engine owns (engine/scanner.h).
#ifndef PELMAR_STORAGE_SETTINGS_H
#define PELMAR_STORAGE_SETTINGS_H

#include <cstddef>
#include <cstdint>

#include "engine/sorttypes.h"

// Stored layout of a PreferenceRecord, byte offsets; integers signed 32-bit little-endian.
constexpr size_t kPreferenceRecordSize = 302;
constexpr size_t kPrefMagicOffset = 0;          // "plm" and a NUL
constexpr size_t kPrefBrowseOffset = 4;         // default browse directory, 254 bytes
constexpr size_t kPrefBrowseSlot = 254;         // a NUL-terminated text: at most 253 characters
constexpr size_t kPrefOfniOffset = 258;         // 4 bytes, no NUL when 4 characters long
constexpr size_t kPrefOfniSlot = 4;
constexpr size_t kPrefGoToSortOffset = 262;
constexpr size_t kPrefUserFilesOffset = 266;
constexpr size_t kPrefStayOffset = 270;
constexpr size_t kPrefWindowTopOffset = 274;
constexpr size_t kPrefWindowBottomOffset = 278;
constexpr size_t kPrefWindowLeftOffset = 282;
constexpr size_t kPrefWindowRightOffset = 286;
constexpr size_t kPrefLastPathOffset = 290;
constexpr size_t kPrefDelimiterOffset = 294;
constexpr size_t kPrefKeyTitlingOffset = 298;

constexpr int kOfniSize = 5;  // an OFNI of at most 4 characters and a NUL
constexpr char kInitialBrowseDirectory[] = "C:\\";  // browse directory until the settings say otherwise
constexpr char kInitialOfni[] = "Srt";              // OFNI until the settings say otherwise
// The settings path: a program directory of up to 255 characters, a separator and "Pelmar.ini".
constexpr size_t kSettingsPathSize = kNameSize + 12;

// The user's preferences. In memory every text is NUL-terminated; switches are 1 on, 0 off.
struct PreferenceRecord {
  char defaultBrowseDirectory[kPrefBrowseSlot];  // folder of the input file dialog; "C:\"
  char ofni[kOfniSize];       // inserted into default output file names; "Srt"
  int32_t goToSortDialog;     // open the Sort dialog as soon as the main window exists
  int32_t createUserFiles;    // keep named parameter sets in user parameter files
  int32_t stayInSortDialog;   // keep the Sort dialog open after a successful sort
  int32_t windowTop;          // main window's outer rectangle, screen pixels
  int32_t windowBottom;
  int32_t windowLeft;
  int32_t windowRight;
  int32_t useLastPath;        // browse from the most recent input file's folder
  int32_t delimiter;          // variable-length records: 0 CR LF, 1 CR only, 2 LF only
  int32_t enableKeyTitling;   // the user may rename the six key titles
};

extern PreferenceRecord Preferences;                // the preferences in effect
extern char ProgramDirectory[kNameSize];            // current directory at start-up: home of every file
extern char SettingsPath[kSettingsPathSize];        // the settings file's full name
extern char BrowseDirectory[kNameSize];             // where the input file dialog opens; "C:\"
extern char WorkingOfni[kOfniSize];                 // inserted before the extension of default output names; "Srt"
extern int SettingsChanged;                         // 1: the browse directory changed since the last write

// The defaults: every byte zero, "C:\" and "Srt".
void SetDefaultPreferences(PreferenceRecord *record);

// The stored form, field by field, little-endian. Texts are NUL-filled behind their end.
void EncodePreferenceRecord(const PreferenceRecord *record, unsigned char bytes[kPreferenceRecordSize]);

// Reads the stored form. Returns 0, or 1 when the magic is missing (record unchanged).
// Whatever the bytes hold, the folder comes out bounded to 253 characters and the OFNI
// to 4, both terminated.
int DecodePreferenceRecord(const unsigned char bytes[kPreferenceRecordSize], PreferenceRecord *record);

// Start-up: the working values start afresh; the program directory is the current
// directory; Preferences are read from the settings file, or keep their defaults when
// it is missing, unreadable or without the magic (silently). A file shorter than the
// record overwrites only the bytes it has. With useLastPath on, the stored folder is
// ignored: the browse directory stays "C:\" until LoadLastParameters supplies one.
// When the current directory cannot be read, the program directory stays empty and
// every file is named relative to the current directory.
void LoadSettings();

// The main window's outer rectangle on the screen, pixels, as the record stores it.
struct WindowPlace {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Stores the main window's place into Preferences and writes the record whole. Returns 0,
// or 1 when the file could not be written (it is then unchanged; callers report nothing).
int WriteSettings(WindowPlace place);

// Writes the record whole as it stands, the stored window position included. Returns 0,
// or 1 when the file could not be written (it is then unchanged).
int WriteSettingsRecord();

// Makes folder (its first length characters) the browse directory and the default
// browse directory, and sets SettingsChanged so that the settings are written at exit.
void RememberBrowseFolder(const char *folder, size_t length);

#endif
