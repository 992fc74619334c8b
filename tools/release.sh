#!/usr/bin/env bash
# Makes release VERSION of the commit checked out, in build/release:
#   kestreldial-VERSION.tar.xz          git archive of HEAD without debian/, everything under
#                                       kestreldial-VERSION/
#   kestreldial-VERSION.tar.xz.sha256   its checksum, for sha256sum -c
#   the Debian source package           kestreldial_VERSION.orig.tar.xz (the same tarball),
#                                       kestreldial_VERSION-REV.debian.tar.xz and .dsc
#   kestreldial_VERSION-REV_*.deb       the binary packages built from them, with the
#                                       .changes and .buildinfo of that build
#
#   tools/release.sh [--tag] VERSION
#
# Refuses a work tree with changes, a VERSION that CMakeLists.txt (the one place that states
# it; the manual page takes it from there) or the upstream part of debian/changelog's latest
# version does not state, and a release date in CMakeLists.txt (KD_RELEASE_DATE) that is not
# the day of that changelog entry. The tarballs and the packages depend on the commit alone:
# the upstream tarball's file times are the commit's, and the Debian tarball's and the
# packages' are clamped to the date of debian/changelog, which must not be after the commit.
# The packages are built where git cannot see this repository, so the tarball is shown to
# build without git. --tag then tags HEAD vVERSION (locally; nothing is pushed).
set -euo pipefail
cd "$(dirname "$0")/.."
exec </dev/null

fail() {
  echo "release: FAILED: $*" >&2
  exit 1
}
usage() {
  echo "usage: tools/release.sh [--tag] VERSION" >&2
  exit 2
}

tag=0
version=""
for argument in "$@"; do
  case "$argument" in
    --tag) tag=1 ;;
    -*) usage ;;
    *)
      [[ -z "$version" ]] || usage
      version="$argument"
      ;;
  esac
done
[[ -n "$version" ]] || usage
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "'$version' is not a version of the form 1.2.3"

git rev-parse --git-dir >/dev/null 2>&1 || fail "this is not a git work tree"
changes="$(git status --porcelain)"
[[ -z "$changes" ]] || fail "the work tree has changes; commit or stash them first:
$changes"
commit="$(git rev-parse HEAD)"
commit_time="$(git log -1 --format=%ct HEAD)"

echo "== version $version at $(git log -1 --format='%h %cd' --date=iso-strict HEAD)" >&2
cmake_version="$(sed -n 's/^project(kestrelDial VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)"
[[ "$cmake_version" == "$version" ]] || fail "CMakeLists.txt says version '$cmake_version'"
release_date="$(sed -n 's/^set(KD_RELEASE_DATE \([0-9-]*\))$/\1/p' CMakeLists.txt)"
[[ "$release_date" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]] ||
  fail "CMakeLists.txt has no set(KD_RELEASE_DATE YYYY-MM-DD) ('$release_date')"
grep -q '^\.TH .* "@KD_RELEASE_DATE@" "kestrelDial @PROJECT_VERSION@" ' docs/kestrelDial.1.in ||
  fail "the header of docs/kestrelDial.1.in does not take the date and version from CMakeLists.txt"
