#!/usr/bin/env bash
# layout_test.sh BUILD_DIR ARCH
# Installs BUILD_DIR, a build of the toolkit for the Debian architecture
# ARCH, into a temporary prefix, then compiles a caller of the installed
# toolkit with ARCH's compilers in several ways, and fails unless each sees
# the record `cgi_request` as the library has it (its size), with a 64-bit
# request time at one offset, or, without the flags that cgi.pc and the CMake
# package pass on, refuses to compile with a message that names them.
set -uo pipefail
build=$1
arch=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../require.sh"
skip_unless_installed readelf:binutils pkg-config dpkg-architecture:dpkg-dev
triple=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null) || exit 2
skip_unless_installed "$triple-gcc:gcc-$triple" "$triple-g++:g++-$triple"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || {
    cat "$scratch/install.log"
    exit 1
}
library=$(find "$prefix" -name libcgi.a)
pc_dir=$(dirname "$(find "$prefix" -name cgi.pc)")
pc_flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags cgi) || exit 1
# The size of the library's own record, the object cgi_request.
library_size=$(readelf -sW "$library" | awk '$8 == "cgi_request" && $7 != "UND" { print $3; exit }')
echo "$arch: libcgi.a's cgi_request has $library_size bytes; cgi.pc's Cflags: $pc_flags"

# sizes OBJECT: the record's size, the time's offset and the time's size.
sizes() {
    readelf -sW "$1" | awk '{ size[$8] = $3 } END {
        print size["layout_size"], size["layout_time_offset"], size["layout_time_size"] }'
}

failed=0
offset=
check() {
    local name=$1 object=$2 size time_offset time_size
    read -r size time_offset time_size <<<"$(sizes "$object")"
    echo "  $name: sizeof $size, request_time at $time_offset, $time_size bytes"
    offset=${offset:-$time_offset}
    if [ "$size" != "$library_size" ] || [ "$time_offset" != "$offset" ] || [ "$time_size" != 8 ]; then
        echo "FAIL: $name sees another layout of cgi_request than the library"
        failed=1
    fi
}

# Each row: a name, the compiler, then its flags.
cases=(
    "C99 with pkg-config's flags|$triple-gcc -std=c99 $pc_flags"
    "C11 with pkg-config's flags|$triple-gcc -std=c11 $pc_flags"
    "C11 with pkg-config's flags and the caller's own -D_FILE_OFFSET_BITS=64|$triple-gcc -std=c11 -D_FILE_OFFSET_BITS=64 $pc_flags"
    "C11 with pkg-config's flags and the caller's own 64-bit time|$triple-gcc -std=c11 -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 $pc_flags"
    "C++17 with pkg-config's flags|$triple-g++ -x c++ -std=c++17 $pc_flags"
)
for row in "${cases[@]}"; do
    name=${row%%|*}
    if ${row#*|} -Wall -Wextra -Werror -c -o "$scratch/layout.o" "$here/consumer/layout.c"; then
        check "$name" "$scratch/layout.o"
    else
        echo "FAIL: $name: the caller does not compile"
        failed=1
    fi
done

# C++ through the CMake package, with the toolchain file of the architecture.
if cmake -S "$here/consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/toolchains/$arch.cmake" >"$scratch/consumer.log" 2>&1 &&
    cmake --build "$scratch/consumer" --target layout >>"$scratch/consumer.log" 2>&1; then
    check "C++ through find_package(cgi)" "$(find "$scratch/consumer" -name 'layout.c.o')"
else
    cat "$scratch/consumer.log"
    echo "FAIL: the layout probe does not build through find_package(cgi)"
    failed=1
fi

# Without the flags: where they matter (a 32-bit glibc), cgi.h refuses the
# caller and names them; elsewhere the caller sees the same layout.
for compiler in "$triple-gcc -std=c99" "$triple-gcc -std=c11" "$triple-g++ -x c++ -std=c++17"; do
    name="$compiler without flags"
    if $compiler -I"$prefix/include" -c -o "$scratch/layout.o" "$here/consumer/layout.c" 2>"$scratch/error"; then
        check "$name" "$scratch/layout.o"
    elif grep -q -- '_TIME_BITS_64\|-D_TIME_BITS=64' "$scratch/error"; then
        echo "  $name: refused: $(grep -m1 -o 'error: .*' "$scratch/error")"
    else
        cat "$scratch/error"
        echo "FAIL: $name: refused without naming the flags"
        failed=1
    fi
done
exit "$failed"
