#!/usr/bin/env bash
# Sorts the sample files with pelmar-sort and shows the results.
#   samples/demo.sh PATH-TO-pelmar-sort
set -euo pipefail
sort_program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
samples=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$samples/people.dat" "$samples/cities.txt" "$work/"
cd "$work"

# people.dat: 32-byte records: name (16 bytes), balance (signed 32-bit), id (unsigned
# 32-bit), score (64-bit real), the numbers least significant byte first.
show_people() {
  local file=$1 count
  count=$(( $(stat -c %s "$file") / 32 ))
  printf '  %-16s %8s %4s %8s\n' name balance id score
  for (( i = 0; i < count; i++ )); do
    local at=$(( i * 32 ))
    printf '  %-16s %8d %4u %8.3f\n' "$(dd if="$file" bs=1 skip=$at count=16 status=none)" \
      "$(od -A n -t d4 -j $(( at + 16 )) -N 4 "$file")" \
      "$(od -A n -t u4 -j $(( at + 20 )) -N 4 "$file")" \
      "$(od -A n -t f8 -j $(( at + 24 )) -N 8 "$file")"
  done
}

run() {
  echo "\$ pelmar-sort $*"
  "$sort_program" "$@"
}

echo "== people.dat as shipped"
show_people people.dat
echo
echo "== By balance, largest first, then by name without regard to case"
run -i people.dat -o by-balance.dat -s 32 -k 17,4,i,d -k 1,16,c,a -t 1=Balance -t 2=Name --stats
show_people by-balance.dat
echo
echo "== The statistics report of that run"
tr -d '\r' < SortStat.txt
echo
echo "== By score, lowest first"
run -i people.dat -o by-score.dat -s 32 -k 25,8,f,a
show_people by-score.dat
echo
echo "== cities.txt (text lines): by country, then by city"
run -i cities.txt -o by-country.txt -s variable -k 1,2 -k 4,12
tr -d '\r' < by-country.txt
