#!/usr/bin/env bash
# deb_test.sh [ARCH [LOG]]
# Builds the Debian packages for Debian architecture ARCH (default: this
# machine's; another is cross-built) from the source tree, without running
# the test suite inside the package build, since this is part of it; checks
# them with lintian and their file lists with dpkg-deb -c, extracts them into
# a temporary folder, checks that the program is the static-pie musl one of
# ARCH, runs it as a CGI program and through busybox httpd (another
# architecture's program through qemu-user, which binfmt_misc starts for the
# kernel's exec), and builds the C consumer against the extracted developer
# package with pkg-config. Exits 77 (skipped) when a tool is missing.
# dpkg-buildpackage's whole log is kept in LOG (default
# ./dpkg-buildpackage.log), out of the scratch folder this test removes.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
source "$here/../web/lib.sh"
source "$here/../web/cases.sh"
arch=${1:-$(dpkg --print-architecture)}
skip_unless_can_build "$arch"
skip_unless_installed lintian pkg-config readelf:binutils busybox curl
triple=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
cc=cc
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    skip_unless_installed "qemu-$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_CPU 2>/dev/null)-static:qemu-user-static"
    reason=$(bash "$root/scripts/binfmt.sh" "$arch" 2>&1) || {
        echo "SKIPPED: the kernel cannot run $arch programs: $reason"
        exit 77
    }
    cc="$triple-gcc -static"
fi
scratch=$(mktemp -d)
chmod 755 "$scratch" # busybox httpd's user must reach the site inside
trap 'stop_servers; rm -rf "$scratch"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}

log=${2:-$PWD/dpkg-buildpackage.log}
# The package list comes on standard output; a failure's reason on standard error.
if ! DEB_BUILD_OPTIONS=nocheck bash "$root/scripts/build-deb.sh" "$scratch/dist" "$arch" "$log" >"$scratch/debs"; then
    echo "FAIL: the package build failed (its last lines above); its whole log is $log"
    exit 1
fi
mapfile -t debs <"$scratch/debs"
program_deb=$(grep '/cgi-handler_' "$scratch/debs")
dev_deb=$(grep '/libcgi-handler-dev_' "$scratch/debs")
[ -f "$program_deb" ] && [ -f "$dev_deb" ] || { echo "FAIL: packages missing: ${debs[*]}"; exit 1; }

# lintian, with the package's own overrides: no error and no warning.
lintian "${debs[@]}" >"$scratch/lintian" 2>&1
grep -v '^running with root privileges' "$scratch/lintian" | sed 's/^/  lintian: /'
if grep -q -E '^[EW]:' "$scratch/lintian"; then
    fail "lintian reports errors or warnings"
fi

# Exactly these files, and no others.
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $NF }' | sort; }
expect_files() { # DEB FILE...
    local deb=$1
    shift
    printf '%s\n' "$@" | sort >"$scratch/expected"
    files "$deb" >"$scratch/actual"
    if ! cmp -s "$scratch/expected" "$scratch/actual"; then
        fail "$(basename "$deb") holds other files than expected:"
        diff "$scratch/expected" "$scratch/actual" | sed 's/^/    /'
    fi
}
expect_files "$program_deb" ./usr/lib/cgi-bin/handler \
    ./usr/share/doc/cgi-handler/changelog.gz ./usr/share/doc/cgi-handler/copyright \
    ./usr/share/lintian/overrides/cgi-handler
expect_files "$dev_deb" ./usr/include/cgi/cgi.h "./usr/lib/$multiarch/libcgi.a" \
    "./usr/lib/$multiarch/pkgconfig/cgi.pc" "./usr/lib/$multiarch/cmake/cgi/cgiConfig.cmake" \
    "./usr/lib/$multiarch/cmake/cgi/cgiConfigVersion.cmake" \
    "./usr/lib/$multiarch/cmake/cgi/cgiTargets.cmake" \
    "./usr/lib/$multiarch/cmake/cgi/cgiTargets-none.cmake" \
    ./usr/share/man/man3/cgi.3.gz \
    ./usr/share/doc/libcgi-handler-dev/changelog.gz ./usr/share/doc/libcgi-handler-dev/copyright
[ "$(dpkg-deb -c "$program_deb" | awk '$NF == "./usr/lib/cgi-bin/handler" { print $1 }')" = -rwxr-xr-x ] ||
    fail "usr/lib/cgi-bin/handler is not installed as -rwxr-xr-x"

extracted=$scratch/root
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$extracted"
done
handler=$extracted/usr/lib/cgi-bin/handler

