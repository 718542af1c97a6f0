#!/usr/bin/env bash
# run_fuzzer.sh replay FUZZER NAME
#     Runs every seed and every saved crash input of NAME once.
# run_fuzzer.sh run FUZZER NAME SECONDS
#     Fuzzes for SECONDS from the seeds, in a scratch corpus; a crash input is
#     saved under fuzz/crashes/NAME/ to be kept as a regression case.
set -euo pipefail
mode=$1
fuzzer=$2
name=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
seeds=$here/corpus/$name
crashes=$here/crashes/$name
mkdir -p "$crashes"

case $mode in
replay)
    inputs=("$seeds"/* )
    for saved in "$crashes"/*; do
        [ -f "$saved" ] && inputs+=("$saved")
    done
    echo "$name: replaying ${#inputs[@]} inputs"
    "$fuzzer" -runs=0 "${inputs[@]}"
    ;;
run)
    seconds=$4
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    cp "$seeds"/* "$scratch"/
    # Only the fuzzer's status counts: the filter finds nothing to show in
    # some runs, and a crash, leak or difference from the model must fail.
    set +e
    "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=1024 -max_len=70000 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "$scratch" 2>&1 |
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY|INFO: -max_total_time|.*(crash|leak|timeout|oom)-)'
    statuses=("${PIPESTATUS[@]}")
    set -e
    if [ "${statuses[0]}" -ne 0 ]; then
        echo "$name: the fuzzer failed with status ${statuses[0]}; its input is under $crashes/" >&2
    fi
    exit "${statuses[0]}"
    ;;
*)
    echo "usage: run_fuzzer.sh replay|run FUZZER NAME [SECONDS]" >&2
    exit 2
    ;;
esac
