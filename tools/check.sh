#!/usr/bin/env bash
# Sets everything up, then checks everything, cheapest and likeliest to fail first: the
# scripts (shellcheck), the C++ layout (clang-format), the CI build (warnings are errors), then
# clang-tidy over the program's own sources beside every test of that build; then the Debian
# source and binary packages (reprotest with the build-time tests against a nocheck build,
# blhc, lintian, mandoc, hardening-check and the build flags, an arm64 cross build, the
# installed-package tests under autopkgtest, removal) beside the fuzz targets for a bounded
# time and every test but the soak tests in the sanitizer build (ASan + UBSan). Sections that
# mostly wait (tests, a single-job build) run beside ones that keep the processors busy. At the
# end it prints each section's wall-clock and CPU time.
set -euo pipefail
cd "$(dirname "$0")/.."
# The physical path, which the compile commands name.
root="$(pwd -P)"
source tools/lib/sections.sh

sections_init build/check
section setup bash tools/setup.sh check

# The clang-tidy and clang-format that setup installed beside the fuzzers' clang.
clang_version=""
for version in 19 18 17 16; do
  if command -v "run-clang-tidy-$version" >/dev/null && command -v "clang-format-$version" >/dev/null; then
    clang_version="$version"
    break
  fi
done
[[ -n "$clang_version" ]] || {
  echo "check: no run-clang-tidy-N with clang-format-N (N = 16..19); tools/setup.sh check installs them" >&2
  exit 1
}

shell_scripts() {
  shellcheck -x tools/*.sh tools/lib/*.sh .ci/run debian/tests/command-line debian/tests/x11-window
}

# Every C++ file of the tree as clang-format would write it with .clang-format.
cpp_layout() {
  local files unformatted output status=0
  if git rev-parse --git-dir >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.hpp' |
      while IFS= read -r file; do [[ -e "$file" ]] && echo "$file"; done)
  else
    mapfile -t files < <(find src tests tools bench -name '*.cpp' -o -name '*.hpp' | sort)
  fi
  output="$("clang-format-$clang_version" --dry-run -Werror --ferror-limit=1 "${files[@]}" 2>&1)" || status=$?
  mapfile -t unformatted < <(sed -n -E 's/^(.+):[0-9]+:[0-9]+: (warning|error): .*/\1/p' <<<"$output" | sort -u)
  if ((${#unformatted[@]} > 0)); then
    echo "check: not laid out as clang-format-$clang_version would (clang-format-$clang_version -i FILE...):" >&2
    printf '   %s\n' "${unformatted[@]}" >&2
    return 1
  fi
  if ((status != 0)); then
    echo "$output" >&2
    return 1
  fi
  echo "   ${#files[@]} files as clang-format-$clang_version lays them out" >&2
}

ci_build() {
  cmake --preset ci >/dev/null
  cmake --build --preset ci -- -j"$(nproc)"
}

# clang-tidy with the checks of .clang-tidy over the program's own sources (src/, the C++ of
# tools/ and bench/) and their headers, whatever folder the checkout is in: both patterns start
# at its root. Any finding fails the check.
tidy() {
  local at files count
  # shellcheck disable=SC2001 # a bracket expression and &, which ${root//...} lacks
  at="^$(sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$root")"
  files="$at/(src/|tools/[^/]*\.cpp$|bench/)"
  count="$(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' build/ci/compile_commands.json | grep -c -E "$files")" || {
    echo "check: clang-tidy would read nothing: no compile command for $root/src" >&2
    return 1
  }
  echo "   $count compilation units" >&2
  "run-clang-tidy-$clang_version" -p build/ci -quiet -j "$(nproc)" \
    -header-filter="$at/(src|tools|bench)/" "$files" >build/ci/clang-tidy.log 2>&1 || {
    grep -E '(warning|error):' build/ci/clang-tidy.log >&2 || cat build/ci/clang-tidy.log >&2
    return 1
  }
}

ci_test() {
  ctest --preset ci
}

fuzz() {
  FUZZ_SECONDS="${FUZZ_SECONDS:-10}" bash tools/fuzz.sh
}

asan_build() {
  cmake --preset asan >/dev/null
  cmake --build --preset asan -- -j"$(nproc)"
}

asan_test() {
  ctest --preset asan
}

# The sanitizer lane: its sections, one after the other.
sanitizers() {
  section fuzz fuzz
  section "asan build" asan_build
  section "asan test" asan_test
}

section shellcheck shell_scripts
section clang-format cpp_layout
section "ci build" ci_build

lane_start ci-test section "ci test" ci_test
section clang-tidy tidy
lane_wait ci-test

lane_start sanitizers sanitizers
section package bash tools/check-deb.sh
lane_wait sanitizers

sections_summary
echo "== passed (${SECONDS}s)" >&2
