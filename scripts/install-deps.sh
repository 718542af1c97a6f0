#!/usr/bin/env bash
# install-deps.sh GOAL...
# Installs, from Debian's packages, whatever the named goals need and this
# machine lacks; uses sudo when not root. Goals: build, serve, test, fuzz,
# bench, deb, fresh-check, kernel, and release-ARCH for the release program of a Debian
# architecture (amd64, arm64, armhf): this machine's own, or cross-built,
# with the target's compiler, binutils and musl, and qemu-user to run it;
# deb-ARCH for the Debian packages of ARCH.
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
    test) echo "g++ cmake make musl-tools lld libgtest-dev libgtest-dev:arm64 libgtest-dev:armhf lighttpd curl wrk valgrind binutils clang libclang-rt-14-dev apache2-bin nginx fcgiwrap busybox strace util-linux pkg-config groff-base man-db build-essential dpkg-dev debhelper lintian chromium chromium-driver python3-selenium" ;;
    fuzz) echo "cmake make clang libclang-rt-14-dev" ;;
    deb) echo "g++ cmake make musl-tools lld libgtest-dev pkg-config build-essential dpkg-dev debhelper lintian" ;;
    # A cross package build: the release program's tools, and the compilers
    # as Debian's cross builds expect them; busybox httpd serves the packaged
    # program in the package test.
    deb-"$native_arch") packages_for deb ;;
    deb-*) echo "$(release_packages "${1#deb-}") build-essential debhelper lintian crossbuild-essential-${1#deb-} busybox curl" ;;
    bench) echo "g++ cmake make musl-tools lld valgrind lighttpd wrk curl time linux-perf" ;;
    fresh-check) echo "mmdebstrap git util-linux" ;;
    release-*) release_packages "${1#release-}" ;;
    # The runs on arm64's and armhf's own kernels: qemu-system, GoogleTest of
    # each target for its static test programs, busybox's cpio for the
    # initramfs (the kernels themselves are fetched by the tests, not installed).
    kernel) echo "$(release_packages arm64) $(release_packages armhf) qemu-system-arm busybox libgtest-dev:arm64 libgtest-dev:armhf" ;;
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

# The web servers that the tests and `make serve` start themselves, on free
# ports of 127.0.0.1. Debian's packages of them also enable a system service
# each, and start it where systemd runs, which nobody asked for here. (Apache
# httpd comes as apache2-bin, which has no service.)
web_servers=" lighttpd nginx fcgiwrap "

# Every link by which systemd, or a SysV init, starts something at boot.
enabled_links() {
    find /etc/systemd/system /etc/rc2.d /etc/rc3.d /etc/rc4.d /etc/rc5.d -mindepth 1 -maxdepth 2 \
        -type l \( -path '*.wants/*' -o -path '*.requires/*' -o -path '*/rc?.d/S*' \) 2>/dev/null | sort
}

# has_link NAME LINKS: whether one of LINKS starts the unit, or init script,
# NAME.
has_link() {
    grep -q -E "/(${1//./\\.}|S[0-9]+${1%.*})\$" <<<"$2"
}

installed_packages() {
    dpkg-query -W -f='${binary:Package} ${Status}\n' | grep ' installed$' | cut -d' ' -f1
}

policy=/usr/sbin/policy-rc.d
policy_mark='# install-deps.sh: no service starts while it installs'
remove_policy() {
    if grep -q -F "$policy_mark" "$policy" 2>/dev/null; then
        "${as_root[@]}" rm -f "$policy"
    fi
}

# install_without_services PACKAGE...
# Installs the packages and leaves no service enabled or running that was
# not before. While apt runs, a policy-rc.d that forbids every start (where
# the machine has no policy-rc.d of its own) keeps their services from
# starting; then each unit, or init script, of a package that this install
# added, and that is enabled now but was not before, is disabled again, and
# stopped where systemd runs (in case a policy of the machine let it start).
install_without_services() {
    local links_before packages_before new_links package pattern unit name
    local -a units=()
    links_before=$(enabled_links)
    packages_before=$(installed_packages)
    if [ ! -e "$policy" ]; then
        trap remove_policy EXIT
        trap 'exit 130' INT TERM
        printf '#!/bin/sh\n%s\nexit 101\n' "$policy_mark" | "${as_root[@]}" tee "$policy" >/dev/null
        "${as_root[@]}" chmod 755 "$policy"
    fi
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "$@"
    remove_policy

    new_links=$(comm -13 <(echo "$links_before") <(enabled_links))
    for package in $(installed_packages); do
        grep -q -x -F "$package" <<<"$packages_before" && continue
        # systemd's units where systemctl is, which take their init
        # scripts' links along (systemd-sysv-install); else the init scripts.
        if command -v systemctl >/dev/null; then
            pattern='^(/usr)?/lib/systemd/system/[^/@]+\.(service|socket|timer)$'
        else
            pattern='^/etc/init\.d/[^/]+$'
        fi
        for unit in $(dpkg -L "$package" | grep -E "$pattern"); do
            name=$(basename "$unit")
            if has_link "$name" "$new_links"; then
                units+=("$name")
            fi
        done
    done
    [ ${#units[@]} -eq 0 ] && return 0
    echo "Disabling what the install enabled: ${units[*]}"
    for unit in "${units[@]}"; do
        if command -v systemctl >/dev/null; then
            "${as_root[@]}" systemctl disable -q "$unit"
            if [ -d /run/systemd/system ]; then
                "${as_root[@]}" systemctl stop "$unit"
            fi
        else
            "${as_root[@]}" update-rc.d "$unit" disable
            "${as_root[@]}" invoke-rc.d "$unit" stop || true
        fi
    done
    # Checked: none of them is enabled, or running, now.
    new_links=$(comm -13 <(echo "$links_before") <(enabled_links))
    for unit in "${units[@]}"; do
        if has_link "$unit" "$new_links" ||
            { [ -d /run/systemd/system ] && systemctl is-active -q "$unit"; }; then
            echo "install-deps.sh: $unit is still enabled or running" >&2
            return 1
        fi
    done
}

web=()
others=()
for package in "${missing[@]}"; do
    if [[ $web_servers == *" $package "* ]]; then
        web+=("$package")
    else
        others+=("$package")
    fi
done
echo "Installing: ${missing[*]}"
for package in "${missing[@]}"; do
    arch=${package#*:}
    if [ "$arch" != "$package" ] && [ "$arch" != "$native_arch" ] &&
        ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        "${as_root[@]}" dpkg --add-architecture "$arch"
    fi
done
"${as_root[@]}" apt-get update -q
if [ ${#others[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${others[@]}"
fi
if [ ${#web[@]} -gt 0 ]; then
    install_without_services "${web[@]}"
fi
