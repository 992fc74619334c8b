#!/usr/bin/env bash
# One table of what kestrelDial costs on this machine:
#   - a frame: paint_face (kd_bench, median of BENCH_REPETITIONS) and paint + present against
#     a private Xvfb, at 96, 128, 256 and 1024 px;
#   - the idle clock over MEASURE_SECONDS (default 30) on a private Xvfb, at 96 px without
#     seconds, at 96 px with --seconds and at 1024 px with --seconds: CPU per hour (utime +
#     stime from /proc/PID/stat, and the scheduler's nanosecond count from
#     /proc/PID/schedstat), wake-ups per second (voluntary + involuntary context switches),
#     peak RSS (VmHWM);
#   - the time from exec to the first frame on the display (kd_first_frame, median of
#     FIRST_FRAME_RUNS runs, default 10).
# Builds with the default preset, or uses an already configured BUILD_DIR. Needs no DISPLAY:
# everything runs on a private Xvfb, and every process started here is ended on exit.
set -euo pipefail
cd "$(dirname "$0")/.."

MEASURE_SECONDS=${MEASURE_SECONDS:-30}
FIRST_FRAME_RUNS=${FIRST_FRAME_RUNS:-10}
BENCH_REPETITIONS=${BENCH_REPETITIONS:-5}
font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf

if [ -n "${BUILD_DIR:-}" ]; then
  build=$BUILD_DIR
  cmake --build "$build" --target kestrelDial kd_bench kd_first_frame >/dev/null
else
  cmake --preset default >/dev/null
  cmake --build --preset default >/dev/null
  build=build/default
fi
build=$(cd "$build" && pwd)
bin="$build/src/kestrelDial"
bench="$build/bench/kd_bench"
first_frame="$build/bench/kd_first_frame"
for program in "$bin" "$bench" "$first_frame"; do
  [ -x "$program" ] || { echo "report: $program is missing" >&2; exit 1; }
done

source tools/lib/private-display.sh
private_workdir report

# --- frame cost -------------------------------------------------------------------------
echo "report: benchmarks (${BENCH_REPETITIONS} repetitions)..." >&2
"$bench" --benchmark_filter='^BM_PaintFaceDefaults/|^BM_PaintAndPresent/' \
  --benchmark_repetitions="$BENCH_REPETITIONS" --benchmark_report_aggregates_only=true \
  --benchmark_format=csv >"$work/bench.csv" 2>"$work/bench.log" \
  || { cat "$work/bench.log" >&2; exit 1; }

# The median of one benchmark at one size, in microseconds; column 3 is real time, 4 CPU time.
median() {
  awk -F, -v name="\"$1/$2_median\"" -v column="$3" \
    '$1 == name { unit = $5; value = $column;
                  if (unit == "ns") value /= 1000; else if (unit == "ms") value *= 1000;
                  printf "%.0f", value; found = 1 }
     END { if (!found) printf "-" }' "$work/bench.csv"
}

# --- a private display ------------------------------------------------------------------
start_xvfb 1280x1024x24
mkdir -p "$work/home"
export HOME="$work/home"

