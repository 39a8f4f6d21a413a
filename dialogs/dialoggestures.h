// What the Sort and Preferences dialogs do alike: the caption of every error message (the
// main window's too) and of storage's messages by their kind, the placement beside the
// owner at opening, and the texts of owner-drawn labels looked up in a table. Like the
// dialogs' logic, these reach windows only through windowing/winsys.h.
#ifndef PELMAR_DIALOGS_DIALOGGESTURES_H
#define PELMAR_DIALOGS_DIALOGGESTURES_H

#include <cstddef>

#include "windowing/winsys.h"

extern const char kCaptionError[];  // "  * * ERROR * *", the caption of every error message

// The caption of a storage message of kind caption (storage/parameterfiles.h):
// "  * * ERROR * *", "* * Warning * *", "Internal Program Error" or "Could Not Open File!".
const char *StorageCaptionText(int caption);

// Moves dialog 4 pixels right of and 22 below the top-left corner of owner.
void PlaceBesideOwner(WindowHandle dialog, WindowHandle owner);

// An owner-drawn label and the text it always shows.
struct LabelText {
  int control;
  const char *text;
};

// The text of control among count labels, or null when it is none of them.
const char *FindLabelText(const LabelText *labels, size_t count, int control);

#endif
