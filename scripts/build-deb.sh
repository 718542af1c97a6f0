#!/usr/bin/env bash
# build-deb.sh OUT_DIR [ARCH [LOG]]
# Builds the Debian binary packages (cgi-handler and libcgi-handler-dev) from
# this source tree with dpkg-buildpackage and debhelper, for Debian
# architecture ARCH (default: this machine's; another one is cross-built with
# the cross and nocheck profiles), copies them into OUT_DIR and prints their
# paths, one a line, on standard output. The version is the CMake project's,
# written into the changelog of a copy of the tree, so that it is set in
# CMakeLists.txt alone. The package build runs the test suite unless
# DEB_BUILD_OPTIONS has nocheck or the build is a cross build.
#
# dpkg-buildpackage's whole output goes to LOG (default
# OUT_DIR/dpkg-buildpackage.log), which outlives the scratch copy of the tree;
# when the build fails, its last lines go to standard error, where a caller
# that reads the package list from standard output still shows them.
#
# The changelog's date, from which debhelper takes SOURCE_DATE_EPOCH and so
# every timestamp in the packages, is SOURCE_DATE_EPOCH when set, else the
# date of the last commit: two builds of one commit give the same bytes.
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_arch=$(dpkg --print-architecture)
arch=${2:-$build_arch}
log=${3:-$out/dpkg-buildpackage.log}
mkdir -p "$(dirname "$log")"
log=$(cd "$(dirname "$log")" && pwd)/$(basename "$log")
options=()
if [ "$arch" != "$build_arch" ]; then
    options=(-a "$arch" -Pcross,nocheck)
    export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }nocheck"
elif [[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]]; then
    options=(-Pnocheck)
fi

version=$(sed -n -E 's/^project\([a-z_]+ VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "build-deb.sh: no project version in CMakeLists.txt" >&2; exit 1; }
maintainer=$(sed -n 's/^Maintainer: //p' "$root/debian/control")
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    date=$(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")
elif ! date=$(git -C "$root" log -1 --format=%cD 2>/dev/null) || [ -z "$date" ]; then
    date=$(LC_ALL=C date -R) # a tree without its history: the time of the build
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/cgi-handler-$version
mkdir "$tree"
# The tree without build folders, packages made before, or version control.
tar -C "$root" --exclude='./build*' --exclude='./dist' --exclude='./.git' -cf - . | tar -C "$tree" -xf -
cat >"$tree/debian/changelog" <<CHANGELOG
cgi-handler ($version) unstable; urgency=medium

  * Version $version, packaged from the source tree.

 -- $maintainer  $date
CHANGELOG

(cd "$tree" && dpkg-buildpackage -b -us -uc "${options[@]}") >"$log" 2>&1 || {
    {
        echo "build-deb.sh: dpkg-buildpackage failed; the last lines of its log:"
        tail -n 40 "$log" | sed 's/^/    /'
        echo "build-deb.sh: its whole log is $log"
    } >&2
    exit 1
}
# The test suite's closing line, when the package build ran it.
grep -E '^[0-9]+% tests passed' "$log" | sed 's/^/package build: /' >&2 || true
for package in cgi-handler libcgi-handler-dev; do
    cp "$work/${package}_${version}_${arch}.deb" "$out/"
    echo "$out/${package}_${version}_${arch}.deb"
done
