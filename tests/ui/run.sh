#!/usr/bin/env bash
# End-to-end tests of pelmar.exe under Wine on a headless X server: a fresh Wine prefix,
# the sample and a large generated input, pelmar-sort's results of the same jobs as the
# reference, then the driver through every case (or those named).
#   tests/ui/run.sh BUILD-WIN PELMAR-SORT [--shots DIR] [CASE...]
# BUILD-WIN is the Windows build tree (pelmar.exe, uidriver.exe); PELMAR-SORT the native
# runner. With --shots the driver pauses at its screenshot points and each screen is
# saved as DIR/NAME.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
sorter=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
shots=""
if [ "${1:-}" = "--shots" ]; then
  mkdir -p "$2"
  shots=$(cd "$2" && pwd)
  shift 2
fi

work=$(mktemp -d /tmp/pelmar-ui-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/reference"
cp "$top/samples/people.dat" "$work/"
# Twelve million 16-byte records: a sort of about two seconds, long enough to show its
# progress with room to spare (two million took a third of a second).
head -c $((12000000 * 16)) /dev/urandom > "$work/big.dat"
(
  cd "$work/reference"
  cp ../people.dat .
  "$sorter" -i people.dat -o peopleSrt.dat -s 32 -k 17,4,i,d -k 1,16,c,a -t 1=Balance --stats >/dev/null 2>&1
  mv peopleSrt.dat people-out.dat
  mv SortStat.txt people-SortStat.txt
  "$sorter" -i ../big.dat -o big-out.dat -s 16 -k 1,8,a,a >/dev/null 2>&1
  rm -f people.dat
)
[ -n "$shots" ] && touch "$work/shots"

cat > "$work/job.sh" <<'JOB'
set -u
. "$1/wineprefix.sh"
pelmar_wine_prefix "$2/prefix" >/dev/null 2>&1
export WINEPREFIX
program=$(winepath -w "$3")
workdir=$(winepath -w "$2")
shift 4
if [ -f "$WORKDIR_SHOTS/shots" ]; then
  ( while :; do
      for ready in "$WORKDIR_SHOTS"/*.ready; do
        [ -e "$ready" ] || continue
        name=$(basename "$ready" .ready)
        import -window root -crop "$(cat "$ready")" +repage "$SHOTS/$name.png"
        rm -f "$ready"
        touch "$WORKDIR_SHOTS/$name.done"
      done
      sleep 0.05
    done ) &
  watcher=$!
fi
wine "$DRIVER" "$program" "$workdir" "$@"
status=$?
[ -n "${watcher:-}" ] && kill "$watcher"
wineserver -k 2>/dev/null
exit $status
JOB
export DRIVER="$build/tests/ui/uidriver.exe" WORKDIR_SHOTS="$work" SHOTS="$shots"
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/job.sh" "$here" "$work" "$build/app/pelmar.exe" - "$@"
