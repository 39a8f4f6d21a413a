# Sourced by the UI scripts: a fresh, quiet Wine prefix for one job, under the display
# already set (xvfb-run). Sets WINEPREFIX, WINEDEBUG and WINEDLLOVERRIDES.
#   pelmar_wine_prefix DIR
pelmar_wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Without a window manager every hide or close would wait for one.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wineserver -p 60
}
