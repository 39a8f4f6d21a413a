#!/usr/bin/env bash
# Pelmar against GNU sort, in the same run on the same files: wall time, peak memory and
# the ratio of the wall times. Builds an optimised tree in build-bench first.
#   bench/run.sh                 1 and 10 million records of 100 bytes
#   BENCH_SIZES=1000000 BENCH_REPEAT=5 bench/run.sh
# Each side runs BENCH_REPEAT times (default 3), interleaved, and its fastest run counts:
# a fresh machine's page cache and memory make first runs slow for both.
# BENCH_DIR (default /tmp/pelmar-bench) holds the generated files: about 5 GB at 10 million.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sizes=${BENCH_SIZES:-"1000000 10000000"}
repeat=${BENCH_REPEAT:-3}
data=${BENCH_DIR:-/tmp/pelmar-bench}
build="$top/build-bench"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMAR_BENCH=ON -DPELMAR_TESTS=OFF >/dev/null
ninja -C "$build" makerecords measure enginesort progresscost >/dev/null
mkdir -p "$data"

# One measured run: prints "wall_ms peak_mib". The output file is removed first.
measure() {
  local output=$1 result
  shift
  rm -f "$output"
  result=$("$build/bench/measure" "$@")
  set -- $result
  if [ "$3" != 0 ]; then echo "command failed with status $3" >&2; exit 1; fi
  echo "$1 $(( ($2 + 1023) / 1024 ))"
}

# The faster of two "wall_ms peak_mib" lines.
faster() {
  if [ -z "$1" ]; then echo "$2"; return; fi
  set -- $1 $2
  if [ "$3" -lt "$1" ]; then echo "$3 $4"; else echo "$1 $2"; fi
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
      pelmar_command=("$build/bench/enginesort" "$input" "$data/pelmar.out" variable 1,10,c,a both)
    else
      pelmar_command=("$build/bench/enginesort" "$input" "$data/pelmar.out" 100 1,10,a,a)
    fi
    pelmar="" gnu=""
    for (( run = 0; run < repeat; run++ )); do
      pelmar=$(faster "$pelmar" "$(measure "$data/pelmar.out" "${pelmar_command[@]}")")
      gnu=$(faster "$gnu" "$(LC_ALL=C measure "$data/gnu.out" sort -k1.1,1.10 "$input" -o "$data/gnu.out")")
    done
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

# What the progress reporting costs when nobody listens.
first=${sizes%% *}
"$build/bench/progresscost" "$data/random-$first.dat" "$data/progress.out"
rm -f "$data/progress.out"
