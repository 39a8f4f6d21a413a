# The start shared by bench/keys.sh and bench/pipes.sh (sourced): the Release build of the
# benchmark tools, the data folder as the current directory (pelmar-sort keeps its settings
# there), and the fastest of BENCH_REPEAT runs (default 3) of a command.
top=$(cd "$(dirname "$0")/.." && pwd)
repeat=${BENCH_REPEAT:-3}
data=${BENCH_DIR:-/tmp/pelmar-bench}
build="$top/build-bench"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMAR_BENCH=ON -DPELMAR_TESTS=OFF >/dev/null
ninja -C "$build" makerecords measure pelmar-sort >/dev/null
mkdir -p "$data"
cd "$data"

# The fastest of the runs of a command after a sync: "wall_ms peak_mib".
best() {
  local fastest="" result
  for (( run = 0; run < repeat; run++ )); do
    rm -f "$data/out.dat"
    sync
    result=$("$build/bench/measure" "$@" | tail -n 1)  # the last line is measure's
    read -r wall peak status <<<"$result"
    [ "$status" = 0 ] || { echo "failed: $*" >&2; exit 1; }
    if [ -z "$fastest" ] || [ "$wall" -lt "${fastest% *}" ]; then fastest="$wall $(( (peak + 1023) / 1024 ))"; fi
  done
  echo "$fastest"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
