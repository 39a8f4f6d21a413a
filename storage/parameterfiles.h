// Parameter files: saved sort parameter sets, one 766-byte ParameterRecord per entry.
// "spt.spt" holds the last parameters used; a user parameter file per input base name
// (the base and ".spt") holds named entries, each shown in the Sort dialog's saved list
// by its identifier: the base, an underscore and 'a' + the entry's index (orders_a is
// entry 0 of orders.spt). File layout: a signed 32-bit little-endian entry count, then
// the entries; bytes behind the last counted entry mean nothing.
//
// Call order. Start-up: ResetParameterState, LoadSettings (settings.h),
// SetDefaultKeyTitles, LoadLastParameters. The Sort dialog: ListUserEntries when it opens
// with user files on; after a passed validation BuildParameterRecord, then
// SaveLastParameters; LoadUserEntry when an entry is selected; RemoveUserEntry after the
// user confirmed a removal. Every file is named in the program directory (settings.h)
// and opened, used and closed within one call.
//
// Nothing here is shown: the operations that the Sort dialog calls report in a
// StorageOutcome what happened (identifiers added or found, and the messages to show,
// in order, each with an OK button and the dialog as owner); the dialog's logic shows
// them and keeps the saved list.
//
// This module owns the program-wide CurrentParameters, KeyTitles, ParametersLoaded and
// JobRecord.
#ifndef PELMAR_STORAGE_PARAMETERFILES_H
#define PELMAR_STORAGE_PARAMETERFILES_H

#include "engine/sorttypes.h"

constexpr int kIdentifierSize = 128;      // an entry identifier of at most 127 characters and a NUL
constexpr int kMaxBaseLength = 125;       // longest base that forms an identifier
constexpr int kEntryWarningCount = 26;    // entries a user file is meant for; more are stored with a warning
constexpr int kAddressableEntries = 30;   // entries with an identifier: 'a' to '~'; later ones are kept, unlisted
constexpr int kOutcomeMessages = 16;      // messages one operation reports; more are left out
constexpr size_t kOutcomeTextSize = kNameSize + 8;  // a message: one of ours, or a file name

// The kind of caption a message goes under; the dialogs give each kind its text.
constexpr int kStorageCaptionError = 0;       // a damaged parameter file
constexpr int kStorageCaptionWarning = 1;     // a file left as it was, a base too long, a 27th entry
constexpr int kStorageCaptionInternal = 2;    // a count that the file cannot hold
constexpr int kStorageCaptionCannotOpen = 3;  // an entry's file that would not open; the text is its name
constexpr int kStorageCaptionKinds = 4;       // the kinds above, numbered from 0

// One message to show.
struct StorageMessage {
  char text[kOutcomeTextSize];  // NUL-terminated
  int caption;                  // kStorageCaptionError to kStorageCaptionCannotOpen
};

// What one operation did, for the caller to show. Each operation empties it first.
// Listings hand their identifiers to an IdentifierFound function instead, however many.
struct StorageOutcome {
  int newEntry;                        // a save: 1 when the set matched no stored entry, so a
                                       // new entry was made or tried (a selection in the
                                       // saved list no longer applies)
  int identifierCount;                 // 1 when a save added an identifier, else 0
  char identifiers[1][kIdentifierSize];  // the identifier a save added
  int messageCount;                    // messages that follow
  StorageMessage messages[kOutcomeMessages];  // to show in this order
  int truncated;                       // 1: there were more messages than it holds
};

// Receives each identifier a listing finds, in the order found.
typedef void (*IdentifierFound)(void *context, const char *identifier);

extern SortParameters CurrentParameters;         // the current sort parameter set
extern char KeyTitles[kMaxKeys][kKeyTitleSize];  // the six key titles; "Key 1:" to "Key 6:" by default
extern int ParametersLoaded;                     // 1: the Sort dialog fills its fields on opening
extern ParameterRecord JobRecord;                // built by BuildParameterRecord: what is saved and sorted

// Start-up state: CurrentParameters emptied (key count and statistics flag 0 too),
// JobRecord all zero, ParametersLoaded 0, the default key titles.
void ResetParameterState();

// Empties the current parameters: names empty, record length 0, every key at position 0,
// length 0, type and sequence blank. The key count, statistics flag and titles stay.
void ClearParameters();

// Sets the six key titles to "Key 1:" to "Key 6:".
void SetDefaultKeyTitles();

// Makes the program directory current again (the input file dialog may have moved it)
// and fills JobRecord from CurrentParameters and KeyTitles; every byte behind a text's
// end is zero. Returns 0, or 1 when the program directory could not be entered (the
// record is built all the same).
int BuildParameterRecord();

// Stores JobRecord in the user parameter file of the current input name. An entry with
// the same parameters (titles aside) is rewritten in place, silently; otherwise the
// record is appended (newEntry 1) and, for entries 'a' to 'z', its new identifier
// reported; from the 27th entry on, "Exceeded Max of 26 spt Entries!" is reported
// instead. A base over 125 characters is refused with a message. Returns 0 when the
// record is stored, 1 when the file is as it was (the reason reported).
int SaveUserEntry(StorageOutcome *outcome);

// Runs SaveUserEntry when user files are on, then writes "spt.spt" whole with the count
// 1 and JobRecord. Reports SaveUserEntry's outcome, then "spt.spt"'s failure if any (so
// up to two messages). Returns 0, or 1 when the set was not stored everywhere it was to
// go: "spt.spt" could not be written (the previous file stays as it was), or the user
// entry was not stored.
int SaveLastParameters(StorageOutcome *outcome);

// Hands found the identifiers of the entries of every user parameter file in the program
// directory, whatever the letter case of its ".spt" (the file's own base makes the
// identifier: ORDERS.SPT gives ORDERS_a). "spt.spt" is never listed, in no letter case.
// A file whose first entry lacks the magic reports "Corrupted SPT File!" and no
// identifier; listing goes on with the next file.
void ListUserEntries(StorageOutcome *outcome, IdentifierFound found, void *context);

// Makes the entry named by identifier the current parameters and key titles. Returns 0;
// the caller then shows them (fills the dialog's fields, repaints the key labels and
// returns the focus to the saved list). Returns 1 with the current parameters untouched
// when the file does not open (its name reported, kStorageCaptionCannotOpen), when
// the entry is missing, short or without the magic ("(b) Corrupted SPT File!"), or,
// silently, when identifier is not one.
int LoadUserEntry(const char *identifier, StorageOutcome *outcome);

// Removes the entry named by identifier: the last entry takes its place, the count is
// lowered and the file keeps its length; removing the only entry deletes the file. Then
// lists the entries again (as ListUserEntries): the caller empties the saved list before
// and found fills it. Returns 0 when the entry was removed, 1 when every file is as it
// was (silently when the file does not open or does not hold the entry, or for an entry
// of "spt.spt"; a failed write is reported).
int RemoveUserEntry(const char *identifier, StorageOutcome *outcome, IdentifierFound found, void *context);

// 1 when text has the form of an entry identifier: at most 127 characters, a base of at
// most 125 without a path separator, an underscore and one character from 'a' to '~'.
int IsEntryIdentifier(const char *text);

// Start-up: with user files off, takes the current parameters and key titles from the
// record of "spt.spt" and sets ParametersLoaded; with "Use Last Path for Browse" on, the
// folder of the restored input name becomes the browse directory (settings.h). A missing
// or damaged file changes nothing, silently. Returns 0 when parameters were restored.
int LoadLastParameters();

#endif
