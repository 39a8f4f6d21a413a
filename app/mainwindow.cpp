#include "app/mainwindow.h"

#include <cstring>

#include "dialogs/dialoggestures.h"
#include "dialogs/preferences.h"
#include "dialogs/sortdialog.h"
#include "dialogs/validation.h"
#include "engine/scanner.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"

static const char kCaptionAbout[] = " ABOUT";
static const char kSortDialogFailed[] = "Could Not Create Sort Dialog!";
static const char kPreferencesFailed[] = "Could Not Create Pref Dialog!";

const char kMainWindowClass[] = "WinSortInp";
const char kMainWindowTitle[] = PELMAR_WINDOW_TITLE;

const BannerLine kBanner[kBannerLines] = {
    {PELMAR_BANNER_NAME, 10, 80, 520, 140, 48, 600},
    {"Stand-Alone Sort Utility", 6, 140, 510, 180, 24, 600},
    {"Released 2026", 10, 180, 480, 220, 18, 500},
};

const char kAboutText[] = PELMAR_BANNER_NAME
    "\n\nA record-file sort utility.\n\n"
    "Written by the Pelmar developers, 2026,\n"
    "in plain C++ over the Win32 API.";

void ResetStartupState() {
  ResetParameterState();
  ClearParameters();
  memset(&Preferences, 0, sizeof Preferences);
  BrowsedInput = 0;
  DelimiterMode = 0;
}

void MainWindowCreate(WindowHandle window) {
  MoveWindowTo(window, Preferences.windowLeft, Preferences.windowTop);
  if (Preferences.goToSortDialog == 1) PostCommand(window, IDM_SORT_DIALOG);
}

void MainWindowCommand(WindowHandle window, int command) {
  switch (command) {
    case IDM_SORT_DIALOG:
      if (RunModalDialog(window, IDD_SORT_DIALOG, &kSortDialogCalls) == -1) {
        ShowMessage(window, kSortDialogFailed, kCaptionError);
      }
      break;
    case IDM_ABOUT:
      ShowMessage(window, kAboutText, kCaptionAbout);
      break;
    case IDM_PREFERENCES:
      if (RunModalDialog(window, IDD_PREFERENCES, &kPreferencesDialogCalls) == -1) {
        ShowMessage(window, kPreferencesFailed, kCaptionError);
      }
      break;
    case IDM_EXIT:
      DestroyTopWindow(window);
      break;
    default:
      break;
  }
}

void MainWindowDestroy(WindowHandle window) {
  if (!SettingsChanged) return;
  ScreenRect rect;
  GetNormalWindowRectangle(window, &rect);  // a window closed minimised comes back where it was
  WriteSettings(WindowPlace{rect.left, rect.top, rect.right, rect.bottom});
}
