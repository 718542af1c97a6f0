#!/usr/bin/env bash
# check_elf_test.sh CHECK BINARY FUNCTION LIBC [LINK]
# Runs CHECK on BINARY, built against LIBC and linked LINK (static or
# dynamic; it must pass), then on probes that it must fail, so that a check
# which can no longer see a property does not pass unnoticed: a glibc probe
# built with every hardening turned off (it must fail on each of the ten
# checks), and, where the 32-bit ARM cross compiler and musl are installed,
# a probe linked for armhf with GCC's plain -static-pie, which GCC 12's ARM
# driver ignores: the check must see its interpreter and its GOT
# relocations, and pass the same probe linked as a static-pie piece by piece.
set -uo pipefail
check=$1
binary=$2
function=$3
libc=$4
link=${5:-static}

bash "$check" "$binary" "$function" "$libc" "$link" || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cat >"$scratch/probe.c" <<'C'
#include <stdio.h>
#include <string.h>
int probe(const char *text) {
    char buffer[64];
    strcpy(buffer, text);
    printf("%s\n", buffer);
    return (int)strlen(buffer);
}
int main(int argc, char **argv) { return probe(argc > 1 ? argv[1] : ""); }
C
cc -O2 -U_FORTIFY_SOURCE -fno-stack-protector -fno-pie -no-pie -Wl,-z,norelro -Wl,-z,lazy \
    -Wl,-z,execstack -o "$scratch/probe" "$scratch/probe.c" || exit 2
report=$(bash "$check" "$scratch/probe" probe)
echo "$report" | sed 's/^/  unhardened probe: /'
count=$(grep -c '^MISSING' <<<"$report")
if [ "$count" -ne 10 ]; then
    echo "FAIL: the check saw $count of the 10 missing properties in an unhardened probe"
    exit 1
fi
echo "the check rejects an unhardened probe on every property"

arm_cc=arm-linux-gnueabihf-gcc
musl=/usr/lib/arm-linux-musleabihf
if ! command -v "$arm_cc" >/dev/null || [ ! -f "$musl/rcrt1.o" ]; then
    echo "not tried: the armhf -static-pie probe (needs $arm_cc and musl-dev:armhf)"
    exit 0
fi
"$arm_cc" -O2 -fPIE -fstack-protector-strong -nostdinc -isystem /usr/include/arm-linux-musleabihf \
    -isystem "$("$arm_cc" -print-file-name=include)" -c -o "$scratch/probe.o" "$scratch/probe.c" ||
    exit 2
arm_link() {
    "$arm_cc" -nostdlib "$@" -Wl,-z,relro,-z,now,-z,noexecstack \
        "$musl/rcrt1.o" "$musl/crti.o" "$("$arm_cc" -print-file-name=crtbeginS.o)" "$scratch/probe.o" \
        -Wl,--start-group "$musl/libc.a" "$("$arm_cc" -print-libgcc-file-name)" -Wl,--end-group \
        "$("$arm_cc" -print-file-name=crtendS.o)" "$musl/crtn.o"
}
arm_link -static-pie -o "$scratch/probe-arm-plain" || exit 2
arm_link -static -Wl,-pie,--no-dynamic-linker,-z,text -o "$scratch/probe-arm-pieces" || exit 2
report=$(bash "$check" "$scratch/probe-arm-plain" probe musl static)
echo "$report" | sed 's/^/  armhf -static-pie probe: /'
if [ "$(grep -c '^MISSING' <<<"$report")" -ne 2 ] ||
    ! grep -q '^MISSING: a static-pie: it has an interpreter' <<<"$report" ||
    ! grep -q '^MISSING: a static-pie: relocations other than relative ones' <<<"$report"; then
    echo "FAIL: the check did not see exactly the interpreter and the GOT relocations of the armhf -static-pie probe"
    exit 1
fi
report=$(bash "$check" "$scratch/probe-arm-pieces" probe musl static)
echo "$report" | sed 's/^/  armhf static-pie probe linked piece by piece: /'
if grep -q '^MISSING' <<<"$report"; then
    echo "FAIL: the check rejects the armhf probe linked as a static-pie piece by piece"
    exit 1
fi
echo "the check rejects the armhf program that -static-pie links, and passes the static-pie"
