#!/usr/bin/env bash
# deb_test.sh [LOG]
# Builds the Debian packages from the source tree (without running the test
# suite inside the package build, since this is part of it), checks them
# with lintian and their file lists with dpkg-deb -c, extracts them into a
# temporary folder, runs the extracted program as a CGI program, and builds
# the C consumer against the extracted developer package with pkg-config.
# Exits 77 (skipped) when the Debian packaging tools are not installed.
# dpkg-buildpackage's whole log is kept in LOG (default
# ./dpkg-buildpackage.log), out of the scratch folder this test removes.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ -n "${CGI_IN_PACKAGE_BUILD:-}" ]; then
    echo "SKIPPED: running inside the package build it would test"
    exit 77
fi
source "$here/../require.sh"
skip_unless_installed dpkg-buildpackage:dpkg-dev dh:debhelper lintian pkg-config
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}

log=${1:-$PWD/dpkg-buildpackage.log}
# The package list comes on standard output; a failure's reason on standard error.
if ! DEB_BUILD_OPTIONS=nocheck bash "$root/scripts/build-deb.sh" "$scratch/dist" "$log" >"$scratch/debs"; then
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
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
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

# The extracted program, run as a web server runs it.
extracted=$scratch/root
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$extracted"
done
answer=$(env -i SERVER_NAME=example.test SCRIPT_NAME=/cgi-bin/handler REMOTE_ADDR=127.0.0.1 \
    QUERY_STRING='action=list&data=caf%C3%A9+%26+co' "$extracted/usr/lib/cgi-bin/handler"; echo .)
[ "$answer" = $'Pragma: No-Cache\nContent-type: text/plain\n\nList: caf\xc3\xa9 & co\n.' ] ||
    fail "the extracted handler answered: ${answer%.}"

# The C consumer, against the extracted developer package alone.
pc_dir=$extracted/usr/lib/$multiarch/pkgconfig
if flags=$(PKG_CONFIG_PATH=$pc_dir PKG_CONFIG_LIBDIR=$pc_dir pkg-config --cflags --libs cgi); then
    include_dir=$(grep -o -E -- '-I[^ ]+' <<<"$flags" | head -n 1)
    [ "$(realpath -m "${include_dir#-I}")" = "$extracted/usr/include" ] ||
        fail "pkg-config does not point into the extracted package: $flags"
    if cc -std=c99 -Wall -Wextra -Werror -o "$scratch/hello" "$root/tests/install/consumer/hello.c" $flags; then
        answer=$(env -i QUERY_STRING='name=J+Doe' "$scratch/hello")
        [ "$answer" = $'Content-type: text/plain\n\nHello, J Doe!' ] || fail "hello answered: $answer"
    else
        fail "the C consumer does not build with: $flags"
    fi
else
    fail "pkg-config finds no cgi in $pc_dir"
fi

if [ "$failed" -gt 0 ]; then
    exit 1
fi
echo "built ${debs[*]##*/}: lintian clean, file lists as expected, the extracted program answers and the C consumer builds"
