#!/usr/bin/env bash
# Sets everything up, then checks everything, cheapest and likeliest to fail first: the
# scripts (shellcheck), the CI build (warnings are errors) with clang-tidy over the sources and
# every test in it; then the Debian source and binary packages (reprotest with the build-time
# tests against a nocheck build, blhc, lintian, mandoc, hardening-check and the build flags, an
# arm64 cross build, the installed-package tests under autopkgtest, removal), the fuzz targets
# for a bounded time, and every test in the sanitizer build (ASan + UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh check

echo "== shellcheck (${SECONDS}s)" >&2
shellcheck -x tools/*.sh tools/lib/*.sh .ci/run debian/tests/command-line debian/tests/x11-window

echo "== ci: configure and build (${SECONDS}s)" >&2
cmake --preset ci >/dev/null
cmake --build --preset ci -- -j"$(nproc)"

# The clang-tidy that setup installed beside the fuzzers' clang, over the CI build's
# compile commands; .clang-tidy names the checks, and any finding fails the check.
echo "== clang-tidy (${SECONDS}s)" >&2
tidy=""
for version in 19 18 17 16; do
  if command -v "run-clang-tidy-$version" >/dev/null; then
    tidy="run-clang-tidy-$version"
    break
  fi
done
[[ -n "$tidy" ]] || { echo "check: no run-clang-tidy-16..19; tools/setup.sh check installs one" >&2; exit 1; }
"$tidy" -p build/ci -quiet -j "$(nproc)" 'src/|tools/.*\.cpp|bench/' >build/ci/clang-tidy.log 2>&1 || {
  grep -E '(warning|error):' build/ci/clang-tidy.log >&2 || cat build/ci/clang-tidy.log >&2
  exit 1
}

echo "== ci: test (${SECONDS}s)" >&2
ctest --preset ci

echo "== package (${SECONDS}s)" >&2
bash tools/check-deb.sh

echo "== fuzz (${SECONDS}s)" >&2
FUZZ_SECONDS="${FUZZ_SECONDS:-10}" bash tools/fuzz.sh

echo "== asan: configure and build (${SECONDS}s)" >&2
cmake --preset asan >/dev/null
cmake --build --preset asan -- -j"$(nproc)"
echo "== asan: test (${SECONDS}s)" >&2
ctest --preset asan
echo "== passed (${SECONDS}s)" >&2
