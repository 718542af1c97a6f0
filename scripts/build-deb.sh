#!/usr/bin/env bash
# build-deb.sh OUT_DIR [LOG]
# Builds the Debian binary packages (cgi-handler and libcgi-handler-dev) from
# this source tree with dpkg-buildpackage and debhelper, copies them into
# OUT_DIR and prints their paths, one a line, on standard output. The version
# is the CMake project's, written into the changelog of a copy of the tree, so
# that it is set in CMakeLists.txt alone. The package build runs the test
# suite unless DEB_BUILD_OPTIONS has nocheck.
# dpkg-buildpackage's whole output goes to LOG (default
# OUT_DIR/dpkg-buildpackage.log), which outlives the scratch copy of the tree;
# when the build fails, its last lines go to standard error, where a caller
# that reads the package list from standard output still shows them.
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
log=${2:-$out/dpkg-buildpackage.log}
mkdir -p "$(dirname "$log")"
log=$(cd "$(dirname "$log")" && pwd)/$(basename "$log")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

version=$(sed -n -E 's/^project\([a-z_]+ VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "build-deb.sh: no project version in CMakeLists.txt" >&2; exit 1; }
maintainer=$(sed -n 's/^Maintainer: //p' "$root/debian/control")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/cgi-handler-$version
mkdir "$tree"
# The tree without build folders, packages made before, or version control.
tar -C "$root" --exclude='./build*' --exclude='./dist' --exclude='./.git' -cf - . | tar -C "$tree" -xf -
cat >"$tree/debian/changelog" <<CHANGELOG
cgi-handler ($version) unstable; urgency=medium

  * Version $version, packaged from the source tree.

 -- $maintainer  $(date -R)
CHANGELOG

(cd "$tree" && dpkg-buildpackage -b -us -uc) >"$log" 2>&1 || {
    {
        echo "build-deb.sh: dpkg-buildpackage failed; the last lines of its log:"
        tail -n 40 "$log" | sed 's/^/    /'
        echo "build-deb.sh: its whole log is $log"
    } >&2
    exit 1
}
# The test suite's closing line, when the package build ran it.
grep -E '^[0-9]+% tests passed' "$log" | sed 's/^/package build: /' >&2 || true
arch=$(dpkg --print-architecture)
for package in cgi-handler libcgi-handler-dev; do
    cp "$work/${package}_${version}_${arch}.deb" "$out/"
    echo "$out/${package}_${version}_${arch}.deb"
done
