#!/usr/bin/env bash
# The fuzz targets, built with clang under AddressSanitizer and UBSan in build-fuzz/:
#   tests/fuzz/run.sh SECONDS [KEEP]   run each target SECONDS on a copy of its seed corpus;
#                                      with KEEP, the grown corpora stay in KEEP/<target>
# (./run.sh test installs the compilers and libraries they need.)
# Fails on the first target that crashes or breaks an invariant; its input is kept and named.
# (To measure what the seeds reach, configure with -DPELMAR_FUZZ_COVERAGE=ON as well.)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
targets=(sortrun parameterfiles settings validation)
declare -A maxLength=([sortrun]=4200 [parameterfiles]=8000 [settings]=1100 [validation]=4096)
if [[ ! "${1:-}" =~ ^[0-9]+$ ]]; then
  echo "usage: tests/fuzz/run.sh SECONDS [KEEP]" >&2
  exit 2
fi
# The libraries and the targets only, asserts on.
CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DPELMAR_FUZZ=ON -DPELMAR_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
ninja -C "$top/build-fuzz" "${targets[@]/%/_fuzz}" >/dev/null

work=$(mktemp -d /tmp/pelmar-fuzz-run-XXXXXX)
for target in "${targets[@]}"; do
  corpus=${2:-$work}/$target
  mkdir -p "$corpus"
  cp "$here/corpus/$target"/* "$corpus/"
  corpus=$(cd "$corpus" && pwd)  # the targets change directory: every path is absolute
  if ! "$top/build-fuzz/tests/fuzz/${target}_fuzz" -max_total_time="$1" -max_len="${maxLength[$target]}" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$work/$target-" "$corpus" >"$work/$target.log" 2>&1; then
    tail -n 40 "$work/$target.log"
    echo "${target}_fuzz FAILED; its input: $(ls "$work/$target"-* 2>/dev/null || echo none), log $work/$target.log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
  echo "${target}_fuzz: $runs executions in $1 s, corpus $(ls "$corpus" | wc -l) files"
done
rm -rf "$work"
