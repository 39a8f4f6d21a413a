#!/usr/bin/env bash
# pelmar-sort's wider keys against GNU sort and cp, in the same run on the same files:
#   - CSV lines of about 60 bytes by their third field as a number (--csv -k f3,12,n)
#     against LC_ALL=C sort -s -t, -k3,3n, and the same key at a byte position (-k 30,12,n);
#   - 100-byte records by a 6-byte packed decimal at byte 41 against the same bytes read
#     as a 6-byte unsigned integer (u).
# Wall time and peak memory of the fastest of BENCH_REPEAT runs (default 3), and ratios.
#   BENCH_RECORDS=1000000 bench/keys.sh     (default 10 million; BENCH_DIR, default /tmp/pelmar-bench)
set -euo pipefail
source "$(dirname "$0")/common.sh"
n=${BENCH_RECORDS:-10000000}
csv="$data/keys-$n.csv" packed="$data/packed-$n.dat"
[ -f "$csv" ] || "$build/bench/makerecords" "$csv" "$n" csv
[ -f "$packed" ] || "$build/bench/makerecords" "$packed" "$n" packed
pelmar=("$build/cli/pelmar-sort" -o "$data/out.dat")

cat "$csv" "$packed" >/dev/null
printf '%-34s %9s %8s %8s\n' run ms MiB ratio
field=$(best "${pelmar[@]}" -i "$csv" -s variable --delimiter lf --csv -k f3,12,n)
bytes=$(best "${pelmar[@]}" -i "$csv" -s variable --delimiter lf -k 30,12,n)
gnu=$(LC_ALL=C best sort -s -t, -k3,3n "$csv" -o "$data/out.dat")
copy=$(best cp "$csv" "$data/out.dat")
printf '%-34s %9s %8s %8s\n' "pelmar-sort --csv -k f3,12,n" ${field} "$(ratio "${field% *}" "${gnu% *}") GNU"
printf '%-34s %9s %8s %8s\n' "pelmar-sort -k 30,12,n (bytes)" ${bytes} "$(ratio "${field#* }" "${bytes#* }") mem"
printf '%-34s %9s %8s\n' "LC_ALL=C sort -s -t, -k3,3n" ${gnu}
printf '%-34s %9s %8s %8s\n' "cp" ${copy} "$(ratio "${field% *}" "${copy% *}") cp"
packedRun=$(best "${pelmar[@]}" -i "$packed" -s 100 -k 41,6,pd)
unsignedRun=$(best "${pelmar[@]}" -i "$packed" -s 100 -k 41,6,u)
printf '%-34s %9s %8s %8s\n' "pelmar-sort -k 41,6,pd" ${packedRun} "$(ratio "${packedRun% *}" "${unsignedRun% *}") u"
printf '%-34s %9s %8s\n' "pelmar-sort -k 41,6,u" ${unsignedRun}
rm -f "$data/out.dat"
