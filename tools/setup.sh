#!/usr/bin/env bash
# Installs the Debian packages that kestrelDial needs, when they are missing. Safe to run
# again: it does nothing when everything is there.
#
#   tools/setup.sh run     what building and running the clock need (Xvfb, fluxbox and the
#                          screenshot tool's libpng only when there is no DISPLAY)
#   tools/setup.sh check   all of that and what the tests, benchmarks, fuzzers and the
#                          package need (the default), with the arm64 cross toolchain and
#                          the arm64 development files (multiarch) for the cross build
#
# Package names come from what this release's apt sources offer (the clang for the fuzzers
# is the newest of 16 to 19 that apt can install), so the same script serves Debian 12 and 13.
set -euo pipefail

what="${1:-check}"
case "$what" in
  run | check) ;;
  *)
    echo "usage: tools/setup.sh [run|check]" >&2
    exit 2
    ;;
esac

say() { echo "setup: $*" >&2; }

if ! command -v apt-get >/dev/null || ! command -v dpkg-query >/dev/null; then
  say "this system has no apt-get/dpkg; kestrelDial is set up on Debian 12 (bookworm) and 13 (trixie)."
  say "Install by hand: a C++23 compiler (g++ 12 or newer), cmake, ninja, pkg-config, and the"
  say "development files of libxcb, FreeType, HarfBuzz and FriBidi, and a monospace font with fontconfig."
  exit 1
fi
release="unknown"
if [[ -r /etc/os-release ]]; then
  release="$(. /etc/os-release && echo "${ID:-unknown} ${VERSION_ID:-${VERSION_CODENAME:-}}")"
fi
case "$release" in
  "debian 12" | "debian 13") ;;
  *) say "note: this is $release; the supported releases are Debian 12 and 13, trying anyway" ;;
esac

packages=(
  # build and run
  g++ cmake ninja-build pkg-config
  libxcb1-dev libfreetype-dev libharfbuzz-dev libfribidi-dev
  fonts-dejavu-core fontconfig
)
if [[ "$what" == check || -z "${DISPLAY:-}" ]]; then
  # a private display with fluxbox's slit, and the screenshot of it
  packages+=(xvfb fluxbox x11-utils libpng-dev)
fi
if [[ "$what" == check ]]; then
  packages+=(
    git
    # tests and benchmarks
    libgtest-dev libbenchmark-dev libxcb-xtest0-dev xdotool
    openbox blackbox pekwm # the docks of other window managers, for the end-to-end tests
    valgrind
    shellcheck # the check's look at its own scripts
    strace # holds a call of the clock open, so a test can land in the window it leaves
    x11-apps # the peer clock that the benchmark measures beside this one
    # packaging: the .deb, Debian's checks on it, its man page
    build-essential dpkg-dev debhelper file lintian devscripts man-db groff-base mandoc blhc
    reprotest disorderfs faketime autopkgtest xauth python3-xlib
  )
  # The package's cross build: Debian's cross toolchain, and the arm64 development files of
  # the Build-Depends through multiarch (dpkg-buildpackage -a arm64 checks that none is
  # missing).
  cross_arch=arm64
  packages+=(
    "crossbuild-essential-$cross_arch" "pkgconf:$cross_arch" "libxcb1-dev:$cross_arch"
    "libfreetype-dev:$cross_arch" "libharfbuzz-dev:$cross_arch" "libfribidi-dev:$cross_arch"
  )
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done

# The fuzzers need clang 16 or newer (libFuzzer; <expected> of libstdc++) with its runtime, and
# the check runs the clang-tidy and clang-format of the same version.
need_clang=0
if [[ "$what" == check ]]; then
  need_clang=1
  for version in 19 18 17 16; do
    if installed "clang-$version" && installed "libclang-rt-$version-dev" &&
      installed "clang-tidy-$version" && installed "clang-format-$version"; then
      need_clang=0
      break
    fi
  done
fi

# Packages of another architecture come only from sources that dpkg has been told of.
need_arch=0
if [[ -n "${cross_arch:-}" ]] && ! dpkg --print-foreign-architectures | grep -qx "$cross_arch"; then
  need_arch=1
fi

if [[ ${#missing[@]} -eq 0 && $need_clang -eq 0 ]]; then
  exit 0
fi

if [[ "$(id -u)" -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  ((need_clang)) && missing+=("clang-16..19")
  say "missing packages (${missing[*]}) and neither root nor sudo"
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ((need_arch)); then
  say "adding the $cross_arch architecture to dpkg (multiarch), for the cross build"
  "${as_root[@]}" dpkg --add-architecture "$cross_arch"
fi
"${as_root[@]}" apt-get update -qq

# The version apt would install, or nothing when no source offers the package.
candidate() {
  local version
  version="$(apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/ { print $2; exit }')"
  [[ -n "$version" && "$version" != "(none)" ]]
}

if ((need_clang)); then
  for version in 19 18 17 16; do
    if candidate "clang-$version" && candidate "libclang-rt-$version-dev" &&
      candidate "clang-tidy-$version" && candidate "clang-format-$version"; then
      missing+=("clang-$version" "libclang-rt-$version-dev" "clang-tidy-$version" "clang-format-$version")
      need_clang=0
      break
    fi
  done
  if ((need_clang)); then
    say "apt offers no clang 16 to 19 with its runtime, clang-tidy and clang-format (clang-N, libclang-rt-N-dev, clang-tidy-N, clang-format-N) on $release; the fuzz targets and the check need one"
    exit 1
  fi
fi

unavailable=()
for package in "${missing[@]}"; do
  candidate "$package" || unavailable+=("$package")
done
if [[ ${#unavailable[@]} -gt 0 ]]; then
  say "apt cannot find ${unavailable[*]} in this system's sources ($release); the supported releases are Debian 12 and 13"
  exit 1
fi

count_installed() { dpkg-query -W -f='${db:Status-Abbrev}\n' | grep -c '^ii'; }
before="$(count_installed)"
say "installing ${missing[*]}"
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
say "installed $(($(count_installed) - before)) packages (with their dependencies) in ${SECONDS}s"
