#!/usr/bin/env bash
# Tessel beside a minimal Win32 window program (bench/baseline.cpp), built by the same
# toolchain and run under the same Wine in one run: executable size, start to an idle
# message loop, private memory, idle CPU, and start-up with 100, 1,000 and 10,000 registered
# images, half of them marked (attached through the stand-in disk service), with the cost per
# image split into the registry's, the list control's, the disk service's and Tessel's own.
#   BENCH_RUNS (default 10): starts per figure; the median is shown.
#   BENCH_RUNS_1000 (default 5), BENCH_RUNS_10000 (default 3): starts with that many images.
#   BENCH_IDLE_SECONDS (default 10): how long idle CPU is measured.
#   BENCH_WAIT_SECONDS (default 180): how long the message loop is watched with a row waiting
#   for its drive (wake-ups per minute in the first 2 minutes and after).
#   BENCH_EARLIER_EXE: an earlier tessel.exe (Windows or unix path), timed beside this one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/testbed.sh"
[ "$(id -u)" = 0 ] && "$here/install-deps.sh"

runs=${BENCH_RUNS:-10}
runs_1000=${BENCH_RUNS_1000:-5}
runs_10000=${BENCH_RUNS_10000:-3}
idle_seconds=${BENCH_IDLE_SECONDS:-10}
wait_seconds=${BENCH_WAIT_SECONDS:-180}
earlier=${BENCH_EARLIER_EXE:-}

echo "== Building" >&2
testbed_build --target tessel bench_baseline bench_baseline_imports bench_measure virtdisk_standin mkimage standinctl keeper >/dev/null
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

source "$here/bench-images.sh"
make_images 10000

# What the figures were made on: a shared machine's load moves them.
machine="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

echo "== Measuring ($runs starts per figure)" >&2
register 0 2
pair0=$(measure pair "$baseline" "$tessel" "$runs" 0)
pairi=$(measure pair "$baseline" "$imports" "$runs")
cpu=$(measure idle-cpu "$tessel" "$idle_seconds")
args=()
for n in 100 1000 10000; do
    case $n in 100) r=$runs ;; 1000) r=$runs_1000 ;; *) r=$runs_10000 ;; esac
    echo "== $n images ($r starts)" >&2
    register $n 2
    started=$(measure start "$tessel" "$r" $n)
    shares=$(measure load $n 'C:\Bench' "$r")
    [ "$(value early_idle "$started")" = 0 ] || echo "warning: $n images: idle before the list was full" >&2
    args+=(-v "t$n=$(value idle_ms_median "$started")" -v "m$n=$(value private_kib "$started")"
        -v "load$n=$(value load_ms "$shares")" -v "reg$n=$(value registry_ms "$shares")"
        -v "rows$n=$(value rows_ms "$shares")" -v "srows$n=$(value rows_sized_ms "$shares")"
        -v "svc$n=$(value service_ms "$shares")")
done

# Start-up beside an earlier build's, in turn, with no images and with 1,000 half marked.
if [ -n "$earlier" ]; then
    echo "== Start-up beside $earlier" >&2
    [ -f "$earlier" ] && earlier=$(winepath -w "$earlier")
    register 0 2
    before0=$(measure pair "$earlier" "$tessel" "$runs" 0)
    register 1000 2
    before1000=$(measure pair "$earlier" "$tessel" "$runs_1000" 1000)
    args+=(-v e0="$(value base_idle_ms_median "$before0")" -v n0="$(value idle_ms_median "$before0")"
        -v e1000="$(value base_idle_ms_median "$before1000")" -v n1000="$(value idle_ms_median "$before1000")")
fi

