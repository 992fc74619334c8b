#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz and runs each one for a bounded time.
#
# For every target (tests/fuzz/<name>_fuzz.cpp, executable fuzz_<name>):
#   1. replays every input kept in tests/fuzz/regressions/<name>/ (past crashes);
#   2. fuzzes for FUZZ_SECONDS seconds (default 20), seeded from tests/fuzz/corpus/<name>/;
#      a crashing input is written to tests/fuzz/regressions/<name>/ so it is replayed from
#      then on. Inputs the fuzzer finds interesting go to build/fuzz/corpus/<name>/, never
#      into the committed seeds.
# Usage: tools/fuzz.sh [name...]   (default: every target). Exit status 1 if any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
build=build/fuzz

# libFuzzer is clang's. libstdc++ 12's <expected> needs clang 16 or newer.
pick_clang() {
  local version
  for version in 19 18 17 16; do
    if command -v "clang++-$version" >/dev/null && command -v "clang-$version" >/dev/null; then
      echo "$version"
      return
    fi
  done
  echo "tools/fuzz.sh: needs clang 16 to 19 with its runtime (clang-N, libclang-rt-N-dev); tools/setup.sh check installs one" >&2
  exit 1
}
version="$(pick_clang)"

echo "== configure $build with clang $version" >&2
mkdir -p "$build"
CC="clang-$version" CXX="clang++-$version" cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" -DKD_BUILD_FUZZ=ON -DKD_BUILD_TESTS=OFF -DKD_BUILD_BENCH=OFF \
  >"$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
echo "== build" >&2
ninja -C "$build" -j2 fuzzers >&2

if (($# > 0)); then
  names=("$@")
else
  names=()
  for source in tests/fuzz/*_fuzz.cpp; do
    name="$(basename "$source" _fuzz.cpp)"
    names+=("$name")
  done
fi

# Labels are short and config files small; long inputs only slow the search down.
max_len() {
  case "$1" in
    text_layout) echo 256 ;;
    utc_offset | color) echo 64 ;;
    *) echo 4096 ;;
  esac
}

# Readable stack traces in the logs.
for symbolizer in "llvm-symbolizer-$version" llvm-symbolizer; do
  if command -v "$symbolizer" >/dev/null; then
    ASAN_SYMBOLIZER_PATH="$(command -v "$symbolizer")"
    export ASAN_SYMBOLIZER_PATH
    break
  fi
done
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for name in "${names[@]}"; do
  fuzzer="$build/tests/fuzz/fuzz_$name"
  seeds="tests/fuzz/corpus/$name"
  regressions="tests/fuzz/regressions/$name"
  corpus="$build/corpus/$name"
  log="$build/logs/$name.log"
  mkdir -p "$regressions" "$corpus" "$(dirname "$log")"
  : >"$log"
  [[ -x "$fuzzer" ]] || { echo "tools/fuzz.sh: no fuzz target '$name'" >&2; failed+=("$name"); continue; }

  mapfile -t kept < <(find "$regressions" -maxdepth 1 -type f ! -name '.*' | sort)
  if ((${#kept[@]} > 0)); then
    echo "== $name: replaying ${#kept[@]} kept input(s)" >&2
    if ! "$fuzzer" "${kept[@]}" >>"$log" 2>&1; then
      echo "   FAILED on a kept input; see $log" >&2
      tail -n 30 "$log" >&2
      failed+=("$name")
      continue
    fi
  fi

  echo "== $name: fuzzing for ${seconds}s" >&2
  seed_dirs=()
  [[ -d "$seeds" ]] && seed_dirs+=("$seeds")
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -max_len="$(max_len "$name")" -print_final_stats=1 \
       -artifact_prefix="$regressions/" "$corpus" "${seed_dirs[@]}" >>"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done ' "$log" | tail -n 2 | sed 's/^/   /' >&2
  else
    echo "   FAILED; the input is kept in $regressions/; see $log" >&2
    grep -E -A 12 'ERROR: |property violated|SUMMARY' "$log" | head -n 40 >&2 || tail -n 30 "$log" >&2
    failed+=("$name")
  fi
done

if ((${#failed[@]} > 0)); then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#names[@]} target(s) passed" >&2
