#!/usr/bin/env bash
# The engine's floors: its entry, sortrun.cpp, is the only engine file that includes
# engine/sortrun.h, and no file below it names what it defines at file scope.
# Usage: floors.sh ENGINE_FOLDER
set -u
engine=$1
status=0
lower=()
for file in "$engine"/*.cpp "$engine"/*.h; do
  case $(basename "$file") in sortrun.cpp | sortrun.h) ;; *) lower+=("$file") ;; esac
done
for file in $(grep -l '#include "engine/sortrun.h"' "${lower[@]}"); do
  echo "$file includes engine/sortrun.h"
  status=1
done
# Functions and program-wide data that sortrun.cpp defines (not static): a capitalised name
# followed by "(", "[" or " =" on a line that starts at the margin. Comments may name them.
names=$(grep -E '^[A-Za-z]' "$engine/sortrun.cpp" | grep -v -E '^(static|#)' |
        sed -n -E 's/^[^(=[]*[ *&]([A-Z][A-Za-z0-9]*)[[(= ].*/\1/p' | sort -u)
if [ -z "$names" ]; then
  echo "found nothing that $engine/sortrun.cpp defines"
  exit 1
fi
for name in $names; do
  for file in "${lower[@]}"; do
    sed 's://.*$::' "$file" | grep -q -w "$name" && { echo "$file uses $name, which sortrun.cpp defines"; status=1; }
  done
done
exit $status
