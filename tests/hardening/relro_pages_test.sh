#!/usr/bin/env bash
# relro_pages_test.sh HANDLER [EMULATOR PAGE_SIZE...]
# Runs HANDLER (under the qemu-user EMULATOR with each emulated PAGE_SIZE,
# or natively when no EMULATOR is given) with its standard output on a full
# pipe, so that it blocks in its one write, after start-up; then reads the
# process's mappings and fails unless the whole pages of the program's RELRO
# region are mapped read-only (r--p). qemu-user keeps the guest's memory at
# a fixed offset in its own and gives it the guest's protections, so its
# mappings show the guest's pages.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../require.sh"
handler=$1
emulator=${2:-}
shift $(($# < 2 ? $# : 2))
page_sizes=("$@")
skip_unless_installed readelf:binutils
if [ -n "$emulator" ]; then
    skip_unless_installed "$emulator:qemu-user-static"
else
    page_sizes=("$(getconf PAGESIZE)")
fi

# The RELRO region as linked: its address and size in memory.
relro=$(readelf -lW "$handler" | awk '$1 == "GNU_RELRO" { print $3, $6 }')
[ -n "$relro" ] || {
    echo "FAIL: $handler has no GNU_RELRO segment"
    exit 1
}
read -r relro_address relro_size <<<"$relro"
relro_address=$((relro_address))
relro_size=$((relro_size))

scratch=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    exec 3>&-
    rm -rf "$scratch"
}
trap cleanup EXIT
mkfifo "$scratch/pipe"
failed=0
answer=$'Pragma: No-Cache\nContent-type: text/plain\n\nList: relro\n'
for page in "${page_sizes[@]}"; do
    # Opened for reading and writing, the pipe neither blocks here nor ends
    # while the program runs; 64 KiB fill it.
    exec 3<>"$scratch/pipe"
    head -c 65536 /dev/zero >&3
    env -i QUERY_STRING='action=list&data=relro' ${emulator:+"$emulator" -p "$page"} "$handler" \
        >&3 2>"$scratch/stderr" &
    pid=$!
    for _ in $(seq 300); do
        grep -q pipe_write "/proc/$pid/wchan" 2>/dev/null && break
        sleep 0.1
    done
    maps=$(cat "/proc/$pid/maps" 2>/dev/null)
    blocked=$(grep -c pipe_write "/proc/$pid/wchan" 2>/dev/null)
    timeout 30 head -c $((65536 + ${#answer})) <&3 >"$scratch/out"
    wait "$pid"
    status=$?
    pid=
    exec 3>&-
    if [ "${blocked:-0}" -ne 1 ] || [ -z "$maps" ]; then
        echo "FAIL: page size $page: the program did not block in its write (status $status)"
        cat "$scratch/stderr"
        failed=1
        continue
    fi
    # The mapping of the program's first bytes gives where it was loaded.
    base=$(awk -v file="$(readlink -f "$handler")" '$6 == file && $3 == "00000000" {
        split($1, range, "-"); print range[1]; exit }' <<<"$maps")
    if [ -z "$base" ]; then
        echo "FAIL: page size $page: no mapping of $handler at offset 0"
        echo "$maps"
        failed=1
        continue
    fi
    base=$((16#$base))
    start=$(((base + relro_address + page - 1) / page * page))
    end=$(((base + relro_address + relro_size) / page * page))
    if [ "$end" -le "$start" ]; then
        printf 'FAIL: page size %d: RELRO (%#x bytes at %#x) holds no whole page; its mapping:\n' \
            "$page" "$relro_size" "$relro_address"
        at=$((base + relro_address))
        while read -r range perms rest; do
            if [ $((16#${range%-*})) -le "$at" ] && [ $((16#${range#*-})) -gt "$at" ]; then
                echo "  $range $perms $rest"
            fi
        done <<<"$maps"
        failed=1
        continue
    fi
    # Every byte of [start, end) must lie in a read-only mapping.
    covered=0
    while read -r range perms _; do
        low=$((16#${range%-*}))
        high=$((16#${range#*-}))
        if [ "$perms" = r--p ] && [ "$low" -lt "$end" ] && [ "$high" -gt "$start" ]; then
            covered=$((covered + (high < end ? high : end) - (low > start ? low : start)))
        fi
    done <<<"$maps"
    if [ "$covered" -ne $((end - start)) ]; then
        printf 'FAIL: page size %d: of RELRO'\''s %#x bytes of whole pages, %#x are read-only\n' \
            "$page" $((end - start)) "$covered"
        awk -v file="$(readlink -f "$handler")" '$6 == file' <<<"$maps"
        failed=1
        continue
    fi
    if ! cmp -s "$scratch/out" <(head -c 65536 /dev/zero; printf '%s' "$answer") || [ "$status" -ne 0 ]; then
        echo "FAIL: page size $page: the program answered otherwise or ended with status $status"
        failed=1
        continue
    fi
    printf 'page size %6d: RELRO %#x bytes at %#x, %#x bytes of whole pages read-only while it runs\n' \
        "$page" "$relro_size" "$relro_address" $((end - start))
done
exit "$failed"