# The message loop run in the measuring process on Tessel's start-up: with everything mounted
# (nothing pending), with one marked image on a drive that is not there, and with one whose
# server cannot be reached (the stand-in fails its opens with 53, as Windows does for an
# unreachable share; under Wine a share path fails at once with 3).
echo "== The message loop, nothing pending / waiting for a drive / network" >&2
register 100 2
idle=$(measure loop "$idle_seconds")
calm=$(measure loop 20 20 probe)
missing=$(for l in q r s t u v w x y; do [ -e "$WINEPREFIX/dosdevices/$l:" ] || { echo "${l^^}"; break; }; done)
register_marked "$missing:\\Bench\\img-0.vhd"
waiting=$(measure loop "$wait_seconds" 120)
register_marked 'C:\Bench\img-1.vhd'
wine "$BUILD_DIR/standin/standinctl.exe" fault open 'C:\Bench\img-1.vhd' 53 1000000 >/dev/null
network=$(measure loop 60 60 probe)
args+=(-v iw="$(value wakeups_first "$idle")" -v icpu="$(value cpu_ms "$idle")" -v itimers="$(value timers "$idle")"
    -v istall="$(value longest_stall_ms "$calm")"
    -v wfirst="$(value wakeups_first_per_min "$waiting")" -v wafter="$(value wakeups_after_per_min "$waiting")"
    -v wcpu="$(value cpu_ms "$waiting")" -v waitsecs="$wait_seconds"
    -v nstall="$(value longest_stall_ms "$network")" -v nw="$(value wakeups_first_per_min "$network")")

wine reg delete "$key" /f >/dev/null 2>&1 || true
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

