#!/usr/bin/env bash
# Sets everything up, then builds and runs every test: the CI build (warnings are errors) and
# the sanitizer build (ASan + UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

for preset in ci asan; do
  echo "== $preset: configure and build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$(nproc)"
  echo "== $preset: test" >&2
  ctest --preset "$preset"
done
