#!/usr/bin/env bash
# One entry for every job on a fresh Debian 12:
#   ./run.sh test    install what is missing, build (plain and sanitized) and run every test,
#                    then each fuzz target for PELMAR_FUZZ_SECONDS (default 60) seconds
#   ./run.sh demo    install what is missing, build, and sort the sample files with pelmar-sort
#   ./run.sh bench   install what is missing and measure Pelmar against GNU sort
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev
          g++-mingw-w64-x86-64 wine wine64 fonts-wine xvfb xauth imagemagick)

setup() {
  local missing=()
  for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# build DIR [cmake options...]
build() {
  local dir=$1
  shift
  cmake -S "$top" -B "$top/$dir" -G Ninja "$@" >/dev/null
  ninja -C "$top/$dir"
}

case "${1:-}" in
  test)
    setup
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    (cd build && ctest --output-on-failure)
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DPELMAR_SANITIZE=ON
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure)
    # The engine's worker threads under ThreadSanitizer: whole sorts, the group sorts and
    # the merge on every thread count. The larger differential suites run the same paths on
    # more inputs and stay with the trees above: their plain reference takes minutes here.
    cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMAR_SANITIZE_THREAD=ON >/dev/null
    ninja -C "$top/build-tsan" engine_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$top/build-tsan/tests/engine/engine_tests" --gtest_brief=1 \
      --gtest_filter='SortRun.*:SortGroups.MatchesTheReferenceAtTheGroupBoundaries:MergeGroups.*:CountMergeCompares.*:ScanRecordRange.*'
    # pelmar.exe: its own checks, then end to end under Wine against pelmar-sort's results.
    build build-win-gui -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DPELMAR_TESTS=OFF
    (cd build-win-gui && ctest --output-on-failure)
    tests/ui/run.sh build-win-gui build/cli/pelmar-sort
    tests/fuzz/run.sh "${PELMAR_FUZZ_SECONDS:-60}"
    ;;
  demo)
    setup
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    "$top/samples/demo.sh" "$top/build/cli/pelmar-sort"
    ;;
  bench)
    setup
    bench/run.sh
    ;;
  *)
    echo "usage: ./run.sh test | demo | bench" >&2
    exit 2
    ;;
esac
