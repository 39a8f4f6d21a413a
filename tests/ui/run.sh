#!/usr/bin/env bash
# The end-to-end story of pelmar.exe under Wine on a headless X server: a fresh Wine
# prefix, the sample and a large generated input, pelmar-sort's results of the same jobs
# as the reference, then the driver.
#   tests/ui/run.sh BUILD-WIN PELMAR-SORT
# BUILD-WIN is the Windows build tree (pelmar.exe, uidriver.exe); PELMAR-SORT the native
# runner.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
sorter=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")

work=$(mktemp -d /tmp/pelmar-ui-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/reference"
cp "$top/samples/people.dat" "$work/reference/"
# Twelve million 16-byte records: a sort of about two seconds, long enough to show its
# progress with room to spare (two million took a third of a second).
head -c $((12000000 * 16)) /dev/urandom > "$work/big.dat"
(
  cd "$work/reference"
  "$sorter" -i people.dat -o peopleSrt.dat -s 32 -k 17,4,i,d -k 1,16,c,a --stats >/dev/null
  "$sorter" -i ../big.dat -o bigSrt.dat -s 16 -k 1,8,a,a >/dev/null
  mv people.dat ..
)

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  . "$1/wineprefix.sh"
  pelmar_wine_prefix "$2/prefix" >/dev/null 2>&1
  wine "$3/tests/ui/uidriver.exe" "$(winepath -w "$3/app/pelmar.exe")" "$(winepath -w "$2")"
  status=$?
  wineserver -k 2>/dev/null
  exit $status' job "$here" "$work" "$build"
