#!/usr/bin/env bash
# Tessel beside a minimal Win32 window program (bench/baseline.cpp), built by the same
# toolchain and run under the same Wine in one run: executable size, start to an idle
# message loop, private memory, idle CPU, and start-up with 0, 100 and 1,000 registered
# images, all marked (attached through the stand-in disk service).
#   BENCH_RUNS (default 10): starts per figure; the median is shown.
#   BENCH_RUNS_1000 (default 3): starts with 1,000 marked images, which take long.
#   BENCH_IDLE_SECONDS (default 10): how long idle CPU is measured.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" = 0 ] && "$here/install-deps.sh"
source "$here/testbed.sh"

runs=${BENCH_RUNS:-10}
runs_1000=${BENCH_RUNS_1000:-3}
idle_seconds=${BENCH_IDLE_SECONDS:-10}

echo "== Building" >&2
testbed_build --target tessel bench_baseline bench_baseline_imports bench_measure virtdisk_standin mkimage keeper >/dev/null
trap testbed_stop EXIT
testbed_start_display
testbed_make_template
testbed_prefix bench win10

tessel=$(winepath -w "$BUILD_DIR/tessel.exe")
baseline=$(winepath -w "$BUILD_DIR/bench/baseline.exe")
imports=$(winepath -w "$BUILD_DIR/bench/baseline-imports.exe")
measure() { wine "$BUILD_DIR/bench/measure.exe" "$@" | tr -d '\r'; }
# value KEY TEXT: the value of one key=value line.
value() { sed -n "s/^$1=//p" <<<"$2"; }

user=$(wine cmd /c 'echo %USERNAME%' | tr -d '\r\n')
key="HKEY_LOCAL_MACHINE\\SOFTWARE\\{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}\\$user"
images=$WINEPREFIX/drive_c/Bench
mkdir -p "$images"
wine "$BUILD_DIR/standin/mkimage.exe" vhd-dynamic 'C:\Bench\img-0.vhd' --size 16M >/dev/null
for i in $(seq 1 999); do cp --sparse=always "$images/img-0.vhd" "$images/img-$i.vhd"; done

# register N [FLAG]: the first N images, marked ("+") unless FLAG says otherwise, and the
# update check off.
register() {
    local n=$1 flag=${2:-+} file=$WINEPREFIX/drive_c/bench.reg
    wine reg delete "$key" /f >/dev/null 2>&1 || true
    {
        printf 'REGEDIT4\r\n\r\n[%s]\r\n"CheckForUpdate"=dword:00000000\r\n' "$key"
        for ((i = 0; i < n; i++)); do printf '"C:\\\\Bench\\\\img-%d.vhd"="%s"\r\n' "$i" "$flag"; done
    } >"$file"
    wine reg import 'C:\bench.reg' >/dev/null 2>&1
}

echo "== Measuring ($runs starts per figure)" >&2
register 0
pair0=$(measure pair "$baseline" "$tessel" "$runs" 0)
pairi=$(measure pair "$baseline" "$imports" "$runs")
cpu=$(measure idle-cpu "$tessel" "$idle_seconds")
register 100 -
plain100=$(measure start "$tessel" "$runs" 100)
register 1000 -
plain1000=$(measure start "$tessel" "$runs" 1000)
register 100
pair100=$(measure pair "$baseline" "$tessel" "$runs" 100)
register 1000
marked1000=$(measure start "$tessel" "$runs_1000" 1000)
wine reg delete "$key" /f >/dev/null 2>&1 || true
attach100=$(measure attach 100 'C:\Bench')
attach1000=$(measure attach 1000 'C:\Bench')

early=0
for result in "$pair0" "$plain100" "$plain1000" "$pair100" "$marked1000"; do
    early=$((early + $(value early_idle "$result")))
done
[ "$early" = 0 ] || echo "warning: $early starts reported idle before the list was full" >&2

