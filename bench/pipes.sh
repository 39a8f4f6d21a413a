#!/usr/bin/env bash
# pelmar-sort in pipelines, in the same run on the same files:
#   - 1 GB (10 million records of 100 bytes, 10 key bytes, CR LF) through standard input
#     into standard output, redirected from and to files and through pipes, against the
#     same file by name into a named output, as fixed records and as text lines;
#   - --merge of 8 sorted files of 125 MB against GNU sort -m of the same files (LC_ALL=C).
# Wall time and peak memory of the fastest of BENCH_REPEAT runs (default 3), and ratios.
#   bench/pipes.sh        (BENCH_DIR, default /tmp/pelmar-bench, holds ~3 GB)
set -euo pipefail
source "$(dirname "$0")/common.sh"
n=10000000 parts=8
input="$data/random-$n.dat"
[ -f "$input" ] || "$build/bench/makerecords" "$input" "$n" random
sorter="$build/cli/pelmar-sort"

cat "$input" >/dev/null
printf '%-44s %9s %8s %8s\n' run ms MiB ratio
for shape in "-s 100 -k 1,10,a,a" "-s variable -k 1,10,c,a"; do
  redirected=$(best sh -c "exec $sorter -i - -o - $shape <'$input' >'$data/out.dat' 2>/dev/null")
  cmp -s "$data/out.dat" <("$sorter" -i "$input" -o - $shape 2>/dev/null) || { echo "different bytes: $shape" >&2; exit 1; }
  piped=$(best sh -c "cat '$input' | $sorter -i - -o - $shape 2>/dev/null | cat >'$data/out.dat'")
  drained=$(best sh -c "cat '$input' | $sorter -i - -o - $shape 2>/dev/null | cat >/dev/null")
  named=$(best "$sorter" -i "$input" -o "$data/out.dat" $shape)
  printf '%-44s %9s %8s %8s\n' "< IN -i - -o - > OUT $shape" ${redirected} "$(ratio "${redirected% *}" "${named% *}") named"
  printf '%-44s %9s %8s %8s\n' "cat IN | -i - -o - | cat > OUT" ${piped} "$(ratio "${piped% *}" "${named% *}") named"
  printf '%-44s %9s %8s %8s\n' "cat IN | -i - -o - | cat > /dev/null" ${drained} "$(ratio "${drained% *}" "${named% *}") named"
  printf '%-44s %9s %8s\n' "-i IN -o OUT $shape" ${named}
done

floor=$(best sh -c "cat '$input' | cat >'$data/out.dat'")
printf '%-44s %9s %8s\n' "cat IN | cat > OUT (the pipes alone)" ${floor}

# The parts: the sorted input cut into 8 files of whole records, each in key order.
"$sorter" -i "$input" -o "$data/sorted.dat" -s 100 -k 1,10,a,a >/dev/null
names=()
for (( p = 0; p < parts; p++ )); do
  names+=("$data/part$p.dat")
  dd if="$data/sorted.dat" of="$data/part$p.dat" bs=100 skip=$(( p * n / parts )) count=$(( n / parts )) status=none
done
rm -f "$data/sorted.dat"
cat "${names[@]}" >/dev/null
merge=$(best "$sorter" -m $(printf -- '-i %s ' "${names[@]}") -o "$data/out.dat" -s 100 -k 1,10,a,a)
gnu=$(LC_ALL=C best sort -m -k1.1,1.10 "${names[@]}" -o "$data/out.dat")
printf '%-44s %9s %8s %8s\n' "-m of $parts x $(( n / parts / 10000 )) MB -s 100 -k 1,10,a,a" ${merge} "$(ratio "${merge% *}" "${gnu% *}") GNU"
printf '%-44s %9s %8s\n' "LC_ALL=C sort -m -k1.1,1.10" ${gnu}
rm -f "$data/out.dat" "${names[@]}"
