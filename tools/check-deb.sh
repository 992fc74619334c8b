#!/usr/bin/env bash
# Builds the Debian package twice, from copies of this tree in two different directories,
# and checks what Debian would check, then installs it, checks that the installed program
# answers --help and that its manual page is found, and removes the package again so the
# machine is left as it was:
#   - the two builds give the same bytes (timestamps from SOURCE_DATE_EPOCH, which is the
#     commit time; no build path in the files);
#   - lintian reports no error and no warning (informational tags are listed);
#   - hardening-check on the packaged binary, and the compiler flags recorded in its debug
#     symbols.
# The package stays in build/deb. Runs as root (or through sudo without a password), needs
# no terminal and reads nothing from standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
exec </dev/null

out=build/deb
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

if [[ -z "${SOURCE_DATE_EPOCH:-}" ]] && git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
  export SOURCE_DATE_EPOCH
fi

# The files of the working tree that git would commit (tracked, or new and not ignored), so
# an uncommitted change is packaged too and no build tree is copied along.
copy_source() {
  rm -rf "$1" && mkdir -p "$1"
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' file; do [[ -e "$file" ]] && printf '%s\0' "$file"; done |
      tar --null -T - -cf - | tar -xf - -C "$1"
  else
    tar --exclude=./build -cf - . | tar -xf - -C "$1"
  fi
}

# Package builds in directories of different names and depths: a build path that leaks into
# a file makes the two differ.
builds=("$out/one/kestreldial" "$out/second-build/src/kestrelDial-tree")
for tree in "${builds[@]}"; do
  echo "== dpkg-buildpackage in $tree (SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-from debian/changelog})" >&2
  rm -rf "$(dirname "$tree")"
  copy_source "$tree"
  (cd "$tree" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -b -us -uc >&2) ||
    fail "dpkg-buildpackage failed in $tree"
done

first="$(dirname "${builds[0]}")"
second="$(dirname "${builds[1]}")"
debs=("$first"/kestreldial_*.deb)
[[ -f "${debs[0]}" ]] || fail "dpkg-buildpackage made no kestreldial_*.deb in $first"
deb="$(realpath "${debs[0]}")"
name="$(basename "$deb")"
echo "   $deb" >&2
dpkg-deb --field "$deb" Package Version Maintainer Section Depends Recommends | sed 's/^/   /' >&2
dpkg-deb --contents "$deb" | awk '{print "   " $NF}' >&2

echo "== reproducible" >&2
for package in "$first"/*.deb; do
  other="$second/$(basename "$package")"
  [[ -f "$other" ]] || fail "the second build made no $(basename "$package")"
  cmp -s "$package" "$other" ||
    fail "$(basename "$package") differs between the two builds (try diffoscope $package $other)"
  echo "   $(basename "$package"): same bytes, sha256 $(sha256sum <"$package" | cut -c1-16)…" >&2
done
unpacked="$out/unpacked"
rm -rf "$unpacked" && dpkg-deb -x "$deb" "$unpacked"
for tree in "${builds[@]}"; do
  for path in "$(realpath "$tree")" "$(realpath "$(dirname "$tree")")"; do
    if grep -rlaF "$path" "$unpacked" >/dev/null; then
      fail "the build path $path is in $(grep -rlaF "$path" "$unpacked" | head -n 1)"
    fi
    if zcat "$unpacked"/usr/share/man/man1/kestrelDial.1.gz | grep -qaF "$path"; then
      fail "the build path $path is in the manual page"
    fi
  done
done

echo "== lintian $name" >&2
lintian --fail-on error,warning --display-info --info "$deb" >"$out/lintian.txt" 2>&1 ||
  fail "lintian: $(grep -E '^[EW]: ' "$out/lintian.txt" || cat "$out/lintian.txt")"
grep -E '^[EWIP]: ' "$out/lintian.txt" | sed 's/^/   /' >&2 || echo "   no tags" >&2

echo "== hardening-check usr/bin/kestrelDial" >&2
hardening-check "$unpacked/usr/bin/kestrelDial" >"$out/hardening.txt" 2>&1 || true
sed 's/^/   /' "$out/hardening.txt" >&2
for feature in "Position Independent Executable" "Stack protected" "Fortify Source functions" \
  "Read-only relocations" "Immediate binding"; do
  grep -q "^ $feature: yes" "$out/hardening.txt" || fail "hardening-check: $feature is not yes"
done
# The stack-clash check looks for the probing loop that only frames over a page get; this
# program has none, so it says "unknown". The control-flow marker is dropped by the linker
# because Debian 12's C start files (Scrt1.o, crti.o, crtn.o) carry none. So for these two,
# every compilation unit of the binary must show the flag in the debug symbols.
grep -Eq "^ Stack clash protection: (yes|unknown)" "$out/hardening.txt" ||
  fail "hardening-check: stack clash protection is neither yes nor unknown"
debug_files=("$first"/kestreldial/debian/.debhelper/kestreldial/dbgsym-root/usr/lib/debug/.build-id/*/*.debug)
[[ -f "${debug_files[0]}" ]] || fail "no debug symbols for the binary in the dbgsym package"
readelf --debug-dump=info "${debug_files[0]}" 2>/dev/null | grep 'DW_AT_producer' >"$out/producers.txt"
units=$(wc -l <"$out/producers.txt")
((units > 0)) || fail "the debug symbols name no compilation unit"
for flag in -O2 -fstack-protector-strong -fstack-clash-protection -fcf-protection; do
  missing=$(grep -c -v -- " $flag" "$out/producers.txt" || true)
  ((missing == 0)) || fail "$missing of $units compilation units were built without $flag"
done
echo "   all $units compilation units: -O2 -fstack-protector-strong -fstack-clash-protection -fcf-protection" >&2

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
"$program" --help >"$out/help.stdout" 2>"$out/help.stderr"
status=$?
set -e
((status == 0)) || fail "--help exited with status $status"
[[ ! -s "$out/help.stdout" ]] || fail "--help wrote to standard output"
line="$(head -n 1 "$out/help.stderr")"
[[ "$line" == "$first_help_line" ]] || fail "first help line is '$line', expected '$first_help_line'"
echo "   exit status 0, first line: $line" >&2

echo "== man -w kestrelDial" >&2
page="$(man -w kestrelDial)" || fail "man does not find the kestrelDial page"
[[ "$page" == /usr/share/man/man1/kestrelDial.1.gz ]] || fail "man found '$page'"
man --warnings -l "$page" >/dev/null 2>"$out/man.warnings" || fail "man cannot render $page"
[[ ! -s "$out/man.warnings" ]] || fail "the manual page renders with warnings: $(cat "$out/man.warnings")"
echo "   $page" >&2
for doc in config.example copyright changelog.gz; do
  [[ -f /usr/share/doc/kestreldial/$doc ]] || fail "/usr/share/doc/kestreldial/$doc is not installed"
done

trap - EXIT
remove_package
if dpkg-query -W -f='${Status}' kestreldial 2>/dev/null | grep -q 'install ok installed'; then
  fail "kestreldial is still installed after removal"
fi
echo "check-deb: passed" >&2
