#!/usr/bin/env bash
# check_elf_test.sh CHECK BINARY FUNCTION LIBC
# Runs CHECK on BINARY, built against LIBC (it must pass), then on a glibc
# probe built with every hardening turned off (it must fail on each of the
# seven checks), so that a check which can no longer see a property does not
# pass unnoticed.
set -uo pipefail
check=$1
binary=$2
function=$3
libc=$4

bash "$check" "$binary" "$function" "$libc" || exit 1

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
if [ "$count" -ne 7 ]; then
    echo "FAIL: the check saw $count of the 7 missing properties in an unhardened probe"
    exit 1
fi
echo "the check rejects an unhardened probe on every property"
