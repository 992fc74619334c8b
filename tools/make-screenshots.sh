#!/usr/bin/env bash
# Paints the README's sample faces at a fixed instant with DejaVu Sans Mono.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}
if [ ! -x "$build/tools/kestrelDial-face-png" ]; then
  cmake --preset default >/dev/null && cmake --build --preset default --target kestrelDial-face-png >/dev/null
fi
paint() { "$build/tools/kestrelDial-face-png" --font /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf \
            --tz UTC --at "2026-12-08 21:05:07" "$@"; }
out=docs/images
mkdir -p "$out"
paint --out "$out/default-96.png"
paint --out "$out/zenburn-96.png" --theme zenburn
paint --out "$out/12h-seconds-96.png" --12h --seconds
paint --out "$out/label-96.png" --label Tokyo --short-month --timezone +9
paint --out "$out/default-128.png" --size 128
paint --out "$out/zenburn-128.png" --size 128 --theme zenburn --12h --seconds
echo "faces written to $out" >&2
