#!/usr/bin/env bash
# Any size: Pelmar's external path against its own run in memory, against GNU sort given the
# same memory (sort -S) and the same temporary folder (sort -T), and against cp of the same
# file; then inputs past 4 GiB in memory and in a budget, and on request 20 GB in 2 GiB.
# Wall time, peak resident memory and the ratios; each timed command starts after a sync,
# so that no earlier command's writing-back is counted against it.
#   bench/anysize.sh                       the 1 GB table and the 4.3 GB rows (~25 GB under BENCH_DIR)
#   BENCH_LARGE=0 bench/anysize.sh         without the 4.3 GB rows
#   BENCH_HUGE=1 bench/anysize.sh          with the 20 GB row (~65 GB under BENCH_DIR, ~15 minutes)
# BENCH_DIR (default $TMPDIR/pelmar-anysize, else /tmp/pelmar-anysize) holds the inputs, outputs and run files.
# Each command runs BENCH_REPEAT times (default 2), interleaved, and its fastest run counts.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
repeat=${BENCH_REPEAT:-2}
large=${BENCH_LARGE:-1}
huge=${BENCH_HUGE:-0}
data=${BENCH_DIR:-${TMPDIR:-/tmp}/pelmar-anysize}
build="$top/build-bench"
temporary="$data/tmp"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMAR_BENCH=ON -DPELMAR_TESTS=OFF >/dev/null
ninja -C "$build" makerecords measure enginesort >/dev/null
mkdir -p "$data" "$temporary"
echo "cores: $(nproc)   memory: $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"