args+=(
    -v sb="$(stat -c %s "$BUILD_DIR/bench/baseline.exe")"
    -v st="$(stat -c %s "$BUILD_DIR/tessel.exe")"
    -v b0="$(value base_idle_ms_median "$pair0")" -v t0="$(value idle_ms_median "$pair0")"
    -v mb="$(value base_private_kib "$pair0")" -v mt="$(value private_kib "$pair0")"
    -v bi="$(value base_idle_ms_median "$pairi")" -v ti="$(value idle_ms_median "$pairi")"
    -v mi="$(value private_kib "$pairi")"
    -v cpu="$(value idle_cpu_ms "$cpu")" -v secs="$idle_seconds"
    -v runs="$runs" -v runs1000="$runs_1000" -v runs10000="$runs_10000" -v wine="$(wine --version)"
    -v machine="$machine" -v load_before="$load_before" -v load_after="$load_after"
)
awk "${args[@]}" '
function verdict(ok) { return ok ? "met" : "MISSED" }
function ms(x) { return sprintf("%.2f", x) }
BEGIN {
    row = "%-48s %10s %12s   %-30s %s\n"
    printf "Tessel benchmark: %s, Windows 10 prefix, median of %d starts (1,000 images: %d; 10,000: %d)\n", wine, runs, runs1000, runs10000
    printf "Machine: %s; load average (1, 5, 15 min) %s at the start, %s at the end\n\n", machine, load_before, load_after
    printf row, "", "baseline", "tessel", "goal", ""
    printf row, "executable size (KB)", sprintf("%.1f", sb / 1024), sprintf("%.1f", st / 1024), "< 250 KB", verdict(st < 250 * 1024)
    printf row, "start to idle loop, no images (ms)", sprintf("%.1f", b0), sprintf("%.1f", t0), sprintf("<= 1.2x baseline (%.2fx)", t0 / b0), verdict(t0 <= 1.2 * b0)
    printf row, "private memory when idle (KiB)", sprintf("%.0f", mb), sprintf("%.0f", mt), sprintf("<= baseline + 2048 (%+.0f)", mt - mb), verdict(mt - mb <= 2048)
    printf row, "start to idle, baseline with Tessel imports (ms)", sprintf("%.1f", bi), sprintf("%.1f", ti), sprintf("(%.2fx)", ti / bi), ""
    printf row, "private memory, baseline with Tessel imports", "", sprintf("%.0f", mi), sprintf("(%+.0f)", mi - mb), ""
    printf row, sprintf("CPU time over %d s idle (ms)", secs), "", sprintf("%.1f", cpu), "0: no timers", verdict(cpu < 1)
    printf row, sprintf("loop wake-ups / CPU / timers, %d s all mounted", secs), "", sprintf("%d / %.1f ms / %d", iw, icpu, itimers), "0 / 0 / 0: nothing pending", verdict(iw == 0 && icpu < 1 && itimers == 0)
    printf row, "wake-ups a minute, one waiting for its drive", "", sprintf("%.1f / %.1f", wfirst, wafter), sprintf("first 2 min / next %d s", waitsecs - 120), ""
    printf row, "longest loop stall: all mounted / network (ms)", "", sprintf("%.1f / %.1f", istall, nstall), sprintf("(%.1f wake-ups a minute)", nw), ""
    if (e0 != "") {
        printf row, "start to idle, no images: earlier / this (ms)", sprintf("%.1f", e0), sprintf("%.1f", n0), sprintf("(%.2fx)", n0 / e0), ""
        printf row, "the same, 1,000 images half marked (ms)", sprintf("%.1f", e1000), sprintf("%.1f", n1000), sprintf("(%.2fx)", n1000 / e1000), ""
    }
    split("100 1000 10000", counts, " ")
    t[100] = t100; t[1000] = t1000; t[10000] = t10000
    m[100] = m100; m[1000] = m1000; m[10000] = m10000
    ld[100] = load100; ld[1000] = load1000; ld[10000] = load10000
    reg[100] = reg100; reg[1000] = reg1000; reg[10000] = reg10000
    rw[100] = rows100; rw[1000] = rows1000; rw[10000] = rows10000
    srw[100] = srows100; srw[1000] = srows1000; srw[10000] = srows10000
    sv[100] = svc100; sv[1000] = svc1000; sv[10000] = svc10000
    for (k = 1; k <= 3; k++) {
        n = counts[k]; per[n] = (t[n] - t0) / n
        printf row, sprintf("start to idle, %d images, half marked (ms)", n), sprintf("%.1f", b0), sprintf("%.1f", t[n]), "", ""
    }
    printf row, "extra start-up per image, 100 / 1,000 / 10,000 (ms)", "", ms(per[100]) " / " ms(per[1000]) " / " ms(per[10000]), "", ""
    # At 100 images the list and the stand-in are still warming up; flat is from 1,000 on.
    printf row, "the load alone per image, 100 / 1,000 / 10,000 (ms)", "", ms(ld[100] / 100) " / " ms(ld[1000] / 1000) " / " ms(ld[10000] / 10000), sprintf("flat: 10,000 <= 1.25x 1,000 (%.2fx)", (ld[10000] / 10000) / (ld[1000] / 1000)), verdict(ld[10000] / 10000 <= 1.25 * ld[1000] / 1000)
    printf row, "private memory per image, 100 / 1,000 / 10,000 (KiB)", "", sprintf("%.1f / %.1f / %.1f", (m[100] - mt) / 100, (m[1000] - mt) / 1000, (m[10000] - mt) / 10000), "", ""
    printf "\nWhere the time goes\n"
    printf "  %-66s %8.1f ms\n", "Wine process creation, system DLLs, one window (the baseline)", b0
    printf "  %-66s %8.1f ms\n", "loading the DLLs Tessel imports (comctl32 v6, comdlg32, shell32, ...)", ti - bi
    printf "  %-66s %8.1f ms\n", "Tessel fixed start-up beyond the baseline with its imports", (t0 - b0) - (ti - bi)
    printf "  %-66s %8.0f / %.0f KiB\n", "private memory of the imported DLLs / of Tessel beyond them", mi - mb, mt - mi
    printf "\nPer registered image, half of them marked (ms): the load repeated in one process beside\n"
    printf "each of its shares done alone; Tessel itself is what the shares leave of the load\n"
    printf "  %-34s %10s %10s %10s\n", "", "100", "1,000", "10,000"
    printf "  %-34s %10s %10s %10s\n", "the load", ms(ld[100] / 100), ms(ld[1000] / 1000), ms(ld[10000] / 10000)
    printf "  %-34s %10s %10s %10s\n", "  registry (enumerating the list)", ms(reg[100] / 100), ms(reg[1000] / 1000), ms(reg[10000] / 10000)
    printf "  %-34s %10s %10s %10s\n", "  list control (the row operations)", ms(rw[100] / 100), ms(rw[1000] / 1000), ms(rw[10000] / 10000)
    printf "  %-34s %10s %10s %10s\n", "    the same, list sized first", ms(srw[100] / 100), ms(srw[1000] / 1000), ms(srw[10000] / 10000)
    printf "  %-34s %10s %10s %10s\n", "  disk service (open, type, attach)", ms(sv[100] / 100), ms(sv[1000] / 1000), ms(sv[10000] / 10000)
    for (k = 1; k <= 3; k++) { n = counts[k]; own[n] = (ld[n] - reg[n] - rw[n] - sv[n]) / n }
    printf "  %-34s %10s %10s %10s\n", "  Tessel itself", ms(own[100]), ms(own[1000]), ms(own[10000])
}'
