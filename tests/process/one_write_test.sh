#!/usr/bin/env bash
# one_write_test.sh HANDLER
# Checks with strace that each answer leaves the program in exactly one
# write or writev system call, so that a pipe never holds half an answer:
# a typical answer, the longest one, and the fatal response. Exits 77
# (skipped) when strace is not installed.
set -uo pipefail
handler=$1
source "$(dirname "${BASH_SOURCE[0]}")/../require.sh"
skip_unless_installed strace
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
checked=0

while IFS='|' read -r name query limit; do
    checked=$((checked + 1))
    limit_command=()
    [ -n "$limit" ] && limit_command=("$(command -v prlimit)" "--as=$limit" --)
    env -i QUERY_STRING="$query" strace -qq -f -e trace=write,writev -e signal=none \
        -o "$scratch/trace" "${limit_command[@]}" "$handler" >"$scratch/out"
    writes=$(grep -c -E '^[0-9]+ +(write|writev)\(1,' "$scratch/trace")
    bytes=$(wc -c <"$scratch/out")
    if [ "$writes" -ne 1 ]; then
        echo "FAIL: $name: $writes writes to standard output for $bytes bytes:"
        cut -c1-120 "$scratch/trace"
        failed=$((failed + 1))
    else
        echo "$name: $bytes bytes in one call: $(grep -o -E '(write|writev)\(1,' "$scratch/trace")"
    fi
done < <(bash "$(dirname "${BASH_SOURCE[0]}")/one_write_cases.sh")
[ "$checked" -gt 0 ] || { echo "FAIL: no case from one_write_cases.sh"; exit 1; }
[ "$failed" -eq 0 ]
