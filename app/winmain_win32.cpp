// The Windows program's entry point and the main window's procedure with its banner.
// The procedure only translates messages into calls of the main window's portable logic
// (app/mainwindow.h); the dialogs run on the window door's own dialog procedure.
#include <windows.h>

#include "app/mainwindow.h"
#include "resources/resource.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"

static const char kBannerFace[] = "Courier New";

static LOGFONTA BannerFont;  // the banner's font; height and weight set per line

// The banner's font description, set when the window is created.
static void SetBannerFont() {
  ZeroMemory(&BannerFont, sizeof BannerFont);
  BannerFont.lfItalic = TRUE;
  BannerFont.lfCharSet = ANSI_CHARSET;
  BannerFont.lfOutPrecision = OUT_DEFAULT_PRECIS;
  BannerFont.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  BannerFont.lfQuality = PROOF_QUALITY;
  BannerFont.lfPitchAndFamily = FF_MODERN | DEFAULT_PITCH;
  lstrcpynA(BannerFont.lfFaceName, kBannerFace, LF_FACESIZE);
}

// The three banner lines, each in its own font, at the top of its rectangle, centred.
static void PaintBanner(HWND window) {
  PAINTSTRUCT paint;
  HDC context = BeginPaint(window, &paint);
  HFONT previous = nullptr;
  HFONT font = nullptr;
  for (const BannerLine &line : kBanner) {
    BannerFont.lfHeight = line.height;
    BannerFont.lfWeight = line.weight;
    HFONT next = CreateFontIndirectA(&BannerFont);
    HFONT replaced = static_cast<HFONT>(SelectObject(context, next));
    if (font == nullptr) {
      previous = replaced;
    } else {
      DeleteObject(font);
    }
    font = next;
    RECT rect = {line.left, line.top, line.right, line.bottom};
    DrawTextA(context, line.text, -1, &rect, DT_CENTER | DT_VCENTER);
  }
  SelectObject(context, previous);
  DeleteObject(font);
  EndPaint(window, &paint);
}

static LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      SetBannerFont();
      MainWindowCreate(window);
      return 0;
    case WM_PAINT:
      PaintBanner(window);
      return 0;
    case WM_COMMAND:
      MainWindowCommand(window, LOWORD(wParam));
      return 0;
    case WM_DESTROY:
      MainWindowDestroy(window);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

static ATOM RegisterMainClass(HINSTANCE instance) {
  WNDCLASSA windowClass;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PELMAR));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = CreateSolidBrush(kMainWindowBackground);
  windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
  windowClass.lpszClassName = kMainWindowClass;
  return RegisterClassA(&windowClass);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  ResetStartupState();
  LoadSettings();
  SetDefaultKeyTitles();
  LoadLastParameters();
  if (RegisterMainClass(instance) == 0) return 0;
  HWND window = CreateWindowExA(0, kMainWindowClass, kMainWindowTitle, kMainWindowStyle, kMainWindowLeft,
                                kMainWindowTop, kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, instance,
                                nullptr);
  if (window == nullptr) return 0;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
