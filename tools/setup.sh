#!/usr/bin/env bash
# Installs every Debian package that building, testing and running kestrelDial needs, when it
# is missing. Safe to run again: it does nothing when everything is there.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config git
  libxcb1-dev libfreetype-dev libharfbuzz-dev libpng-dev
  # tests and benchmarks
  libgtest-dev libbenchmark-dev libxcb-xtest0-dev
  xvfb fluxbox xdotool x11-utils
  openbox blackbox pekwm  # the docks of other window managers, for the end-to-end tests
  clang-16 libclang-rt-16-dev valgrind
  # benchmarks: the peer clock measured beside this one
  x11-apps
  # packaging: the .deb, Debian's checks on it (lintian, hardening-check), its man page
  build-essential dpkg-dev debhelper file lintian devscripts man-db groff-base
  # run: a monospace font and the font matcher
  fonts-dejavu-core fontconfig
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: missing packages (${missing[*]}) and neither root nor sudo" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
