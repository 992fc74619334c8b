# shellcheck shell=bash
# Sourced by the scripts that run the clock on a display of their own.
#
#   private_workdir NAME   makes $work (removed on exit) and ends every pid in $pids on exit
#   start_xvfb SCREEN      starts Xvfb on a free display (WIDTHxHEIGHTxDEPTH) and exports DISPLAY

private_workdir() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/kestrelDial-$1-XXXXXX")
  pids=()
  trap _private_cleanup EXIT
  trap 'exit 130' INT TERM
  unset DISPLAY
}

_private_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

start_xvfb() {
  # Xvfb picks a free display itself and writes its number once it is ready.
  Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "$1" 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  if [ ! -s "$work/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  DISPLAY=":$(head -n1 "$work/display")"
  export DISPLAY
}
