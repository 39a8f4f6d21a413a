// The main window's portable logic: the start-up state, the window's creation, its
// Options menu commands and its end. The Win32 entry point and MainWndProc hand their
// messages to these calls; the window is reached only through windowing/winsys.h.
//
// Start-up, in this order: ResetStartupState, LoadSettings (storage/settings.h),
// SetDefaultKeyTitles and LoadLastParameters (storage/parameterfiles.h); then the window
// is created (MainWindowCreate), serves its commands (MainWindowCommand) and ends
// (MainWindowDestroy).
#ifndef PELMAR_APP_MAINWINDOW_H
#define PELMAR_APP_MAINWINDOW_H

#include <cstdint>

#include "windowing/winsys.h"

extern const char kMainWindowClass[];  // "WinSortInp"
extern const char kMainWindowTitle[];  // "      Pelmar v1.0"
constexpr uint32_t kMainWindowStyle = 0x004A0000;  // dialog frame, system menu, minimize box
constexpr int kMainWindowLeft = 224;               // where it is created, before the move to
constexpr int kMainWindowTop = 184;                // the stored position
constexpr int kMainWindowWidth = 564;              // pixels
constexpr int kMainWindowHeight = 370;
constexpr uint32_t kMainWindowBackground = 0x00FEFEFE;  // RGB(254, 254, 254)

// One line of the banner, drawn centred at the top of its rectangle (client pixels) in
// italic Courier New of the given height and weight.
struct BannerLine {
  const char *text;
  int32_t left, top, right, bottom;
  int32_t height;  // font height, logical units
  int32_t weight;  // font weight, 400 normal, 700 bold
};
constexpr int kBannerLines = 3;
extern const BannerLine kBanner[kBannerLines];

extern const char kAboutText[];  // the About box: the program, its version and credits

// The state before the settings are read: current parameters cleared, the parameter and
// preference records all zero, no browsed input, the delimiter mode 0.
void ResetStartupState();

// The window was created: moves it to the stored position (keeping its size) and, with
// "Go to Sort Dialog on Startup" on, posts the Sort dialog's command to it.
void MainWindowCreate(WindowHandle window);

// A menu command: 101 Sort dialog, 102 About, 103 Preferences, 104 exit. A dialog that
// cannot be created is reported. Other commands are ignored.
void MainWindowCommand(WindowHandle window, int command);

// The window ends: the settings are written only when they changed, with the window's
// normal rectangle (the one it is restored to, when it ends minimised).
void MainWindowDestroy(WindowHandle window);

#endif
