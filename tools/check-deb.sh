#!/usr/bin/env bash
# Builds the Debian source and binary packages and checks what Debian and a sponsor would
# check, then tests the installed package and removes it again so the machine is left as it
# was:
#   - the version (its upstream part) and the release date are the ones in CMakeLists.txt,
#     in debian/changelog and in the manual page's header; mandoc finds nothing to lint; the
#     installed README comes with the pictures it shows;
#   - the source package (3.0 (quilt)): the working tree without debian/ as the upstream
#     tarball, debian/ as the Debian one;
#   - reprotest builds it twice from the .dsc: first as a builder would (the display-free
#     tests run at build time), then with nocheck and everything varied that can be varied
#     here (see below); the two builds must give the same bytes. File times come from
#     SOURCE_DATE_EPOCH, which dpkg takes from the date of debian/changelog;
#   - blhc finds no compiler or linker call without the build flags;
#   - lintian (pedantic, experimental and informational tags shown) reports no error and no
#     warning but the two that a first upload without an ITP bug shows on Debian 12;
#   - hardening-check on the packaged binary, and every compilation unit built with the
#     flags of dpkg-buildflags and no others;
#   - an arm64 cross build (dpkg-buildpackage -a arm64 with Debian's cross toolchain and the
#     arm64 development packages, which tools/setup.sh installs through multiarch), checked
#     the same way for its flags;
#   - autopkgtest installs the package and runs debian/tests on it; then the manual page and
#     the documents are looked up on the installed system.
# The packages stay in build/deb. Runs as root (or through sudo without a password), needs
# no terminal and reads nothing from standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
exec </dev/null

out=build/deb
jobs="$(nproc)"
cross_arch=arm64

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

version="$(sed -n 's/^project(kestrelDial VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)"
[[ -n "$version" ]] || fail "no version in the project() line of CMakeLists.txt"
release_date="$(sed -n 's/^set(KD_RELEASE_DATE \([0-9-]*\))$/\1/p' CMakeLists.txt)"
[[ -n "$release_date" ]] || fail "no set(KD_RELEASE_DATE YYYY-MM-DD) in CMakeLists.txt"
package_version="$(dpkg-parsechangelog -S Version)"
[[ "$package_version" == "$version"-* ]] ||
  fail "debian/changelog's latest entry is $package_version; CMakeLists.txt says $version (expected $version-REVISION)"

# A changelog dated after the build would stop dpkg from clamping file times to it, and every
# build would then carry its own times.
changelog_time="$(dpkg-parsechangelog -S Timestamp)"
((changelog_time <= $(date +%s))) ||
  fail "debian/changelog is dated $(dpkg-parsechangelog -S Date), which is still to come"
changelog_day="$(date -u -d "@$changelog_time" +%F)"
[[ "$changelog_day" == "$release_date" ]] ||
  fail "debian/changelog's entry is dated $changelog_day (UTC), CMakeLists.txt's KD_RELEASE_DATE is $release_date"

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