# --- the idle clock ---------------------------------------------------------------------
# utime+stime ticks, scheduler nanoseconds, voluntary and involuntary switches of one process.
sample() {
  local stat rest
  stat=$(cat "/proc/$1/stat")
  rest=${stat##*) }
  read -r -a fields <<<"$rest"
  # Fields 14 and 15 of the line; the text after "comm) " starts at field 3.
  local ticks=$((fields[11] + fields[12]))
  local nanoseconds=0
  [ -r "/proc/$1/schedstat" ] && read -r nanoseconds _ <"/proc/$1/schedstat"
  local switches
  switches=$(awk '/^voluntary_ctxt_switches|^nonvoluntary_ctxt_switches/ { sum += $2 } END { print sum }' \
    "/proc/$1/status")
  echo "$ticks $nanoseconds $switches"
}

names=(quiet96 seconds96 seconds1024)
declare -A options=(
  [quiet96]="--size 96"
  [seconds96]="--size 96 --seconds"
  [seconds1024]="--size 1024 --seconds"
)
declare -A clock_pid before after peak
for name in "${names[@]}"; do
  # shellcheck disable=SC2086 # the options are words on purpose
  "$bin" --font "$font" ${options[$name]} 2>"$work/$name.err" &
  clock_pid[$name]=$!
  pids+=($!)
done
for name in "${names[@]}"; do
  for _ in $(seq 200); do grep -q "kestrelDial: running" "$work/$name.err" && break; sleep 0.1; done
  grep -q "kestrelDial: running" "$work/$name.err" \
    || { echo "report: the clock ($name) did not start:" >&2; cat "$work/$name.err" >&2; exit 1; }
done
# Past start-up and the first frames, so that only the steady state is measured.
sleep 2
echo "report: measuring the idle clocks for ${MEASURE_SECONDS} s..." >&2
for name in "${names[@]}"; do before[$name]=$(sample "${clock_pid[$name]}"); done
sleep "$MEASURE_SECONDS"
for name in "${names[@]}"; do
  kill -0 "${clock_pid[$name]}" 2>/dev/null \
    || { echo "report: the clock ($name) ended early:" >&2; cat "$work/$name.err" >&2; exit 1; }
  after[$name]=$(sample "${clock_pid[$name]}")
  peak[$name]=$(awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/${clock_pid[$name]}/status")
done
for name in "${names[@]}"; do kill "${clock_pid[$name]}"; wait "${clock_pid[$name]}" 2>/dev/null || true; done

ticks_per_second=$(getconf CLK_TCK)
# CPU seconds per hour (by ticks and by nanoseconds) and wake-ups per second for one clock.
rates() {
  awk -v before="${before[$1]}" -v after="${after[$1]}" -v seconds="$MEASURE_SECONDS" -v hz="$ticks_per_second" '
    BEGIN { split(before, b, " "); split(after, a, " ");
            printf "%.2f %.2f %.1f", (a[1] - b[1]) / hz * 3600 / seconds,
                                     (a[2] - b[2]) / 1e9 * 3600 / seconds,
                                     (a[3] - b[3]) / seconds }'
}
read -r ticks_quiet96 sched_quiet96 wakes_quiet96 <<<"$(rates quiet96)"
read -r ticks_seconds96 sched_seconds96 wakes_seconds96 <<<"$(rates seconds96)"
read -r ticks_seconds1024 sched_seconds1024 wakes_seconds1024 <<<"$(rates seconds1024)"

# --- first frame ------------------------------------------------------------------------
echo "report: first frame, ${FIRST_FRAME_RUNS} runs per size..." >&2
first_frame_median() {
  "$first_frame" "$FIRST_FRAME_RUNS" "$bin" "$@" >"$work/first_frame.out" 2>&1 \
    || { cat "$work/first_frame.out" >&2; exit 1; }
  awk '/^median:/ { printf "%.0f", $2 }' "$work/first_frame.out"
}
# The font is found as a user's clock finds it (fc-match), so its cost is part of the figure.
first96=$(first_frame_median --size 96)
first1024=$(first_frame_median --size 1024)

# --- the table --------------------------------------------------------------------------
row() { printf '%-46s %9s %9s %9s %9s\n' "$@"; }
echo
echo "kestrelDial performance ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
row "" "96 px" "128 px" "256 px" "1024 px"
row "paint_face, CPU us (median of $BENCH_REPETITIONS)" \
  "$(median BM_PaintFaceDefaults 96 4)" "$(median BM_PaintFaceDefaults 128 4)" \
  "$(median BM_PaintFaceDefaults 256 4)" "$(median BM_PaintFaceDefaults 1024 4)"
row "paint + present + round trip, wall us (Xvfb)" \
  "$(median BM_PaintAndPresent 96 3)" "$(median BM_PaintAndPresent 128 3)" \
  "$(median BM_PaintAndPresent 256 3)" "$(median BM_PaintAndPresent 1024 3)"
row "idle CPU s/hour, no seconds (stat ticks)" "$ticks_quiet96" - - -
row "idle CPU s/hour, no seconds (schedstat)" "$sched_quiet96" - - -
row "idle CPU s/hour, --seconds (stat ticks)" "$ticks_seconds96" - - "$ticks_seconds1024"
row "idle CPU s/hour, --seconds (schedstat)" "$sched_seconds96" - - "$sched_seconds1024"
row "wake-ups per second, no seconds" "$wakes_quiet96" - - -
row "wake-ups per second, --seconds" "$wakes_seconds96" - - "$wakes_seconds1024"
row "peak RSS (VmHWM) MiB, no seconds / --seconds" "${peak[quiet96]}" - - "${peak[seconds1024]}"
row "exec to first frame, ms (median of $FIRST_FRAME_RUNS)" "$first96" - - "$first1024"
echo "idle figures: ${MEASURE_SECONDS} s per clock on a private Xvfb, extrapolated to an hour; the X server's own work is not included."
