#!/usr/bin/env bash
# One table of what kestrelDial costs on this machine:
#   - a frame: paint_face (kd_bench, median of BENCH_REPETITIONS) and paint + present against
#     a private Xvfb, at 96, 128, 256 and 1024 px;
#   - the running clock beside its peer, xclock -digital -update 1, both started at the same
#     moment on one private Xvfb, for 96 px without seconds, 96 px with --seconds and 1024 px
#     with --seconds: over MEASURE_SECONDS of idling (default 60, so that a clock without
#     seconds repaints once in it, not zero or one times), wake-ups per second (voluntary +
#     involuntary context switches) and CPU per minute (the scheduler's
#     nanoseconds from /proc/PID/schedstat, and utime + stime ticks from /proc/PID/stat) of
#     each; then CLICK_PRESSES (default 12) left clicks at random phases of the second, timed
#     from the XTEST press to the first instruction of the click command (kd_click_latency),
#     median and maximum; with seconds, how long after each second boundary the new frame
#     goes out (strace on writev over PAINT_SECONDS, default 10); peak RSS (VmHWM);
#   - the time from exec to the first frame on the display (kd_first_frame, median of
#     FIRST_FRAME_RUNS runs, default 10).
# Builds with the default preset, or uses an already configured BUILD_DIR. Needs no DISPLAY:
# everything runs on a private Xvfb, and every process started here is ended on exit.
set -euo pipefail
cd "$(dirname "$0")/.."

MEASURE_SECONDS=${MEASURE_SECONDS:-60}
FIRST_FRAME_RUNS=${FIRST_FRAME_RUNS:-10}
CLICK_PRESSES=${CLICK_PRESSES:-12}
PAINT_SECONDS=${PAINT_SECONDS:-10}
BENCH_REPETITIONS=${BENCH_REPETITIONS:-5}
font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf

if [ -n "${BUILD_DIR:-}" ]; then
  build=$BUILD_DIR
  cmake --build "$build" --target kestrelDial kd_bench kd_first_frame kd_click_latency >/dev/null
else
  cmake --preset default >/dev/null
  cmake --build --preset default -- -j2 >/dev/null
  build=build/default
fi
build=$(cd "$build" && pwd)
bin="$build/src/kestrelDial"
bench="$build/bench/kd_bench"
first_frame="$build/bench/kd_first_frame"
click_latency="$build/bench/kd_click_latency"
command -v xclock >/dev/null || { echo "report: xclock (x11-apps) is missing" >&2; exit 1; }
for program in "$bin" "$bench" "$first_frame" "$click_latency"; do
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

ticks_per_second=$(getconf CLK_TCK)
# CPU milliseconds per minute (by ticks and by the scheduler's nanoseconds) and wake-ups per
# second between two samples.
rates() {
  awk -v before="$1" -v after="$2" -v seconds="$MEASURE_SECONDS" -v hz="$ticks_per_second" '
    BEGIN { split(before, b, " "); split(after, a, " ");
            printf "%.1f %.1f %.2f", (a[1] - b[1]) / hz * 1000 * 60 / seconds,
                                     (a[2] - b[2]) / 1e6 * 60 / seconds,
                                     (a[3] - b[3]) / seconds }'
}

