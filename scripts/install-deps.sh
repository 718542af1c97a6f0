#!/usr/bin/env bash
# install-deps.sh GOAL...
# Installs, from Debian's packages, whatever the named goals need and this
# machine lacks; uses sudo when not root. Goals: build, serve, test, fuzz,
# bench, deb, and release-ARCH for the release program of a Debian
# architecture (amd64, arm64, armhf): this machine's own, or cross-built,
# with the target's compiler, binutils and musl, and qemu-user to run it.
set -euo pipefail

native_arch=$(dpkg --print-architecture)

# A package of another architecture is named PACKAGE:ARCH; that architecture
# is added to dpkg before the package lists are read.
release_packages() {
    local arch=$1 triple
    if [ "$arch" = "$native_arch" ]; then
        echo "g++ cmake make musl-tools lld"
        return
    fi
    # dpkg-architecture names the target's triple, here and in the
    # toolchain files.
    command -v dpkg-architecture >/dev/null || bash "${BASH_SOURCE[0]}" dpkg-dev >&2
    triple=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null) || {
        echo "install-deps.sh: dpkg knows no architecture '$arch'" >&2
        return 1
    }
    echo "dpkg-dev cmake make lld g++-$triple binutils-$triple musl-dev:$arch qemu-user-static"
}

packages_for() {
    case $1 in
    build) echo "g++ cmake make musl-tools lld" ;;
    serve) echo "g++ cmake make musl-tools lld lighttpd curl" ;;
    test) echo "g++ cmake make musl-tools lld libgtest-dev libgtest-dev:arm64 libgtest-dev:armhf lighttpd curl wrk valgrind binutils clang libclang-rt-14-dev apache2 nginx fcgiwrap busybox strace util-linux pkg-config groff-base man-db dpkg-dev debhelper lintian chromium chromium-driver python3-selenium" ;;
    fuzz) echo "cmake make clang libclang-rt-14-dev" ;;
    deb) echo "g++ cmake make musl-tools lld libgtest-dev pkg-config dpkg-dev debhelper lintian" ;;
    bench) echo "g++ cmake make musl-tools lld valgrind lighttpd wrk curl time linux-perf" ;;
    release-*) release_packages "${1#release-}" ;;
    dpkg-dev) echo "dpkg-dev" ;;
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
    packages=$(packages_for "$goal")
    for package in $packages; do
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
for package in "${missing[@]}"; do
    arch=${package#*:}
    if [ "$arch" != "$package" ] && [ "$arch" != "$native_arch" ] &&
        ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        "${as_root[@]}" dpkg --add-architecture "$arch"
    fi
done
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
