#!/usr/bin/env bash
# Sets up what running needs, builds kestrelDial (in build/run, without the tests) and runs it
# with the given options.
# With DISPLAY set it runs on that display. Without one (a headless machine) it starts a
# private Xvfb with fluxbox, docks the clock into fluxbox's slit, saves a screenshot as a PNG
# and keeps running until Ctrl-C (or for KD_RUN_SECONDS seconds when that is set).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh run
# The screenshot tool (libpng) only matters on the private display.
targets=(kestrelDial)
tools=OFF
if [ -z "${DISPLAY:-}" ]; then
  targets+=(kestrelDial-screenshot)
  tools=ON
fi
cmake --preset run -DKD_BUILD_TOOLS="$tools" >/dev/null
cmake --build --preset run --target "${targets[@]}" >/dev/null
bin="$PWD/build/run/src/kestrelDial"

if [ -n "${DISPLAY:-}" ]; then
  exec "$bin" "$@"
fi

source tools/lib/private-display.sh
private_workdir run
start_xvfb 640x480x24

# The slit in the middle of the right edge, where fluxbox's toolbar does not cover it.
mkdir -p "$work/home/.fluxbox"
printf 'session.screen0.slit.placement: RightCenter\n' >"$work/home/.fluxbox/init"
# Debian's default style asks fbsetbg for a wallpaper, and on a machine without a wallpaper
# setter fbsetbg puts up an error dialog over the desktop. A plain colour instead (no pixmap)
# makes fbsetbg hand over to fluxbox's own fbsetroot, which every fluxbox has.
printf 'background: solid\nbackground.color: #3a4654\nbackground.pixmap:\n' >"$work/home/.fluxbox/overlay"
HOME="$work/home" fluxbox >"$work/fluxbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  xwininfo -root -tree 2>/dev/null | grep -q '"fluxbox"' && break
  sleep 0.1
done

"$bin" "$@" &
clock=$!
pids+=("$clock")

# Give the clock time to map, dock and paint its first frame.
for _ in $(seq 50); do
  xwininfo -name kestrelDial >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
shot="$PWD/kestrelDial-screenshot.png"
"$PWD/build/run/tools/kestrelDial-screenshot" "$shot"
echo "run: kestrelDial is running in fluxbox's slit on the private display $DISPLAY (${SECONDS}s after the start of this script)" >&2
echo "run: screenshot saved to $shot" >&2

if [ -n "${KD_RUN_SECONDS:-}" ]; then
  sleep "$KD_RUN_SECONDS"
  exit 0
fi
echo "run: press Ctrl-C to stop" >&2
wait "$clock"
