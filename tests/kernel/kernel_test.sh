#!/usr/bin/env bash
# kernel_test.sh SOURCE_DIR NATIVE_PAGE_FAULTS NATIVE_HANDLER [--panic] ARCH CROSS_BUILD_DIR [CMAKE_OPTION...]
# Cross-builds the handler and the static test programs for ARCH into
# CROSS_BUILD_DIR (its toolchain file, -DCGI_KERNEL_TESTS=ON and the options
# given), then boots them on ARCH's own kernel (run.sh). Exits 77 (skipped)
# with the reason when the cross compiler or GoogleTest for ARCH is missing.
set -uo pipefail
source=$1
native_faults=$2
native_handler=$3
shift 3
panic=()
if [ "$1" = --panic ]; then
    panic=(--panic)
    shift
fi
arch=$1
build=$2
shift 2
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../require.sh"

triple=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
skip_unless_installed "$triple-g++:g++-$triple"
if [ ! -e "/usr/lib/$multiarch/libgtest.a" ]; then
    echo "SKIPPED: GoogleTest for $arch is not installed (Debian package libgtest-dev:$arch)"
    exit 77
fi

mkdir -p "$build"
echo "cross build for $arch in $build: $*"
started=$(date +%s)
if ! { cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchains/$arch.cmake" \
    -DCGI_KERNEL_TESTS=ON "$@" && cmake --build "$build" -j "$(nproc)"; } >"$build/build.log" 2>&1; then
    tail -n 30 "$build/build.log"
    echo "FAIL: the $arch cross build failed (all of it in $build/build.log)"
    exit 1
fi
echo "cross build: $(($(date +%s) - started)) s"
exec bash "$here/run.sh" "${panic[@]}" "$arch" "$build" "$native_faults" "$native_handler"
