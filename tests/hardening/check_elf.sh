#!/usr/bin/env bash
# check_elf.sh BINARY FUNCTION [LIBC] [LINK]
# Fails unless BINARY is position-independent, has full RELRO with immediate
# binding and a non-executable stack, calls fortified functions, and guards
# FUNCTION (one of its own with a local array) with a stack canary.
# LIBC is glibc (the default) or musl. musl has no _FORTIFY_SOURCE, so the
# fortified calls are not required of a musl program; instead it must hold
# nothing of the C++ runtime (libstdc++, libsupc++), being a C-library-only
# program.
# LINK is static (the default: a static-pie, with no interpreter, no shared
# library and only relative relocations, which it applies itself) or dynamic.
# BINARY may be of any architecture: readelf reads them all, and its code is
# read by the target's own objdump.
set -uo pipefail
binary=$1
function=$2
libc=${3:-glibc}
link=${4:-static}
missing=0

lack() {
    echo "MISSING: $*"
    missing=$((missing + 1))
}

header=$(readelf -hW "$binary") || exit 2
segments=$(readelf -lW "$binary")
dynamic=$(readelf -dW "$binary")
symbols=$(readelf -sW "$binary")
relocations=$(readelf -rW "$binary")

# The disassembler: the target's binutils (TRIPLE-objdump, beside its cross
# compiler), or an objdump that reads every architecture (binutils-multiarch).
machine=$(sed -n 's/^ *Machine: *//p' <<<"$header")
case $machine in
*AArch64*) objdumps="aarch64-linux-gnu-objdump objdump" ;;
ARM) objdumps="arm-linux-gnueabihf-objdump objdump" ;;
*) objdumps="objdump" ;;
esac
objdump=
for candidate in $objdumps; do
    if command -v "$candidate" >/dev/null &&
        "$candidate" -f "$binary" 2>/dev/null | grep -q -E 'architecture: [^U]'; then
        objdump=$candidate
        break
    fi
done
[ -n "$objdump" ] || {
    echo "$binary: no objdump here reads its code ($machine): install binutils-multiarch or the target's binutils"
    exit 2
}

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
# The canary's check calls __stack_chk_fail from the function on every
# architecture; x86-64 also shows the canary's load from %fs:0x28.
canary=$("$objdump" -d -C --no-show-raw-insn "$binary" 2>/dev/null |
    awk -v name="$function" 'index($0, "<" name ">:") || index($0, "<" name "(") { inside = 1; next }
        inside && /^$/ { inside = 0 }
        inside && (/%fs:0x28/ || /<__stack_chk_fail(@[^>]*)?>/) { found++ } END { print found + 0 }')
[ "$canary" -gt 0 ] || lack "stack protector: $function neither reads the canary nor calls __stack_chk_fail"

if [ "$link" = static ]; then
    interpreter=$(grep -E '^[[:space:]]*INTERP' <<<"$segments")
    [ -z "$interpreter" ] || lack "a static-pie: it has an interpreter (INTERP: $(sed -n 's/.*interpreter: \(.*\)\]/\1/p' <<<"$segments"))"
    needed=$(grep -E '\(NEEDED\)' <<<"$dynamic")
    [ -z "$needed" ] || lack "a static-pie: it needs shared libraries: $(sed -n 's/.*\[\(.*\)\]/\1/p' <<<"$needed" | tr '\n' ' ')"
    # A static program resolves nothing by name: its relocations add the
    # load address (RELATIVE), or call its own resolvers (glibc's IRELATIVE).
    others=$(awk '/^ *[0-9a-f]+ +[0-9a-f]+ +R_/ && $3 !~ /_(I?RELATIVE)$/ { print $3 }' <<<"$relocations" | sort | uniq -c)
    [ -z "$others" ] || lack "a static-pie: relocations other than relative ones:$(tr -s ' \n' ' ' <<<"$others")"
fi

if [ "$missing" -gt 0 ]; then
    echo "$binary: $missing hardening properties missing"
    exit 1
fi
summary="PIE, full RELRO, BIND_NOW, NX stack"
if [ "$libc" = musl ]; then
    summary="$summary, stack canary, no C++ runtime (musl)"
else
    summary="$summary, fortified calls, stack canary"
fi
if [ "$link" = static ]; then
    summary="$summary; static-pie: no interpreter, no shared library, relative relocations only"
fi
echo "$binary ($machine): $summary"