# The compilation units of a package's debug symbols must carry each code-generation flag
# that dpkg-buildflags gives for ARCH (with the maintainer options of debian/rules and the
# builder's DEB_BUILD_OPTIONS), and no other but those that the compiler records of its own
# (target defaults, the language standard, debug information, unwind tables).
check_flags() { # arch, dbgsym .deb, directory to unpack into, the build's DEB_BUILD_OPTIONS
  local arch="$1" dbgsym="$2" dir="$3" maint expected flag units unit extra
  maint="hardening=+all $(tr ' ' '\n' <<<"$4" | { grep '^hardening=' || true; } | tr '\n' ' ')"
  expected="$(DEB_HOST_ARCH="$arch" DEB_BUILD_MAINT_OPTIONS="$maint" dpkg-buildflags --get CXXFLAGS |
    tr ' ' '\n' | grep -E '^-[fmO]' | grep -v -E '^-f(file|debug)-prefix-map=' | sort -u)"
  rm -rf "$dir" && dpkg-deb -x "$dbgsym" "$dir"
  local debug_files=("$dir"/usr/lib/debug/.build-id/*/*.debug)
  [[ -f "${debug_files[0]}" ]] || fail "no debug symbols for the binary in $(basename "$dbgsym")"
  # g++ 14 records the bare -fcf-protection of dpkg-buildflags as its default, =full.
  readelf --debug-dump=info "${debug_files[0]}" 2>/dev/null |
    sed -n 's/.*DW_AT_producer.*: GNU C++[0-9]* [0-9.]* //p' |
    sed -E 's/(^| )-fcf-protection=full( |$)/\1-fcf-protection\2/g' >"$dir.producers"
  units=$(wc -l <"$dir.producers")
  ((units > 0)) || fail "the $arch debug symbols name no compilation unit"
  for flag in $expected; do
    missing=$(grep -c -v -e " $flag\( \|$\)" -e "^$flag\( \|$\)" "$dir.producers" || true)
    ((missing == 0)) || fail "$arch: $missing of $units compilation units were built without $flag"
  done
  while IFS= read -r unit; do
    for flag in $unit; do
      [[ "$flag" =~ ^-(march=|mtune=|mabi=|mcpu=|mlittle-endian$|std=|g|fasynchronous-unwind-tables$) ]] && continue
      grep -qxF -- "$flag" <<<"$expected" || extra+=" $flag"
    done
  done <"$dir.producers"
  [[ -z "${extra:-}" ]] || fail "$arch: compilation units carry flags that dpkg-buildflags did not give:$(tr ' ' '\n' <<<"$extra" | sort -u | tr '\n' ' ')"
  echo "   $arch: all $units compilation units: ${expected//$'\n'/ }, nothing else" >&2
}

echo "== version $version of $release_date (CMakeLists.txt), package $package_version" >&2

echo "== source package" >&2
src="$out/source"
rm -rf "$src" "$out/unpacked" "$out/dbgsym" "$out/cross"
tree="$src/kestreldial-$version"
copy_source "$tree"
tar -C "$src" --exclude="kestreldial-$version/debian" --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="@$changelog_time" --clamp-mtime -cf - "kestreldial-$version" |
  xz -9 --threads=1 -c >"$src/kestreldial_$version.orig.tar.xz"
(cd "$tree" && dpkg-buildpackage -S -us -uc -nc -d) >"$out/source.log" 2>&1 || {
  tail -n 20 "$out/source.log" >&2
  fail "dpkg-buildpackage -S failed (the log is $out/source.log)"
}
dsc="$src/kestreldial_$package_version.dsc"
[[ -f "$dsc" ]] || fail "no $dsc"
sed -n '/^Files:/,/^[^ ]/p' "$dsc" | grep '^ ' | awk '{print "   " $3}' >&2

store="$out/reprotest"
rm -rf "$store"

# Varied: environment (the second build is a nocheck one, with the nocheck build profile,
# and runs one job where the first runs one per processor), build_path, kernel, aslr, time,
# fileordering (disorderfs), domain_host (a user and UTS namespace of its own), home, locales,
# exec_path, timezone, umask. The first build, which also builds and runs the tests, gets
# every processor (--min-cpus), so reprotest's num_cpus varies nothing on two. Left out:
#   - user_group: reprotest (0.7.23, Debian 12) runs the second build through
#     "sudo -h localhost -u USER", which Debian 12's sudo (1.9.13) refuses ("a remote host may
#     only be specified when listing privileges"); it would also need sudo and a second
#     account, which the machines of this project do not have.
# Without an et_EE.UTF-8 locale on the machine the locales variation sets LC_ALL and
# LANGUAGE to a locale that falls back to C: it still catches a build that records them.
# Where the machine forbids them, two more are left out, each said when it is:
#   - domain_host needs a user namespace, which the kernel refuses inside a chroot;
#   - fileordering needs a FUSE mount, which a container without /dev/fuse cannot make.
vary="-user_group,environment.variables+=DEB_BUILD_OPTIONS=nocheck parallel=1;DEB_BUILD_PROFILES=nocheck"
if ! unshare -r --uts true 2>/dev/null; then
  vary+=",-domain_host"
  echo "   domain_host not varied: this machine allows no user namespace (unshare -r)" >&2
fi
probe="$(mktemp -d)"
mkdir "$probe/from" "$probe/to"
if disorderfs -q "$probe/from" "$probe/to" 2>/dev/null; then
  fusermount -u "$probe/to"
else
  vary+=",-fileordering"
  echo "   fileordering not varied: disorderfs cannot mount here (no FUSE)" >&2
fi
rm -rf "$probe"
echo "== reprotest (two builds of $(basename "$dsc"), the second with nocheck; --vary=$vary)" >&2
SECONDS=0
DEB_BUILD_OPTIONS="parallel=$jobs" \
  reprotest --min-cpus="$jobs" --vary="$vary" --store-dir "$store" "$dsc" -- null \
  >"$out/reprotest.log" 2>&1 || {
  tail -n 40 "$out/reprotest.log" >&2
  fail "reprotest: the two builds differ or failed (the log is $out/reprotest.log)"
}
sed -n '/^Reproduction successful/,/^However/p' "$out/reprotest.log" | grep -v -e '^=*$' -e '^However' |
  sed 's/^/   /' >&2
# ctest's summary: once, from the first build; the nocheck build must run none.
tests_line="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$out/reprotest.log" || true)"
[[ -n "$tests_line" ]] || fail "the first build ran no tests (no ctest summary in $out/reprotest.log)"
[[ "$(wc -l <<<"$tests_line")" == 1 ]] || fail "both builds ran the tests; the second should not have (nocheck)"
echo "   build-time tests of the first build: $tests_line ($SECONDS s for both builds)" >&2

debs=("$store"/control/source-root/kestreldial_*.deb)
[[ -f "${debs[0]}" ]] || fail "reprotest kept no kestreldial_*.deb in $store/control/source-root"
deb="$(realpath "${debs[0]}")"
dbgsym="$(realpath "$store"/control/source-root/kestreldial-dbgsym_*.deb)"
name="$(basename "$deb")"
echo "   $deb" >&2
dpkg-deb --field "$deb" Package Version Architecture Maintainer Section Depends Recommends | sed 's/^/   /' >&2
dpkg-deb --contents "$deb" | awk '{print "   " $NF}' >&2

echo "== blhc" >&2
# The first build's log, as reprotest printed it.
sed -n '/dpkg-buildpackage: info: source package kestreldial/,/dpkg-buildpackage: info: binary-only upload/p' \
  "$out/reprotest.log" | sed -n '1,/binary-only upload/p' >"$out/build.log"
grep -q -- ' -c ' "$out/build.log" || fail "no compiler call in the first build's log ($out/build.log)"
blhc "$out/build.log" >"$out/blhc.txt" 2>&1 || fail "blhc: $(cat "$out/blhc.txt")"
[[ ! -s "$out/blhc.txt" ]] || fail "blhc: $(cat "$out/blhc.txt")"
echo "   silent" >&2

echo "== the package's version and manual page" >&2
[[ "$(dpkg-deb --field "$deb" Version)" == "$package_version" ]] ||
  fail "the package's version is $(dpkg-deb --field "$deb" Version), debian/changelog says $package_version"
unpacked="$out/unpacked"
dpkg-deb -x "$deb" "$unpacked"
header="$(zcat "$unpacked"/usr/share/man/man1/kestrelDial.1.gz | grep '^\.TH ')"
[[ "$header" == *" \"$release_date\" \"kestrelDial $version\" "* ]] || fail "the manual page's header is: $header"
echo "   $header" >&2
zcat "$unpacked"/usr/share/man/man1/kestrelDial.1.gz >"$out/kestrelDial.1"
if ! mandoc -T lint "$out/kestrelDial.1" >"$out/mandoc.txt" 2>&1 || [[ -s "$out/mandoc.txt" ]]; then
  fail "mandoc -T lint: $(cat "$out/mandoc.txt")"
fi
echo "   mandoc -T lint: clean" >&2

# The README is installed with the pictures it shows, at the paths it names.
docs="$unpacked/usr/share/doc/kestreldial"
mapfile -t pictures < <({ zcat -f "$docs"/README.md* || true; } | grep -o -E '\]\([^)]+\.png\)' |
  sed -E 's/^\]\((.*)\)$/\1/' | sort -u)
for picture in "${pictures[@]}"; do
  [[ -f "$docs/$picture" ]] || fail "the installed README shows $picture, which the package does not ship"
done
echo "   README.md with the ${#pictures[@]} pictures it shows" >&2

echo "== lintian -I -E --pedantic $(basename "$dsc" .dsc)_source.changes $name $(basename "$dbgsym")" >&2
# Shown but not failed on: a first upload that closes no ITP bug (there is none yet), and,
# with Debian 12's lintian, which knows no Standards-Version after 4.6.2, the newer one.
expected_warnings='initial-upload-closes-no-bugs|newer-standards-version'
lintian -I -E --pedantic "$src/kestreldial_${package_version}_source.changes" "$deb" "$dbgsym" \
  >"$out/lintian.txt" 2>&1 || true
grep -E '^[EWIPXO]: ' "$out/lintian.txt" | sed 's/^/   /' >&2 || echo "   no tags" >&2
unexpected="$(grep -E '^[EW]: ' "$out/lintian.txt" | grep -v -E "^W: [^ ]+( source)?: ($expected_warnings)( |$)" || true)"
[[ -z "$unexpected" ]] || fail "lintian: $unexpected"

echo "== hardening-check usr/bin/kestrelDial" >&2
hardening-check "$unpacked/usr/bin/kestrelDial" >"$out/hardening.txt" 2>&1 || true
sed 's/^/   /' "$out/hardening.txt" >&2
for feature in "Position Independent Executable" "Stack protected" "Fortify Source functions" \
  "Read-only relocations" "Immediate binding"; do
  grep -q "^ $feature: yes" "$out/hardening.txt" || fail "hardening-check: $feature is not yes"
done
# The stack-clash check looks for the probing loop that only frames over a page get; this
# program has none, so it says "unknown" where the flag is given. Whether it is given, and
# the control-flow protection, are dpkg-buildflags' choice for the release and architecture:
# the debug symbols show what every compilation unit was built with.
grep -Eq "^ Stack clash protection: (yes|unknown|no)" "$out/hardening.txt" ||
  fail "hardening-check: no stack clash protection line"
check_flags "$(dpkg-deb --field "$deb" Architecture)" "$dbgsym" "$out/dbgsym" "parallel=$jobs"

# The cross build also plays a builder who turns a hardening feature off: the flags must
# follow, here without the stack protector.
cross_options="nocheck parallel=$jobs hardening=-stackprotector"
echo "== $cross_arch cross build (DEB_BUILD_OPTIONS=\"$cross_options\")" >&2
SECONDS=0
cross="$out/cross"
mkdir -p "$cross"
dpkg-source -x "$dsc" "$cross/kestreldial-$version" >"$out/cross.log" 2>&1
(cd "$cross/kestreldial-$version" && DEB_BUILD_OPTIONS="$cross_options" \
  dpkg-buildpackage -a "$cross_arch" -Pcross,nocheck -B -us -uc) >>"$out/cross.log" 2>&1 || {
  tail -n 30 "$out/cross.log" >&2
  fail "the $cross_arch cross build failed (the log is $out/cross.log; tools/setup.sh check installs its toolchain)"
}
cross_deb="$cross/kestreldial_${package_version}_$cross_arch.deb"
[[ -f "$cross_deb" ]] || fail "the cross build made no $(basename "$cross_deb")"
[[ "$(dpkg-deb --field "$cross_deb" Architecture)" == "$cross_arch" ]] || fail "$(basename "$cross_deb") is not for $cross_arch"
dpkg-deb -x "$cross_deb" "$cross/unpacked"
machine="$(readelf -h "$cross/unpacked/usr/bin/kestrelDial" | sed -n 's/^ *Machine: *//p')"
[[ "$machine" == AArch64 ]] || fail "the cross-built usr/bin/kestrelDial is for '$machine'"
echo "   $(basename "$cross_deb"): usr/bin/kestrelDial for $machine ($SECONDS s)" >&2
check_flags "$cross_arch" "$cross/kestreldial-dbgsym_${package_version}_$cross_arch.deb" "$out/cross/dbgsym" "$cross_options"
grep -q -- '-fstack-protector' "$out/cross/dbgsym.producers" &&
  fail "$cross_arch: built with a stack protector that DEB_BUILD_OPTIONS turned off"

installed() { dpkg-query -W -f='${Status}' kestreldial 2>/dev/null | grep -q 'install ok installed'; }
if installed; then
  fail "kestreldial is already installed; remove it first so that this check can leave the machine as it found it"
fi

remove_package() {
  echo "== remove" >&2
  apt_get remove kestreldial >&2 || true
}
trap remove_package EXIT

# autopkgtest installs the package and the tests' dependencies (an X server, the recommended
# fonts, the Python X client); those stay, the package itself is removed below.
echo "== autopkgtest $name" >&2
rm -rf "$out/autopkgtest"
status=0
"${as_root[@]}" autopkgtest --output-dir "$out/autopkgtest" "$deb" "$tree/" -- null \
  >"$out/autopkgtest.log" 2>&1 || status=$?
sed 's/^/   /' "$out/autopkgtest/summary" >&2 || true
((status == 0)) || {
  tail -n 40 "$out/autopkgtest.log" >&2
  fail "autopkgtest exited with status $status (the log is $out/autopkgtest.log)"
}

echo "== man -w kestrelDial" >&2
installed || fail "autopkgtest did not install kestreldial"
page="$(man -w kestrelDial)" || fail "man does not find the kestrelDial page"
[[ "$page" == /usr/share/man/man1/kestrelDial.1.gz ]] || fail "man found '$page'"
man --warnings -l "$page" >/dev/null 2>"$out/man.warnings" || fail "man cannot render $page"
[[ ! -s "$out/man.warnings" ]] || fail "the manual page renders with warnings: $(cat "$out/man.warnings")"
echo "   $page" >&2
for doc in config.example README.md.gz copyright changelog.Debian.gz; do
  [[ -f /usr/share/doc/kestreldial/$doc ]] || fail "/usr/share/doc/kestreldial/$doc is not installed"
done

trap - EXIT
remove_package
if installed; then
  fail "kestreldial is still installed after removal"
fi
echo "check-deb: passed" >&2
