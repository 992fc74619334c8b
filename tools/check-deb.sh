#!/usr/bin/env bash
# Builds the Debian package from a Release build in build/deb, installs it, checks that the
# installed program answers --help and that its manual page is found, then removes the
# package again so the machine is left as it was. Runs as root (or through sudo without a
# password), needs no terminal and reads nothing from standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
exec </dev/null

build=build/deb
program=/usr/bin/kestrelDial
first_help_line="kestrelDial - Calendar clock dockapp for the Fluxbox slit"

if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo -n)
else
  echo "check-deb: needs root (or sudo) to install the package" >&2
  exit 1
fi
apt_get() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@"; }

fail() {
  echo "check-deb: FAILED: $*" >&2
  exit 1
}

echo "== configure and build $build (Release)" >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKD_BUILD_TESTS=OFF -DKD_BUILD_BENCH=OFF -DKD_BUILD_FUZZ=OFF >/dev/null
cmake --build "$build" -- -j2 >&2

echo "== cpack" >&2
rm -f "$build"/kestreldial_*.deb
(cd "$build" && cpack -G DEB >&2)
debs=("$build"/kestreldial_*.deb)
[[ -f "${debs[0]}" ]] || fail "cpack made no kestreldial_*.deb in $build"
deb="$(realpath "${debs[0]}")"
echo "   $deb" >&2
dpkg-deb --field "$deb" Package Version Section Depends Recommends | sed 's/^/   /' >&2
dpkg-deb --contents "$deb" | awk '{print "   " $NF}' >&2

if dpkg-query -W -f='${Status}' kestreldial 2>/dev/null | grep -q 'install ok installed'; then
  fail "kestreldial is already installed; remove it first so that this check can leave the machine as it found it"
fi

echo "== install" >&2
# Recommends (fonts, fontconfig) stay out: the check must not leave extra packages behind.
remove_package() {
  echo "== remove" >&2
  apt_get remove kestreldial >&2 || true
}
trap remove_package EXIT
apt_get install --no-install-recommends "$deb" >&2

echo "== $program --help" >&2
[[ -x "$program" ]] || fail "$program is not installed"
set +e
"$program" --help >"$build/help.stdout" 2>"$build/help.stderr"
status=$?
set -e
((status == 0)) || fail "--help exited with status $status"
[[ ! -s "$build/help.stdout" ]] || fail "--help wrote to standard output"
line="$(head -n 1 "$build/help.stderr")"
[[ "$line" == "$first_help_line" ]] || fail "first help line is '$line', expected '$first_help_line'"
echo "   exit status 0, first line: $line" >&2

echo "== man -w kestrelDial" >&2
page="$(man -w kestrelDial)" || fail "man does not find the kestrelDial page"
[[ "$page" == /usr/share/man/man1/kestrelDial.1.gz ]] || fail "man found '$page'"
man --warnings -l "$page" >/dev/null 2>"$build/man.warnings" || fail "man cannot render $page"
[[ ! -s "$build/man.warnings" ]] || fail "the manual page renders with warnings: $(cat "$build/man.warnings")"
echo "   $page" >&2
[[ -f /usr/share/doc/kestreldial/config.example ]] || fail "config.example is not installed"

trap - EXIT
remove_package
if dpkg-query -W -f='${Status}' kestreldial 2>/dev/null | grep -q 'install ok installed'; then
  fail "kestreldial is still installed after removal"
fi
echo "check-deb: passed" >&2