measure() {  # "wall_ms peak_mib" of one run; the output file is removed first
  local output=$1 result
  shift
  rm -f "$output"
  sync
  result=$("$build/bench/measure" "$@")
  set -- $result
  if [ "$3" != 0 ]; then echo "command failed with status $3: $*" >&2; exit 1; fi
  echo "$1 $(( ($2 + 1023) / 1024 ))"
}
faster() {
  if [ -z "$1" ]; then echo "$2"; return; fi
  set -- $1 $2
  if [ "$3" -lt "$1" ]; then echo "$3 $4"; else echo "$1 $2"; fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

input_of() {  # n random records of 100 bytes (10 key bytes, filler, CR LF), made once
  local input="$data/random-$1.dat"
  [ -f "$input" ] || "$build/bench/makerecords" "$input" "$1" random
  echo "$input"
}

pelmar() {  # FORMAT INPUT BUDGET_BYTES (0: the default)
  local size=100 key=1,10,a,a
  [ "$1" = lines ] && size=variable key=1,10,c,a
  echo "$build/bench/enginesort" "$2" "$data/pelmar.out" "$size" "$key" both 0 "$3" "$temporary"
}

same_as_in_memory() {  # the external output must be the in-memory output, byte for byte
  local format=$1 input=$2 budget=$3
  [ -f "$data/reference-$format-$(basename "$input")" ] || {
    $(pelmar "$format" "$input" 0)
    mv "$data/pelmar.out" "$data/reference-$format-$(basename "$input")"
  }
  $(pelmar "$format" "$input" "$budget")
  cmp -s "$data/pelmar.out" "$data/reference-$format-$(basename "$input")" || { echo "different bytes: $format $budget" >&2; exit 1; }
}

# Per format: Pelmar in memory (its default budget), then in 256 MiB and 64 MiB beside GNU
# sort in the same memory; /mem is the budget's run against the run in memory.
printf '%-6s %9s %7s | %8s %6s | %8s %6s | %7s | %6s %6s %6s\n' format records memory "pelmar ms" MiB "GNU ms" MiB "cp ms" "/GNU" "/cp" "/mem"
for format in fixed lines; do
  n=10000000
  input=$(input_of $n)
  inMemory=""
  for memory in default 256 64; do
    budget=0 label=$memory
    [ "$memory" = default ] || { budget=$(( memory << 20 )) label=${memory}M; same_as_in_memory "$format" "$input" "$budget"; }
    cat "$input" >/dev/null
    p="" g="" c=""
    for (( run = 0; run < repeat; run++ )); do
      p=$(faster "$p" "$(measure "$data/pelmar.out" $(pelmar "$format" "$input" "$budget"))")
      [ "$memory" = default ] ||
        g=$(faster "$g" "$(LC_ALL=C measure "$data/gnu.out" sort -S "${memory}M" -T "$temporary" -k1.1,1.10 "$input" -o "$data/gnu.out")")
      c=$(faster "$c" "$(measure "$data/copy.out" cp "$input" "$data/copy.out")")
    done
    set -- $p ${g:-- -} $c
    [ "$memory" = default ] && inMemory=$1
    printf '%-6s %9s %7s | %8s %6s | %8s %6s | %7s | %6s %6s %6s\n' "$format" "$n" "$label" "$1" "$2" "$3" "$4" "$5" \
      "$([ "$3" = - ] && echo - || ratio "$1" "$3")" "$(ratio "$1" "$5")" "$(ratio "$1" "$inMemory")"
  done
  rm -f "$data/reference-$format-$(basename "$input")"
done
rm -f "$data/gnu.out" "$data/copy.out" "$data/pelmar.out"

if [ "$large" = 1 ]; then
  echo
  printf '%-6s %9s %8s | %8s %6s | %7s | %6s\n' format records memory "pelmar ms" MiB "cp ms" "/cp"
  n=43000000
  input=$(input_of $n)
  for format in fixed lines; do
    for memory in default 1024; do
      budget=0
      [ "$memory" = default ] || budget=$(( memory << 20 ))
      cat "$input" >/dev/null 2>&1 || true
      p=$(measure "$data/pelmar.out" $(pelmar "$format" "$input" "$budget"))
      c=$(measure "$data/copy.out" cp "$input" "$data/copy.out")
      [ "$(stat -c %s "$data/pelmar.out")" = "$(stat -c %s "$input")" ] || { echo "wrong output size" >&2; exit 1; }
      set -- $p $c
      printf '%-6s %9s %8s | %8s %6s | %7s | %6s\n' "$format" "$n" "$memory" "$1" "$2" "$3" "$(ratio "$1" "$3")"
    done
  done
  rm -f "$data/copy.out" "$data/pelmar.out"
fi

# 20 GB of fixed records in 2 GiB, once each: Pelmar against GNU sort, with peak resident
# memory and the most the disk held beyond the input (run files and output together,
# sampled every half second; the output alone is the input's size).
if [ "$huge" = 1 ]; then
  echo
  printf '%-6s %9s %7s | %8s %6s %8s | %8s %6s %8s | %6s\n' format records memory "pelmar ms" MiB "disk GB" "GNU ms" MiB "disk GB" "/GNU"
  n=200000000
  input=$(input_of $n)
  peak_disk() {  # runs the command while sampling the disk; prints "wall_ms peak_mib peak_disk_gb"
    local before most=0 used sampler result
    sync
    before=$(df -B1 --output=used "$data" | tail -1)
    ( while :; do df -B1 --output=used "$data" | tail -1; sleep 0.5; done ) > "$data/disk.samples" &
    sampler=$!
    result=$(measure "$@")
    kill "$sampler"
    most=$(sort -n "$data/disk.samples" | tail -1)
    echo "$result $(awk -v a="$most" -v b="$before" 'BEGIN { printf "%.1f", (a - b) / 1e9 }')"
  }
  p=$(peak_disk "$data/pelmar.out" $(pelmar fixed "$input" $(( 2048 << 20 ))))
  rm -f "$data/pelmar.out"
  g=$(LC_ALL=C peak_disk "$data/gnu.out" sort -S 2G -T "$temporary" -k1.1,1.10 "$input" -o "$data/gnu.out")
  rm -f "$data/gnu.out" "$data/disk.samples"
  [ -z "$(ls -A "$temporary")" ] || { echo "files left in $temporary" >&2; exit 1; }
  set -- $p $g
  printf '%-6s %9s %7s | %8s %6s %8s | %8s %6s %8s | %6s\n' fixed "$n" 2048M "$1" "$2" "$3" "$4" "$5" "$6" "$(ratio "$1" "$4")"
fi