changelog_version="$(dpkg-parsechangelog -S Version)"
[[ "$changelog_version" =~ ^${version//./\\.}-[0-9A-Za-z.+~]+$ ]] ||
  fail "debian/changelog's latest entry is $changelog_version; add one for $version-1 (or the next Debian revision)"
distribution="$(dpkg-parsechangelog -S Distribution)"
[[ "$distribution" != UNRELEASED ]] || fail "debian/changelog's entry for $version is UNRELEASED"
changelog_time="$(dpkg-parsechangelog -S Timestamp)"
((changelog_time <= commit_time)) ||
  fail "debian/changelog is dated $(dpkg-parsechangelog -S Date), after the commit: dpkg would not clamp file times to it"
changelog_day="$(date -u -d "@$changelog_time" +%F)"
[[ "$changelog_day" == "$release_date" ]] ||
  fail "debian/changelog's entry is dated $changelog_day (UTC), CMakeLists.txt's KD_RELEASE_DATE is $release_date"
if existing="$(git rev-parse -q --verify "refs/tags/v$version^{commit}")"; then
  [[ "$existing" == "$commit" ]] || fail "the tag v$version already names another commit, $existing"
fi
echo "   CMakeLists.txt ($release_date), debian/changelog ($changelog_version, $distribution, $(dpkg-parsechangelog -S Date)), manual page from CMake" >&2

name="kestreldial-$version"
out=build/release
rm -rf "$out" && mkdir -p "$out"
tarball="$out/$name.tar.xz"
echo "== $tarball" >&2
# The settings that change what git archive writes are fixed here, so that no one's git
# configuration changes the bytes; xz in single-threaded mode writes the same stream on every
# machine with the same xz. debian/ is the Debian package's, not part of the release.
git -c tar.umask=0002 -c core.autocrlf=false -c core.eol=lf \
  archive --format=tar --prefix="$name/" "$commit" -- . ':(exclude)debian' |
  xz -9 --threads=1 --check=crc64 -c >"$tarball"
(cd "$out" && sha256sum "$name.tar.xz" >"$name.tar.xz.sha256")
sed 's/^/   /' "$out/$name.tar.xz.sha256" >&2

echo "== dpkg-buildpackage: the unpacked tarball as kestreldial_$version.orig.tar.xz, with debian/" >&2
work="$out/build"
mkdir -p "$work"
cp "$tarball" "$work/kestreldial_$version.orig.tar.xz"
tar -xJf "$tarball" -C "$work"
tree="$(realpath "$work/$name")"
git archive --format=tar "$commit" debian | tar -xf - -C "$tree"
# Git looks for a repository no higher than the tarball's own directory, so a build step
# that needs git fails here as it would for anyone who has only the tarball.
GIT_CEILING_DIRECTORIES="$(dirname "$tree")"
export GIT_CEILING_DIRECTORIES
unset GIT_DIR GIT_WORK_TREE
if (cd "$tree" && git rev-parse --git-dir >/dev/null 2>&1); then
  fail "git still sees a repository from $tree"
fi
(cd "$tree" && env -u SOURCE_DATE_EPOCH DEB_BUILD_OPTIONS="parallel=$(nproc)" \
  dpkg-buildpackage -us -uc) >"$out/build.log" 2>&1 || {
  tail -n 30 "$out/build.log" >&2
  fail "dpkg-buildpackage failed (the log is $out/build.log)"
}
cmp -s "$tarball" "$work/kestreldial_$version.orig.tar.xz" || fail "the build changed the .orig.tar.xz"
debs=("$work"/kestreldial_"$changelog_version"_*.deb)
[[ -f "${debs[0]}" ]] || fail "the build made no kestreldial_${changelog_version}_*.deb"
for file in "$work"/kestreldial_"$changelog_version".dsc "$work"/kestreldial_"$changelog_version".debian.tar.* \
  "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo; do
  cp "$file" "$out"/
done
ln "$tarball" "$out/kestreldial_$version.orig.tar.xz"
deb="$out/$(basename "${debs[0]}")"
package_version="$(dpkg-deb --field "$deb" Version)"
[[ "$package_version" == "$changelog_version" ]] || fail "the package's version is $package_version"
header="$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/man/man1/kestrelDial.1.gz | zcat | grep '^\.TH ')"
[[ "$header" == *" \"$release_date\" \"kestrelDial $version\" "* ]] || fail "the manual page's header is: $header"
grep -E '^[0-9]+% tests passed' "$out/build.log" | sed 's/^/   build-time tests: /' >&2
for file in "$out"/kestreldial_* "$out"/kestreldial-dbgsym_*; do
  [[ "$file" == *.changes || "$file" == *.buildinfo ]] && continue
  echo "   $(sha256sum "$file" | cut -d' ' -f1)  $(basename "$file")" >&2
done

if ((tag)); then
  echo "== tag v$version" >&2
  if [[ -z "${existing:-}" ]]; then
    git tag -a "v$version" -m "kestrelDial $version" "$commit"
  fi
  echo "   v$version -> $(git rev-parse --short "v$version^{commit}")" >&2
fi
echo "release: $name in $out" >&2
