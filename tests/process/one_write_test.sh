#!/usr/bin/env bash
# one_write_test.sh HANDLER
# Checks with strace that each answer leaves the program whole in exactly one
# write or writev system call, so that a pipe never holds half an answer: a
# typical answer, the longest one, and the fatal response. After the failed
# allocation the fatal path may make no call but that write and its exit: the
# C library must not probe standard output (fstat, ioctl) or allocate a
# buffer for it. Exits 77 (skipped) when strace is not installed.
set -uo pipefail
handler=$1
source "$(dirname "${BASH_SOURCE[0]}")/../require.sh"
skip_unless_installed strace
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
checked=0

fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}

while IFS='|' read -r name query limit expected_bytes last_call; do
    checked=$((checked + 1))
    limit_command=()
    [ -n "$limit" ] && limit_command=("$(command -v prlimit)" "--as=$limit" --)
    env -i QUERY_STRING="$query" strace -qq -f -e signal=none \
        -o "$scratch/trace" "${limit_command[@]}" "$handler" >"$scratch/out"
    # The handler's own calls, without their process number: those after its
    # execve (prlimit's come before).
    sed -E 's/^[0-9]+ +//' "$scratch/trace" |
        awk '/^execve\(/ { n = 0; next } { calls[++n] = $0 } END { for (i = 1; i <= n; ++i) print calls[i] }' \
            >"$scratch/calls"
    writes=$(grep -c -E '^(write|writev)\(1,' "$scratch/calls")
    bytes=$(wc -c <"$scratch/out")
    if [ "$writes" -ne 1 ]; then
        fail "$name: $writes writes to standard output for $bytes bytes:"
        cut -c1-120 "$scratch/calls"
        continue
    fi
    if [ "$bytes" -ne "$expected_bytes" ]; then
        fail "$name: $bytes bytes written, $expected_bytes expected"
        continue
    fi
    echo "$name: $bytes bytes in one call: $(grep -o -E '^(write|writev)\(1,' "$scratch/calls")"
    [ -n "$last_call" ] || continue
    line=$(grep -n -E "$last_call" "$scratch/calls" | tail -n 1 | cut -d: -f1)
    if [ -z "$line" ]; then
        fail "$name: no call matches '$last_call':"
        cut -c1-120 "$scratch/calls"
        continue
    fi
    tail -n +$((line + 1)) "$scratch/calls" >"$scratch/after"
    if [ "$(wc -l <"$scratch/after")" -ne 2 ] ||
        ! sed -n 1p "$scratch/after" | grep -q -E '^(write|writev)\(1,' ||
        ! sed -n 2p "$scratch/after" | grep -q -E '^(exit|exit_group)\('; then
        fail "$name: after $(sed -n "${line}p" "$scratch/calls" | cut -c1-60), calls other than one write and the exit:"
        cut -c1-120 "$scratch/after"
        continue
    fi
    echo "$name: after the call matching '$last_call', $(cut -d'(' -f1 "$scratch/after" | paste -s -d' ') alone"
done < <(bash "$(dirname "${BASH_SOURCE[0]}")/one_write_cases.sh")
[ "$checked" -gt 0 ] || { echo "FAIL: no case from one_write_cases.sh"; exit 1; }
[ "$failed" -eq 0 ]
