#!/usr/bin/env bash
# One entry for every job on a fresh Debian 12:
#   ./run.sh start   install what is missing, build, and open Pelmar: pelmar.exe under Wine
#                    on this display, or without one the pelmar-sort demo on the samples
#   ./run.sh test    install what is missing, build (plain and sanitized) and run every test;
#                    cross-build the Windows programs and suites and run them under Wine;
#                    then each fuzz target for PELMAR_FUZZ_SECONDS (default 60) seconds;
#                    then the package step below
#   ./run.sh fuzz SECONDS [KEEP]  install what is missing and run each fuzz target SECONDS
#   ./run.sh package install what is missing, build the release into dist/ (the Windows
#                    zip, the Debian package of pelmar-sort, SHA256SUMS) and check it
#   ./run.sh demo    install what is missing, build, and sort the sample files with pelmar-sort
#   ./run.sh bench   install what is missing and measure Pelmar against GNU sort
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev
          g++-mingw-w64-x86-64 wine wine64 fonts-wine xvfb xauth imagemagick
          dpkg-dev file groff-base zip unzip
          clang-14 libclang-rt-14-dev llvm-14)

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

# The Windows build's GoogleTest: Debian's source built once with the posix-thread MinGW
# compilers (the default ones lack std::mutex) into build-win-gtest.
build_win_gtest() {
  local prefix=$top/build-win-gtest
  [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  cmake -S /usr/src/googletest -B "$prefix/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  ninja -C "$prefix/build" install >/dev/null
}

# Runs the Windows build's tests under Wine, inside an X server of its own (xvfb-run), in
# a fresh Wine prefix: Wine keeps state there, such as the open-file dialog's last folder.
wine_tests() {
  WINEPREFIX=$(mktemp -d)
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
  wineboot -i >/dev/null 2>&1 || { echo "wineboot failed in $WINEPREFIX" >&2; exit 1; }
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  wineserver -w     # wineboot returns before the prefix is ready: wait for its server to end
  wineserver -p 60  # then one server for all the test processes
  # Without a window manager, every hide or close of a managed window waits ~2 s. This
  # first program also starts Wine's services here, where they do not hold the output
  # of a test open (which would keep CTest waiting).
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  cd "$top/build-win"
  ctest --output-on-failure --timeout 300  # a test that waits on Wine fails instead of hanging CI
}

# fuzz SECONDS [KEEP]: each fuzz target, built with clang under AddressSanitizer and UBSan
# in build-fuzz/ (the libraries and the targets only, asserts on), runs SECONDS on a copy
# of its seed corpus (with KEEP, the grown corpora stay in KEEP/<target>). Fails on the
# first target that crashes or breaks an invariant; its input is kept and named. (To
# measure what the seeds reach, configure with -DPELMAR_FUZZ_COVERAGE=ON as well.)
fuzz() {
  local targets=(sortrun keys parameterfiles settings validation) work corpus runs target
  declare -A maxLength=([sortrun]=4200 [keys]=600 [parameterfiles]=8000 [settings]=1100 [validation]=4096)
  CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DPELMAR_FUZZ=ON -DPELMAR_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
  ninja -C "$top/build-fuzz" "${targets[@]/%/_fuzz}" >/dev/null
  work=$(mktemp -d /tmp/pelmar-fuzz-run-XXXXXX)
  for target in "${targets[@]}"; do
    corpus=${2:-$work}/$target
    mkdir -p "$corpus"
    cp "$top/tests/fuzz/corpus/$target"/* "$corpus/"
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
}

case "${1:-}" in
  test)
    setup
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMAR_LARGE_TESTS=ON
    (cd build && ctest --output-on-failure -j 2)
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DPELMAR_SANITIZE=ON -DPELMAR_LARGE_TESTS=ON
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j 2)
    # The engine's threads under ThreadSanitizer: whole sorts (the run differential, the
    # fault loop, the external path's run-file and output writers, merges of inputs) and the
    # scan of ranges on every thread count.
    cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMAR_SANITIZE_THREAD=ON >/dev/null
    ninja -C "$top/build-tsan" engine_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$top/build-tsan/tests/engine/engine_tests" --gtest_brief=1 \
      --gtest_filter='SortRun.*:SortRunStreams.*:ExternalSort*:ScanRecordRange.*'
    # The Windows programs (pelmar.exe, pelmar-sort.exe) and every suite, cross-built once:
    # the suites under Wine, then pelmar.exe end to end against pelmar-sort's results.
    build_win_gtest
    build build-win -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DGTest_DIR="$top/build-win-gtest/lib/cmake/GTest"
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" wine-tests
    tests/ui/run.sh build-win build/cli/pelmar-sort
    fuzz "${PELMAR_FUZZ_SECONDS:-60}"
    packaging/package.sh
    ;;
  fuzz)  # ./run.sh fuzz SECONDS [KEEP]: the fuzz targets alone
    [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "usage: ./run.sh fuzz SECONDS [KEEP]" >&2; exit 2; }
    setup
    fuzz "$2" "${3:-}"
    ;;
  package)
    setup
    packaging/package.sh
    ;;
  wine-tests)  # run by test, inside xvfb-run
    wine_tests
    ;;
  start)
    setup
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    if [ -z "${DISPLAY:-}" ]; then
      echo "No display here for the Windows program: running the pelmar-sort demo on the samples instead."
      "$top/samples/demo.sh" "$top/build/cli/pelmar-sort"
      exit 0
    fi
    build build-win-programs -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMAR_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake"
    # Pelmar keeps its settings and saved sets in the folder it starts in: out/pelmar,
    # with the samples to sort.
    mkdir -p "$top/out/pelmar"
    cp -n "$top/samples/people.dat" "$top/samples/cities.txt" "$top/out/pelmar/"
    cd "$top/out/pelmar"
    WINEDEBUG=-all wine "$top/build-win-programs/app/pelmar.exe"
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
    echo "usage: ./run.sh start | test | fuzz SECONDS [KEEP] | package | demo | bench" >&2
    exit 2
    ;;
esac
