#!/usr/bin/env bash
# install-deps.sh GOAL...
# Installs, from Debian's packages, whatever the named goals need and this
# machine lacks; uses sudo when not root. Goals: build, serve, test, fuzz,
# bench, deb, and deb-ARCH for the packages of Debian architecture ARCH
# (arm64, armhf), cross-built here.
set -euo pipefail

packages_for() {
    case $1 in
    build) echo "g++ cmake make musl-tools lld" ;;
    serve) echo "g++ cmake make musl-tools lld lighttpd curl" ;;
    test) echo "g++ cmake make musl-tools lld libgtest-dev lighttpd curl wrk valgrind binutils clang libclang-rt-14-dev apache2 nginx fcgiwrap busybox strace util-linux pkg-config groff-base man-db dpkg-dev debhelper lintian chromium chromium-driver python3-selenium $(packages_for deb-arm64) $(packages_for deb-armhf)" ;;
    fuzz) echo "cmake make clang libclang-rt-14-dev" ;;
    deb) echo "g++ cmake make musl-tools lld libgtest-dev pkg-config dpkg-dev debhelper lintian" ;;
    # A cross package build: the cross compilers and the target's musl (its
    # architecture is added to dpkg's below); qemu-user and busybox httpd run
    # the packaged program in the package test.
    deb-*)
        local arch=${1#deb-}
        if [ "$arch" = "$(dpkg --print-architecture)" ]; then
            packages_for deb
        else
            echo "cmake make lld dpkg-dev debhelper lintian crossbuild-essential-$arch musl-dev:$arch qemu-user-static busybox curl"
        fi
        ;;
    bench) echo "g++ cmake make musl-tools lld valgrind lighttpd wrk curl time linux-perf" ;;
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
# Packages of another architecture (musl-dev:arm64) need it among dpkg's.
for package in "${missing[@]}"; do
    arch=${package#*:}
    if [ "$arch" != "$package" ] && ! dpkg --print-foreign-architectures | grep -q -x "$arch"; then
        "${as_root[@]}" dpkg --add-architecture "$arch"
    fi
done
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
