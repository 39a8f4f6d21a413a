// What the Win32 window-system operations need from the Windows program itself: the
// procedure of each dialog template, and the thread that owns the windows.
#ifndef PELMAR_WINDOWING_WIN32DIALOGS_H
#define PELMAR_WINDOWING_WIN32DIALOGS_H

#include <windows.h>

// The dialog procedure of template templateId (resources/resource.h); null for none.
DLGPROC DialogProcedure(int templateId);

// The thread that created the main window and runs its message loop.
DWORD WindowThread();

#endif
