#!/bin/sh
# Runs engine_tests.exe's InputCutShortFromOutside test under Wine and, when the run
# waits, cuts its mapped input short from outside Wine (which neither Wine nor Windows
# allows from inside while the input is mapped).
#   cut-from-outside.sh WINE ENGINE_TESTS_EXE
set -eu
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
PELMAR_OUTSIDE_CUT="Z:$folder" "$1" "$2" --gtest_filter='WindowsPlatform.InputCutShortFromOutside*' \
  >"$folder/log" 2>&1 &
run=$!
waited=0
while [ ! -e "$folder/in.dat.ready" ] && [ $waited -lt 600 ]; do
  sleep 0.1
  waited=$((waited + 1))
done
truncate -s 100 "$folder/in.dat"
status=0
wait $run || status=$?
cat "$folder/log"
[ $status -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' "$folder/log"
