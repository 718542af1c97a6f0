#!/usr/bin/env bash
# check_elf.sh BINARY FUNCTION [LIBC]
# Fails unless BINARY is position-independent, has full RELRO with immediate
# binding and a non-executable stack, calls fortified functions, and guards
# FUNCTION (one of its own with a local array) with a stack canary.
# LIBC is glibc (the default) or musl. musl has no _FORTIFY_SOURCE, so the
# fortified calls are not required of a musl program; instead it must hold
# nothing of the C++ runtime (libstdc++, libsupc++), being a C-library-only
# program.
set -uo pipefail
binary=$1
function=$2
libc=${3:-glibc}
missing=0

lack() {
    echo "MISSING: $*"
    missing=$((missing + 1))
}

header=$(readelf -hW "$binary") || exit 2
segments=$(readelf -lW "$binary")
dynamic=$(readelf -dW "$binary")
symbols=$(readelf -sW "$binary")

grep -q -E 'Type:[[:space:]]+DYN' <<<"$header" || lack "position-independent executable (ELF type is not DYN)"
grep -q -E 'FLAGS_1.*\bPIE\b' <<<"$dynamic" || lack "PIE flag in the dynamic section"
grep -q -E '^[[:space:]]*GNU_RELRO' <<<"$segments" || lack "RELRO segment"
grep -q -E '\(FLAGS\).*BIND_NOW|FLAGS_1.*\bNOW\b' <<<"$dynamic" || lack "immediate binding (BIND_NOW)"
stack=$(grep -E '^[[:space:]]*GNU_STACK' <<<"$segments")
if [ -z "$stack" ]; then
    lack "GNU_STACK header (the stack would be executable)"
elif grep -q -E 'RWE' <<<"$stack"; then
    lack "non-executable stack (GNU_STACK is RWE)"
fi
if [ "$libc" = musl ]; then
    echo "fortified calls: the check does not apply to a musl program (musl has no _FORTIFY_SOURCE)"
    # Defined symbols only: the compiler's start files leave an undefined weak
    # reference to __cxa_finalize, which lld keeps in the symbol table.
    runtime=$(awk '$7 != "UND"' <<<"$symbols" | grep -E ' (__cxa_|__gxx_|_Unwind_|_ZNSt|_ZSt|_Znw|_Znam|_ZdlPv)')
    [ -z "$runtime" ] || lack "a C-library-only program: C++ runtime symbols in it: $(awk '{ print $8 }' <<<"$runtime" | head -5 | tr '\n' ' ')"
else
    grep -q -E ' __[a-z]+_chk(@|$)' <<<"$(grep -v __stack_chk <<<"$symbols")" ||
        lack "fortified calls (_FORTIFY_SOURCE): no __*_chk function"
fi
canary=$(objdump -d -C --no-show-raw-insn "$binary" 2>/dev/null |
    awk -v name="$function" 'index($0, "<" name ">:") || index($0, "<" name "(") { inside = 1; next }
        inside && /^$/ { inside = 0 } inside && /%fs:0x28/ { found++ } END { print found + 0 }')
[ "$canary" -gt 0 ] || lack "stack protector: $function reads no canary from %fs:0x28"

if [ "$missing" -gt 0 ]; then
    echo "$binary: $missing hardening properties missing"
    exit 1
fi
if [ "$libc" = musl ]; then
    echo "$binary: PIE, full RELRO, BIND_NOW, NX stack, stack canary, no C++ runtime (musl)"
else
    echo "$binary: PIE, full RELRO, BIND_NOW, NX stack, fortified calls, stack canary"
fi
