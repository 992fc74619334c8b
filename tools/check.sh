#!/usr/bin/env bash
# Sets everything up, then checks everything: the Debian source and binary packages
# (reprotest with the build-time tests against a nocheck build, blhc, lintian, mandoc,
# hardening-check and the build flags, an arm64 cross build, the installed-package tests under
# autopkgtest, removal), the fuzz targets for a bounded time, and every test in the CI build
# (warnings are errors) and in the sanitizer build (ASan + UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh check

echo "== package" >&2
bash tools/check-deb.sh

echo "== fuzz" >&2
FUZZ_SECONDS="${FUZZ_SECONDS:-10}" bash tools/fuzz.sh

for preset in ci asan; do
  echo "== $preset: configure and build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$(nproc)"
  echo "== $preset: test" >&2
  ctest --preset "$preset"
done