# Each case runs the clock and the peer, xclock -digital -update 1 (one wake-up a second),
# started at the same moment on the same display; the peer sits in the top-right corner, out of
# the way of the clicks. The clock's left click writes to a FIFO, so that after the idle
# measurement kd_click_latency can time presses to the command's first instruction.
names=(quiet96 seconds96 seconds1024)
declare -A options=(
  [quiet96]="--size 96"
  [seconds96]="--size 96 --seconds"
  [seconds1024]="--size 1024 --seconds"
)
declare -A kd_rates peer_rates click_median click_max peak paint_median paint_max
for name in "${names[@]}"; do
  home="$work/home-$name"
  fifo="$work/$name.fifo"
  mkdir -p "$home/.config/kestrelDial"
  mkfifo "$fifo"
  printf 'left_click = echo x > %s\n' "$fifo" >"$home/.config/kestrelDial/config"
  # shellcheck disable=SC2086 # the options are words on purpose
  HOME="$home" "$bin" --font "$font" ${options[$name]} 2>"$work/$name.err" &
  kd=$!
  xclock -digital -update 1 -geometry -0+0 2>"$work/$name.xclock.err" &
  peer=$!
  pids+=("$kd" "$peer")
  for _ in $(seq 200); do grep -q "kestrelDial: running" "$work/$name.err" && break; sleep 0.1; done
  grep -q "kestrelDial: running" "$work/$name.err" \
    || { echo "report: the clock ($name) did not start:" >&2; cat "$work/$name.err" >&2; exit 1; }
  # Past start-up and the first frames, so that only the steady state is measured.
  sleep 2
  echo "report: $name beside xclock, idle for ${MEASURE_SECONDS} s..." >&2
  kd_before=$(sample "$kd")
  peer_before=$(sample "$peer")
  sleep "$MEASURE_SECONDS"
  for pid in "$kd" "$peer"; do
    kill -0 "$pid" 2>/dev/null \
      || { echo "report: a clock of $name ended early:" >&2; cat "$work/$name.err" "$work/$name.xclock.err" >&2; exit 1; }
  done
  kd_rates[$name]=$(rates "$kd_before" "$(sample "$kd")")
  peer_rates[$name]=$(rates "$peer_before" "$(sample "$peer")")
  peak[$name]=$(awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$kd/status")

  echo "report: $name, ${CLICK_PRESSES} clicks..." >&2
  "$click_latency" "$CLICK_PRESSES" "$fifo" >"$work/$name.clicks" 2>&1 \
    || { cat "$work/$name.clicks" "$work/$name.err" >&2; exit 1; }
  click_median[$name]=$(awk '/^median:/ { print $2 }' "$work/$name.clicks")
  click_max[$name]=$(awk '/^max:/ { print $2 }' "$work/$name.clicks")

  # When each second's frame goes out: the first writev of each wall-clock second, traced last
  # since tracing slows the clock down a little.
  if [[ $name == seconds* ]] && command -v strace >/dev/null; then
    echo "report: $name, ${PAINT_SECONDS} s of frame times..." >&2
    timeout "$PAINT_SECONDS" strace -ttt -e trace=writev -p "$kd" -o "$work/$name.writes" 2>/dev/null || true
    # The first and last seconds of the trace may be cut off, so they are left out.
    read -r "paint_median[$name]" "paint_max[$name]" < <(
      awk '/writev\(/ { split($1, t, "."); s = t[1] + 0; ms = ("0." t[2]) * 1000;
                        if (!(s in first) || ms < first[s]) first[s] = ms;
                        if (lo == "" || s < lo) lo = s; if (s > hi) hi = s }
           END { for (s in first) if (s + 0 != lo && s + 0 != hi) print first[s] }' "$work/$name.writes" \
        | sort -n \
        | awk '{ late[NR] = $1 } END { if (NR < 3) print "- -"; else printf "%.1f %.1f\n", late[int((NR + 1) / 2)], late[NR] }')
  fi
  kill "$kd" "$peer"
  wait "$kd" "$peer" 2>/dev/null || true
done

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
row "peak RSS (VmHWM) MiB, no seconds / --seconds" "${peak[quiet96]}" - - "${peak[seconds1024]}"
row "exec to first frame, ms (median of $FIRST_FRAME_RUNS)" "$first96" - - "$first1024"
echo
echo "The running clock beside xclock -digital -update 1, both started at the same moment"
echo "(idle ${MEASURE_SECONDS} s each, then ${CLICK_PRESSES} left clicks at random phases of the second)"
case_row() { printf '%-20s %7s %7s %8s %8s %7s %7s %7s %7s %7s %7s\n' "$@"; }
case_row "" "wake-ups/s" "" "CPU ms/min" "" "(by ticks)" "" "click ms" "" "frame ms" ""
case_row "" "clock" "xclock" "clock" "xclock" "clock" "xclock" "median" "max" "median" "max"
declare -A label=([quiet96]="no seconds, 96 px" [seconds96]="--seconds, 96 px" [seconds1024]="--seconds, 1024 px")
for name in "${names[@]}"; do
  read -r kd_ticks kd_sched kd_wakes <<<"${kd_rates[$name]}"
  read -r peer_ticks peer_sched peer_wakes <<<"${peer_rates[$name]}"
  case_row "${label[$name]}" "$kd_wakes" "$peer_wakes" "$kd_sched" "$peer_sched" "$kd_ticks" "$peer_ticks" \
    "${click_median[$name]}" "${click_max[$name]}" "${paint_median[$name]:--}" "${paint_max[$name]:--}"
done
echo "CPU from /proc/PID/schedstat (ticks: utime + stime), wake-ups from context switches; the X server's own work is not included."
echo "A click is timed from the XTEST press to the command's write into a FIFO (sh's first instruction)."
echo "Frame: how long after its second boundary each new second's frame was written (strace, ${PAINT_SECONDS} s)."