# ARCH's machine; static-pie: position-independent, no program interpreter,
# no library needed, only relative relocations; musl's, not glibc's (whose
# static start-up reads GLIBC_TUNABLES).
machine=$(readelf -hW "$handler" | sed -n 's/^ *Machine: *//p')
case $arch in
amd64) expected_machine='Advanced Micro Devices X86-64' ;;
arm64) expected_machine=AArch64 ;;
armhf) expected_machine=ARM ;;
*) expected_machine=$machine ;;
esac
[ "$machine" = "$expected_machine" ] || fail "the handler is built for '$machine', not $arch"
readelf -hW "$handler" | grep -q -E 'Type: +DYN' || fail "the handler is not position-independent"
readelf -lW "$handler" | grep -q INTERP && fail "the handler names a program interpreter: not static-pie"
readelf -dW "$handler" | grep -q NEEDED && fail "the handler needs shared libraries: not static"
relocations=$(readelf -rW "$handler" | awk '$3 ~ /^R_/ && $3 !~ /_RELATIVE$/ { print $3 }' | sort -u)
[ -z "$relocations" ] || fail "the handler has other than relative relocations: $relocations"
grep -q -a GLIBC_TUNABLES "$handler" && fail "the handler is linked against glibc, not musl"

# The extracted program, run as a web server runs it.
answer=$(env -i SERVER_NAME=example.test SCRIPT_NAME=/cgi-bin/handler REMOTE_ADDR=127.0.0.1 \
    QUERY_STRING='action=list&data=caf%C3%A9+%26+co' "$handler" 2>/dev/null; echo .)
[ "$answer" = $'Pragma: No-Cache\nContent-type: text/plain\n\nList: caf\xc3\xa9 & co\n.' ] ||
    fail "the extracted handler answered: ${answer%.}"

# The C consumer, against the extracted developer package alone.
pc_dir=$extracted/usr/lib/$multiarch/pkgconfig
if flags=$(PKG_CONFIG_PATH=$pc_dir PKG_CONFIG_LIBDIR=$pc_dir pkg-config --cflags --libs cgi); then
    include_dir=$(grep -o -E -- '-I[^ ]+' <<<"$flags" | head -n 1)
    [ "$(realpath -m "${include_dir#-I}")" = "$extracted/usr/include" ] ||
        fail "pkg-config does not point into the extracted package: $flags"
    if $cc -std=c99 -Wall -Wextra -Werror -o "$scratch/hello" "$root/tests/install/consumer/hello.c" $flags; then
        answer=$(env -i QUERY_STRING='name=J+Doe' "$scratch/hello")
        [ "$answer" = $'Content-type: text/plain\n\nHello, J Doe!' ] || fail "hello answered: $answer"
    else
        fail "the C consumer does not build with: $flags"
    fi
else
    fail "pkg-config finds no cgi in $pc_dir"
fi

# Through busybox httpd, the web server of many boards: every case, exact.
PATH=$PATH:/usr/sbin:/sbin
served=
for _ in 1 2 3 4 5; do
    port=$(random_free_port) || break
    config=$("$root/scripts/host-site.sh" busybox "$scratch/site-$port" "$port" "$handler") || break
    user=()
    [ "$(id -u)" -eq 0 ] && user=(-u "$(stat -c %U:%G "$scratch/site-$port/run")")
    start_server busybox httpd -f -p "127.0.0.1:$port" -h "$scratch/site-$port/htdocs" -c "$config" \
        "${user[@]}" 2>"$scratch/busybox.log"
    if wait_until_serving "http://127.0.0.1:$port/"; then
        served=$port
        break
    fi
    stop_servers
done
if [ -z "$served" ]; then
    fail "busybox httpd did not start serving on 127.0.0.1"
else
    run_web_cases "http://127.0.0.1:$served/cgi-bin/handler"
    stop_servers
    echo "busybox httpd, the $arch program: $checks_passed cases answered exactly, $checks_failed not"
    # qemu-user refuses seccomp: there the program says, in the server's
    # log, that it runs unconfined.
    unconfined=$(grep -c 'running unconfined' "$scratch/busybox.log")
    [ "$unconfined" -eq 0 ] || echo "  of which unconfined: $unconfined ($(grep -m1 -o 'seccomp.*' "$scratch/busybox.log"))"
    [ "$checks_failed" -eq 0 ] && [ "$checks_passed" -gt 0 ] || fail "busybox httpd's answers"
fi

if [ "$failed" -gt 0 ]; then
    exit 1
fi
echo "built ${debs[*]##*/}: lintian clean, file lists as expected, static-pie on musl for $arch, the extracted program answers, through busybox httpd too, and the C consumer builds"
