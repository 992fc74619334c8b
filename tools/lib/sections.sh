# shellcheck shell=bash
# Sourced by tools/check.sh: runs the check's sections, one after another or in lanes beside
# each other, and keeps each section's wall-clock time and CPU time (user + system of every
# process that it waited for) for the table at the end.
#
#   sections_init DIR          keeps the logs and the times in DIR
#   section NAME COMMAND...    runs COMMAND (in a subshell, errexit on) as the section NAME
#   lane_start NAME COMMAND... starts COMMAND, which may run sections, beside what follows; its
#                              output goes to DIR/NAME.log
#   lane_wait NAME             waits for the lane, then shows its output; fails as it failed
#   sections_summary           prints every section's times and the check's totals

sections_dir=""
declare -A lane_pids=()

sections_init() {
  sections_dir="$1"
  rm -rf "$sections_dir" && mkdir -p "$sections_dir"
  : >"$sections_dir/times"
  trap _sections_stop_lanes EXIT
  trap 'exit 130' INT TERM
}

# The output of bash's `times`, in the current shell (a pipe would time a fresh subshell):
# the second line holds the user and system time of the waited-for children, "1m2.345s 0m0.5s".
_children_cpu() {
  times >"$1"
  awk 'NR == 2 { for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); cpu += t[1] * 60 + t[2] } }
       END { printf "%.1f", cpu }' "$1"
}

# Runs in the section's own subshell, so the children it counts are the section's.
_section_body() {
  local cpu_file="$1"
  shift
  "$@"
  _children_cpu "$cpu_file.raw" >"$cpu_file"
}

section() {
  local name="$1" start=$SECONDS status=0 file
  shift
  file="$sections_dir/${name//[^A-Za-z0-9]/-}"
  echo "== $name (${SECONDS}s)" >&2
  # In the background and waited for, so that errexit holds inside (it would not on the left
  # of ||).
  (_section_body "$file.cpu" "$@") &
  wait $! || status=$?
  if ((status != 0)); then
    echo "check: $name failed (status $status)" >&2
    exit "$status"
  fi
  printf '%s\t%s\t%s\n' "$name" "$((SECONDS - start))" "$(cat "$file.cpu")" >>"$sections_dir/times"
}

lane_start() {
  local name="$1"
  shift
  echo "== $name: started beside what follows (${SECONDS}s); its output comes when it ends" >&2
  # A process group of its own, so that a failure elsewhere can stop the whole lane; no
  # terminal input, which a background group may not read.
  set -m
  (
    set +m
    "$@"
  ) </dev/null >"$sections_dir/$name.log" 2>&1 &
  lane_pids[$name]=$!
  set +m
}

lane_wait() {
  local name="$1" status=0
  wait "${lane_pids[$name]}" || status=$?
  unset "lane_pids[$name]"
  echo "== $name: ended (${SECONDS}s); its output:" >&2
  cat "$sections_dir/$name.log"
  if ((status != 0)); then
    echo "check: $name failed (status $status)" >&2
    exit "$status"
  fi
}

_sections_stop_lanes() {
  local pid
  for pid in "${lane_pids[@]}"; do
    kill -TERM -- "-$pid" 2>/dev/null || true
  done
}

sections_summary() {
  local cpu
  # Not in $(...), whose subshell would count only its own children.
  _children_cpu "$sections_dir/total.raw" >"$sections_dir/total.cpu"
  cpu="$(cat "$sections_dir/total.cpu")"
  echo "== times: wall-clock and CPU (user + system) seconds of each section" >&2
  awk -F '\t' '{ printf "   %-14s %5d s wall %8.1f s CPU\n", $1, $2, $3 }' "$sections_dir/times" >&2
  printf '   %-14s %5d s wall %8.1f s CPU\n' "all" "$SECONDS" "$cpu" >&2
}