args=(
    -v sb="$(stat -c %s "$BUILD_DIR/bench/baseline.exe")"
    -v st="$(stat -c %s "$BUILD_DIR/tessel.exe")"
    -v b0="$(value base_idle_ms_median "$pair0")" -v t0="$(value idle_ms_median "$pair0")"
    -v b100="$(value base_idle_ms_median "$pair100")" -v t100="$(value idle_ms_median "$pair100")"
    -v t1000="$(value idle_ms_median "$marked1000")"
    -v p100="$(value idle_ms_median "$plain100")" -v p1000="$(value idle_ms_median "$plain1000")"
    -v mb="$(value base_private_kib "$pair0")" -v mt="$(value private_kib "$pair0")"
    -v bi="$(value base_idle_ms_median "$pairi")" -v ti="$(value idle_ms_median "$pairi")"
    -v mi="$(value private_kib "$pairi")"
    -v mp1000="$(value private_kib "$plain1000")" -v m1000="$(value private_kib "$marked1000")"
    -v cpu="$(value idle_cpu_ms "$cpu")" -v secs="$idle_seconds"
    -v a100="$(value attach_ms "$attach100")" -v a1000="$(value attach_ms "$attach1000")"
    -v runs="$runs" -v runs1000="$runs_1000" -v wine="$(wine --version)"
)
awk "${args[@]}" '
function verdict(ok) { return ok ? "met" : "MISSED" }
BEGIN {
    row = "%-44s %10s %12s   %-30s %s\n"
    printf "Tessel benchmark: %s, Windows 10 prefix, median of %d starts (1,000 marked: %d)\n\n", wine, runs, runs1000
    printf row, "", "baseline", "tessel", "goal", ""
    printf row, "executable size (KB)", sprintf("%.1f", sb / 1024), sprintf("%.1f", st / 1024), "< 250 KB", verdict(st < 250 * 1024)
    printf row, "start to idle loop, no images (ms)", sprintf("%.1f", b0), sprintf("%.1f", t0), sprintf("<= 1.2x baseline (%.2fx)", t0 / b0), verdict(t0 <= 1.2 * b0)
    printf row, "private memory when idle (KiB)", sprintf("%.0f", mb), sprintf("%.0f", mt), sprintf("<= baseline + 2048 (%+.0f)", mt - mb), verdict(mt - mb <= 2048)
    printf row, "start to idle, baseline with Tessel imports (ms)", sprintf("%.1f", bi), sprintf("%.1f", ti), sprintf("(%.2fx)", ti / bi), ""
    printf row, "private memory, baseline with Tessel imports", "", sprintf("%.0f", mi), sprintf("(%+.0f)", mi - mb), ""
    printf row, sprintf("CPU time over %d s idle (ms)", secs), "", sprintf("%.1f", cpu), "0: no timers", verdict(cpu < 1)
    printf row, "start to idle loop, 100 marked images (ms)", sprintf("%.1f", b100), sprintf("%.1f", t100), sprintf("<= 1.2x baseline (%.2fx)", t100 / b100), verdict(t100 <= 1.2 * b100)
    printf row, "start to idle loop, 1,000 marked images (ms)", "", sprintf("%.1f", t1000), "", ""
    e100 = t100 - t0; e1000 = t1000 - t0
    printf row, "extra cost of 100 / 1,000 marked (ms)", "", sprintf("%.0f / %.0f", e100, e1000), sprintf("1,000 <= 10x 100 (%.1fx)", e100 > 0 ? e1000 / e100 : 0), verdict(e100 > 0 && e1000 <= 10 * e100)
    u100 = p100 - t0; u1000 = p1000 - t0
    printf row, "start, 100 / 1,000 unmarked images (ms)", "", sprintf("%.0f / %.0f", p100, p1000), "", ""
    printf row, "extra cost of 100 / 1,000 unmarked (ms)", "", sprintf("%.0f / %.0f", u100, u1000), sprintf("1,000 <= 10x 100 (%.1fx)", u100 > 0 ? u1000 / u100 : 0), verdict(u100 > 0 && u1000 <= 10 * u100)
    printf row, "private memory, 1,000 unmarked / marked (KiB)", "", sprintf("%.0f / %.0f", mp1000, m1000), "", ""
    printf "\nWhere the time goes (per image figures are extra cost divided by the count)\n"
    printf "  %-66s %8.1f ms\n", "Wine process creation, system DLLs, one window (the baseline)", b0
    printf "  %-66s %8.1f ms\n", "loading the DLLs Tessel imports (comctl32 v6, comdlg32, shell32, ...)", ti - bi
    printf "  %-66s %8.1f ms\n", "Tessel fixed start-up beyond the baseline with its imports", (t0 - b0) - (ti - bi)
    printf "  %-66s %8.0f / %.0f KiB\n", "private memory of the imported DLLs / of Tessel beyond them", mi - mb, mt - mi
    printf "  %-66s %8.2f / %.2f ms\n", "Tessel alone per image, 100 / 1,000 (unmarked: registry, row)", u100 / 100, u1000 / 1000
    printf "  %-66s %8.2f / %.2f ms\n", "per marked image in Tessel, 100 / 1,000 (open, type query, attach)", (t100 - p100) / 100, (t1000 - p1000) / 1000
    printf "  %-66s %8.2f / %.2f ms\n", "the stand-in service alone, 100 / 1,000 (open + attach)", a100 / 100, a1000 / 1000
}'
