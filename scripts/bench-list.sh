#!/usr/bin/env bash
# The list commands on 100 and 1,000 rows: Mount All, Unmount All, Set "Mount All ..." and
# the right-click rules, timed inside a process that starts as Tessel does (bench/listbench.cpp),
# beside the stand-in disk service alone (open and attach per image) as the baseline. The
# cost per row should stay flat from 100 to 1,000 rows.
#   BENCH_RUNS (default 3): runs per row count; the median is shown.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/testbed.sh"
[ "$(id -u)" = 0 ] && "$here/install-deps.sh"

runs=${BENCH_RUNS:-3}

echo "== Building" >&2
testbed_build --target bench_list bench_measure virtdisk_standin mkimage keeper >/dev/null
trap testbed_stop EXIT
testbed_start_display
testbed_make_template
testbed_prefix bench-list win10

source "$here/bench-images.sh"
make_images 1000
value() { sed -n "s/^$1=//p" <<<"$2"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A result
for rows in 100 1000; do
    echo "== $rows rows ($runs runs)" >&2
    out=()
    for ((run = 0; run < runs; run++)); do
        register "$rows" 0
        line=$(wine "$BUILD_DIR/bench/listbench.exe" "$rows" | tr -d '\r')
        [ "$(value ok "$line")" = 1 ] || { echo "listbench $rows did not finish" >&2; exit 1; }
        out+=("$line")
    done
    for name in mount_ms unmount_ms startup_on_ms rules_ms; do
        result[$name,$rows]=$(for line in "${out[@]}"; do value "$name" "$line"; done | median)
    done
    attach=$(wine "$BUILD_DIR/bench/measure.exe" attach "$rows" 'C:\Bench' | tr -d '\r')
    result[attach,$rows]=$(awk -v t="$(value attach_ms "$attach")" -v n="$rows" 'BEGIN { print t / n }')
done

echo "List commands per row, $(wine --version), Windows 10 prefix, median of $runs runs"
echo
printf '%-46s %12s %12s %16s\n' "" "100 rows" "1,000 rows" "1,000 / 100"
row() {
    awk -v a="${result[$2,100]}" -v b="${result[$2,1000]}" -v label="$1" -v unit="$3" 'BEGIN {
        scale = unit == "us" ? 1000 : 1
        printf "%-46s %9.3f %s %9.3f %s %9.2fx %s\n", label, a * scale, unit, b * scale, unit, b / a,
            (b / a <= 1.5) ? "flat" : "GROWS"
    }'
}
row "Mount All Disk's (ms per row)" mount_ms ms
row "Unmount All Disk's (ms per row)" unmount_ms ms
row "Set \"Mount All at Windows starts ...\"" startup_on_ms ms
row "right-click rules, all rows selected (per row)" rules_ms us
row "baseline: the service alone, open + attach" attach ms
