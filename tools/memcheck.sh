#!/usr/bin/env bash
# Runs the clock with --seconds under valgrind's memcheck on a private Xvfb for
# MEMCHECK_SECONDS (default 60): it is made to reload three times by SIGHUP and twice by a
# middle click along the way, then its window is destroyed from outside, which ends the clock
# with status 0. Prints valgrind's summary; exits non-zero on any valgrind error (invalid
# access, uninitialised value, definite or possible leak), or when the clock does not end
# with status 0 or did not reload.
# Builds with the default preset, or uses an already configured BUILD_DIR. Needs no DISPLAY.
set -euo pipefail
cd "$(dirname "$0")/.."

MEMCHECK_SECONDS=${MEMCHECK_SECONDS:-60}

if [ -n "${BUILD_DIR:-}" ]; then
  build=$BUILD_DIR
else
  cmake --preset default >/dev/null
  build=build/default
fi
cmake --build "$build" --target kestrelDial >/dev/null
bin="$(cd "$build" && pwd)/src/kestrelDial"
for tool in valgrind Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "memcheck: $tool is not installed (tools/setup.sh installs it)" >&2; exit 1; }
done

source tools/lib/private-display.sh
private_workdir memcheck

start_xvfb 640x480x24
# No configuration file yet: the first reload writes one, so the writer is checked too.
mkdir -p "$work/home"
export HOME="$work/home"

echo "memcheck: running the clock under valgrind for ${MEMCHECK_SECONDS} s on $DISPLAY" >&2
valgrind --leak-check=full --error-exitcode=99 --log-file="$work/valgrind.log" \
  "$bin" --seconds 2>"$work/clock.err" &
clock=$!
pids+=("$clock")

for _ in $(seq 600); do grep -q "kestrelDial: running" "$work/clock.err" && break; sleep 0.1; done
grep -q "kestrelDial: running" "$work/clock.err" \
  || { echo "memcheck: the clock did not start" >&2; cat "$work/clock.err" "$work/valgrind.log" >&2; exit 1; }
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name '^kestrelDial$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "memcheck: no window named kestrelDial" >&2; exit 1; }

# Six equal steps: SIGHUP, middle click, SIGHUP, middle click, SIGHUP, then the end.
step=$(awk -v total="$MEMCHECK_SECONDS" 'BEGIN { printf "%.1f", total / 6 }')
for action in hangup click hangup click hangup wait; do
  sleep "$step"
  case $action in
    hangup) kill -HUP "$clock" ;;
    click) xdotool mousemove --window "$window" 48 48 click 2 ;;
  esac
done

# Destroying the window from outside ends the clock normally (status 0).
xdotool windowclose "$window"
status=""
for _ in $(seq 600); do
  if ! kill -0 "$clock" 2>/dev/null; then
    status=0
    wait "$clock" || status=$?
    break
  fi
  sleep 0.1
done
[ -n "$status" ] || { echo "memcheck: the clock did not end after its window was destroyed" >&2; exit 1; }

echo "== valgrind summary" >&2
grep -E "in use at exit|total heap usage|definitely lost|indirectly lost|possibly lost|still reachable|suppressed|ERROR SUMMARY" \
  "$work/valgrind.log" | sed 's/^==[0-9]*== *//' >&2
echo "== the clock said" >&2
cat "$work/clock.err" >&2

hangups=$(grep -c "kestrelDial: config reloaded (SIGHUP)" "$work/clock.err" || true)
clicks=$(grep -cx "kestrelDial: config reloaded" "$work/clock.err" || true)
if [ "$status" -eq 99 ]; then
  echo "memcheck: valgrind found errors:" >&2
  cat "$work/valgrind.log" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "memcheck: the clock ended with status $status" >&2
  cat "$work/valgrind.log" >&2
  exit 1
fi
if [ "$hangups" -lt 1 ] || [ "$clicks" -lt 1 ]; then
  echo "memcheck: the clock did not reload ($hangups by SIGHUP, $clicks by middle click)" >&2
  exit 1
fi
echo "memcheck: no valgrind errors; $hangups reloads by SIGHUP, $clicks by middle click; exit status 0" >&2
