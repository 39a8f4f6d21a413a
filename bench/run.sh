#!/usr/bin/env bash
# Pelmar against GNU sort and cp, in the same run on the same files: wall time, peak memory
# and the ratios of the wall times. Builds an optimised tree in build-bench first.
#   bench/run.sh                 1 and 10 million records of 100 bytes, then the scaling table
#   BENCH_SIZES=1000000 BENCH_SCALING="1000000 2000000" BENCH_REPEAT=5 bench/run.sh
# Each command runs BENCH_REPEAT times (default 3), interleaved, and its fastest run counts:
# a fresh machine's page cache and memory make first runs slow for all of them.
# Pelmar runs on 1 thread and on its default count (the cores, at most 8); GNU sort on its
# default; cp copies the same input, which is the floor: every byte read and written once.
# BENCH_DIR (default /tmp/pelmar-bench) holds the generated files: about 13 GB with the
# scaling table's 40 million records (4 GB of input and as much output).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sizes=${BENCH_SIZES:-"1000000 10000000"}
scaling=${BENCH_SCALING:-"1000000 10000000 40000000"}
repeat=${BENCH_REPEAT:-3}
data=${BENCH_DIR:-/tmp/pelmar-bench}
build="$top/build-bench"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMAR_BENCH=ON -DPELMAR_TESTS=OFF >/dev/null
ninja -C "$build" makerecords measure enginesort progresscost >/dev/null
mkdir -p "$data"
echo "cores: $(nproc)"

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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# The input of an order and size, made once. Text lines are the random records read as lines.
input_of() {
  local order=$1 n=$2 source_order=$1
  [ "$order" = lines ] && source_order=random
  local input="$data/$source_order-$n.dat"
  [ -f "$input" ] || "$build/bench/makerecords" "$input" "$n" "$source_order"
  echo "$input"
}

# The Pelmar command for an order, input and thread count (0: the default).
pelmar_command() {
  local order=$1 input=$2 threads=$3 format=(100 1,10,a,a)
  [ "$order" = lines ] && format=(variable 1,10,c,a)
  if [ "$threads" = 0 ]; then
    echo "$build/bench/enginesort" "$input" "$data/pelmar.out" "${format[@]}" both
  else
    echo "$build/bench/enginesort" "$input" "$data/pelmar.out" "${format[@]}" both "$threads"
  fi
}

check_output() {
  if [ "$(stat -c %s "$data/pelmar.out")" != "$(stat -c %s "$1")" ]; then
    echo "pelmar output of $1 has the wrong size" >&2
    exit 1
  fi
}

printf '%-8s %9s | %8s %6s | %8s %6s | %8s %6s | %7s | %6s %6s %6s\n' case records "1 thr ms" MiB \
  "dflt ms" MiB "GNU ms" MiB "cp ms" "1/GNU" "d/GNU" "d/cp"
for n in $sizes; do
  for order in random sorted reverse equal lines; do
    input=$(input_of "$order" "$n")
    cat "$input" >/dev/null  # every command starts with the file in the page cache
    one="" default="" gnu="" copy=""
    for (( run = 0; run < repeat; run++ )); do
      one=$(faster "$one" "$(measure "$data/pelmar.out" $(pelmar_command "$order" "$input" 1))")
      check_output "$input"
      default=$(faster "$default" "$(measure "$data/pelmar.out" $(pelmar_command "$order" "$input" 0))")
      check_output "$input"
      gnu=$(faster "$gnu" "$(LC_ALL=C measure "$data/gnu.out" sort -k1.1,1.10 "$input" -o "$data/gnu.out")")
      copy=$(faster "$copy" "$(measure "$data/copy.out" cp "$input" "$data/copy.out")")
    done
    set -- $one $default $gnu $copy
    printf '%-8s %9s | %8s %6s | %8s %6s | %8s %6s | %7s | %6s %6s %6s\n' "$order" "$n" "$1" "$2" "$3" "$4" \
      "$5" "$6" "$7" "$(ratio "$1" "$5")" "$(ratio "$3" "$5")" "$(ratio "$3" "$7")"
  done
done
rm -f "$data/pelmar.out" "$data/gnu.out" "$data/copy.out"

# Scaling, Pelmar only: wall time per million records should stay flat as n grows.
echo
printf '%-8s %9s | %8s %8s | %8s %8s | %6s\n' case records "1 thr ms" "ms/M" "dflt ms" "ms/M" "peak MiB"
for n in $scaling; do
  for order in random lines; do
    input=$(input_of "$order" "$n")
    cat "$input" >/dev/null
    one="" default=""
    for (( run = 0; run < repeat; run++ )); do
      one=$(faster "$one" "$(measure "$data/pelmar.out" $(pelmar_command "$order" "$input" 1))")
      default=$(faster "$default" "$(measure "$data/pelmar.out" $(pelmar_command "$order" "$input" 0))")
    done
    check_output "$input"
    set -- $one $default
    printf '%-8s %9s | %8s %8s | %8s %8s | %6s\n' "$order" "$n" "$1" "$(awk -v a="$1" -v n="$n" 'BEGIN { printf "%.0f", a * 1e6 / n }')" \
      "$3" "$(awk -v a="$3" -v n="$n" 'BEGIN { printf "%.0f", a * 1e6 / n }')" "$4"
  done
done
rm -f "$data/pelmar.out"

# What the progress reporting costs when nobody listens.
first=${sizes%% *}
"$build/bench/progresscost" "$data/random-$first.dat" "$data/progress.out"
rm -f "$data/progress.out"
