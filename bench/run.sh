#!/usr/bin/env bash
# Pelmar against GNU sort, in the same run on the same files: wall time, peak memory and
# the ratio of the wall times. Builds an optimised tree in build-bench first.
#   bench/run.sh                 1 and 10 million records of 100 bytes
#   BENCH_SIZES=1000000 bench/run.sh
# BENCH_DIR (default /tmp/pelmar-bench) holds the generated files: about 2.2 GB at 10 million.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sizes=${BENCH_SIZES:-"1000000 10000000"}
data=${BENCH_DIR:-/tmp/pelmar-bench}
build="$top/build-bench"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMAR_BENCH=ON -DPELMAR_TESTS=OFF >/dev/null
ninja -C "$build" makerecords measure enginesort >/dev/null
mkdir -p "$data"

# One measured run: prints "wall_ms peak_mib".
measure() {
  local result
  result=$("$build/bench/measure" "$@")
  set -- $result
  if [ "$3" != 0 ]; then echo "command failed with status $3" >&2; exit 1; fi
  echo "$1 $(( ($2 + 1023) / 1024 ))"
}

printf '%-22s %10s | %9s %8s | %9s %8s | %6s\n' case records "pelmar ms" "peak MiB" "GNU ms" "peak MiB" ratio
for n in $sizes; do
  for order in random sorted reverse equal lines; do
    source_order=$order
    [ "$order" = lines ] && source_order=random
    input="$data/$source_order-$n.dat"
    [ -f "$input" ] || "$build/bench/makerecords" "$input" "$n" "$source_order"
    cat "$input" >/dev/null  # both sides start with the file in the page cache
    if [ "$order" = lines ]; then
      pelmar=$(measure "$build/bench/enginesort" "$input" "$data/pelmar.out" variable 1,10,c,a both)
    else
      pelmar=$(measure "$build/bench/enginesort" "$input" "$data/pelmar.out" 100 1,10,a,a)
    fi
    gnu=$(LC_ALL=C measure sort -k1.1,1.10 "$input" -o "$data/gnu.out")
    set -- $pelmar $gnu
    if [ "$(stat -c %s "$data/pelmar.out")" != "$(stat -c %s "$input")" ]; then
      echo "pelmar output of $input has the wrong size" >&2
      exit 1
    fi
    ratio=$(awk -v a="$1" -v b="$3" 'BEGIN { printf "%.3f", a / b }')
    printf '%-22s %10s | %9s %8s | %9s %8s | %6s\n' "$order" "$n" "$1" "$2" "$3" "$4" "$ratio"
  done
done
rm -f "$data/pelmar.out" "$data/gnu.out"
