#!/usr/bin/env bash
# The end-to-end story of pelmar.exe under Wine on a headless X server, in a fresh Wine
# prefix: the driver runs it over the sample and a large generated input, then the files
# it made are compared with pelmar-sort's results of the same jobs.
#   tests/ui/run.sh BUILD-WIN PELMAR-SORT
# BUILD-WIN is the Windows build tree (pelmar.exe, uidriver.exe); PELMAR-SORT the native
# runner.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
sorter=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")

work=$(mktemp -d /tmp/pelmar-ui-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/reference"
cp "$top/samples/people.dat" "$work/"
# Twelve million 16-byte records: a sort of about two seconds, long enough to show its
# progress with room to spare (two million took a third of a second).
head -c $((12000000 * 16)) /dev/urandom > "$work/big.dat"

# The prefix: wineboot returns before it is ready; without a window manager every hide or
# close would wait for one; Wine's fonts give the classic dialog sizes.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  export WINEPREFIX=$1/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >/dev/null 2>&1; wineserver -w
  wine reg add "HKCU\Software\Wine\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  wineserver -p 60
  wine "$2/tests/ui/uidriver.exe" "$(winepath -w "$2/app/pelmar.exe")" "$(winepath -w "$1")"
  status=$?
  wineserver -k 2>/dev/null
  exit $status' story "$work" "$build"

# The outputs byte for byte; the reports but for the date and time, the phase times and
# the files' folders.
cd "$work/reference"
cp ../people.dat .
"$sorter" -i people.dat -o peopleSrt.dat -s 32 -k 17,4,i,d -k 1,16,c,a --stats >/dev/null
"$sorter" -i ../big.dat -o bigSrt.dat -s 16 -k 1,8,a,a >/dev/null
cmp peopleSrt.dat ../peopleSrt.dat
cmp bigSrt.dat ../bigSrt.dat
report() { sed -e '/Date - /d' -e '/Clicks/d' -e 's/File: .*[\\/]/File: /' "$1"; }
diff <(report SortStat.txt) <(report ../SortStat.txt)
echo "the files are pelmar-sort's"
