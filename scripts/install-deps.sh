#!/usr/bin/env bash
# install-deps.sh GOAL...
# Installs, from Debian's packages, whatever the named goals need and this
# machine lacks; uses sudo when not root. Goals: build, serve, test, fuzz,
# bench, deb, fresh-check.
set -euo pipefail

packages_for() {
    case $1 in
    build) echo "g++ cmake make musl-tools lld" ;;
    serve) echo "g++ cmake make musl-tools lld lighttpd curl" ;;
    test) echo "g++ cmake make musl-tools lld libgtest-dev lighttpd curl wrk valgrind binutils clang libclang-rt-14-dev apache2 nginx fcgiwrap busybox strace util-linux pkg-config groff-base man-db build-essential dpkg-dev debhelper lintian chromium chromium-driver python3-selenium" ;;
    fuzz) echo "cmake make clang libclang-rt-14-dev" ;;
    deb) echo "g++ cmake make musl-tools lld libgtest-dev pkg-config build-essential dpkg-dev debhelper lintian" ;;
    bench) echo "g++ cmake make musl-tools lld valgrind lighttpd wrk curl time linux-perf" ;;
    fresh-check) echo "mmdebstrap git util-linux" ;;
    *)
        echo "install-deps.sh: unknown goal '$1'" >&2
        return 1
        ;;
    esac
}

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for goal in "$@"; do
    for package in $(packages_for "$goal"); do
        if ! installed "$package" && [[ " ${missing[*]} " != *" $package "* ]]; then
            missing+=("$package")
        fi
    done
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! command -v apt-get >/dev/null; then
    echo "install-deps.sh: missing ${missing[*]}, and no apt-get to install them with" >&2
    exit 1
fi
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
