#!/usr/bin/env bash
# run.sh HANDLER
# Measures HANDLER beside the floor program (bench/floor.c, linked -static)
# in one run: instructions (callgrind), median wall time (hyperfine),
# requests per second through lighttpd (wrk), and the largest request's peak
# RSS and time. Prints one markdown table and writes it, with the machine and
# tool versions, to bench/RESULTS.md. Talks to 127.0.0.1 only and stops every
# process it starts by its PID.
set -euo pipefail
handler=$(realpath "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
source "$root/tests/web/lib.sh"
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
trap 'stop_servers; rm -rf "$work"' EXIT

cc -O2 -static -o "$work/floor" "$here/floor.c"
# The same floor as a static-pie with packed relocations, linked as the
# handler is: what position independence alone costs.
cc -O2 -static-pie -Wl,-z,pack-relative-relocs -o "$work/floor-static-pie" "$here/floor.c"
cc -I"$root" -o "$work/node_size" "$here/node_size.c"
node_size=$("$work/node_size")

# A typical request, with the 20 variables lighttpd 1.4 sets for a CGI program.
typical=(QUERY_STRING='action=list&data=two+words' SERVER_NAME=127.0.0.1
    SCRIPT_NAME=/cgi-bin/handler REMOTE_ADDR=127.0.0.1 REMOTE_PORT=46192
    GATEWAY_INTERFACE=CGI/1.1 DOCUMENT_ROOT=/srv/cgi-bin/ HTTP_USER_AGENT=curl/7.88.1
    HTTP_ACCEPT='*/*' CONTENT_LENGTH=0 SCRIPT_FILENAME=/srv/cgi-bin/handler
    HTTP_HOST=127.0.0.1:8080 REQUEST_URI='/cgi-bin/handler?action=list&data=two+words'
    SERVER_SOFTWARE=lighttpd/1.4.69 REQUEST_SCHEME=http SERVER_PROTOCOL=HTTP/1.1
    REDIRECT_STATUS=200 REQUEST_METHOD=GET SERVER_ADDR=127.0.0.1 SERVER_PORT=8080)
# The largest request the design allows: 16,000 short pairs, ~64,000 characters.
pairs=16000
largest_query="action=list&data=x$(printf '&a=1%.0s' $(seq $((pairs - 2))))"
largest=("${typical[@]}")
largest[0]="QUERY_STRING=$largest_query"

expected_typical=$'Pragma: No-Cache\nContent-type: text/plain\n\nList: two words\n'
[ "$(env -i "${typical[@]}" "$handler"; echo .)" = "$expected_typical." ] ||
    { echo "the handler's answer to the typical request is wrong" >&2; exit 1; }

instructions() { # PROGRAM ENV...
    local program=$1
    shift
    env -i "$@" valgrind --tool=callgrind --callgrind-out-file=/dev/null "$program" 2>&1 >/dev/null |
        sed -n -E 's/.*Collected : ([0-9]+).*/\1/p'
}

# Median wall time in microseconds of each program, over five rounds of
# hyperfine (each program's median of medians).
median_times() { # ENV_ARRAY_NAME RUNS PROGRAM...
    local -n environment=$1
    local runs=$2
    shift 2
    local round program order=("$@")
    for round in 1 2 3 4 5; do
        env -i "${environment[@]}" hyperfine -N --style none --warmup 20 --runs "$runs" \
            --export-csv "$work/times-$round.csv" "${order[@]}" >/dev/null 2>&1
        # Each round starts with another program, so that no program always
        # runs first (or last) on a machine whose speed drifts.
        order=("${order[@]:1}" "${order[0]}")
    done
    for program in "$@"; do
        for round in 1 2 3 4 5; do
            awk -F, -v p="$program" '$1 == p { printf "%.1f\n", $4 * 1e6 }' "$work/times-$round.csv"
        done | sort -n | sed -n 3p
    done
}

peak_rss_kib() { # PROGRAM ENV...
    local program=$1
    shift
    env -i "$@" /usr/bin/time -f '%M' -o "$work/rss" "$program" >/dev/null
    cat "$work/rss"
}

# Requests per second through lighttpd for PROGRAM served as /cgi-bin/handler.
requests_per_second() { # PROGRAM
    local port config
    port=$(random_free_port)
    config=$("$root/scripts/host-site.sh" lighttpd "$work/site-$port" "$port" "$1")
    start_server lighttpd -D -f "$config"
    wait_until_serving "http://127.0.0.1:$port/" || { echo "lighttpd did not start" >&2; exit 1; }
    local url="http://127.0.0.1:$port/cgi-bin/handler?action=list&data=two+words"
    wrk -t2 -c8 -d1s "$url" >/dev/null
    wrk -t2 -c8 -d4s "$url" >"$work/wrk"
    stop_servers
    if grep -q -E 'Non-2xx|Socket errors' "$work/wrk"; then
        echo "wrk saw errors:" >&2
        cat "$work/wrk" >&2
        exit 1
    fi
    sed -n -E 's/^Requests\/sec: *([0-9.]+).*/\1/p' "$work/wrk"
}

echo "Measuring instructions..." >&2
handler_instructions=$(instructions "$handler" "${typical[@]}")
floor_instructions=$(instructions "$work/floor" "${typical[@]}")
floor_pie_instructions=$(instructions "$work/floor-static-pie" "${typical[@]}")

echo "Measuring wall time..." >&2
read -r handler_time floor_time floor_pie_time < <(median_times typical 700 "$handler" "$work/floor" "$work/floor-static-pie" | tr '\n' ' '; echo)

echo "Measuring requests per second through lighttpd..." >&2
handler_rps_runs=()
floor_rps_runs=()
# Rounds of a few seconds vary by some 10% on a small virtual machine, so the
# two programs take turns for five rounds and each keeps its median round.
for round in 1 2 3 4 5; do
    if [ $((round % 2)) -eq 1 ]; then
        floor_rps_runs+=("$(requests_per_second "$work/floor")")
        handler_rps_runs+=("$(requests_per_second "$handler")")
    else
        handler_rps_runs+=("$(requests_per_second "$handler")")
        floor_rps_runs+=("$(requests_per_second "$work/floor")")
    fi
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%.0f", v[int((NR + 1) / 2)] }'; }
handler_rps=$(median "${handler_rps_runs[@]}")
floor_rps=$(median "${floor_rps_runs[@]}")

echo "Measuring the largest request..." >&2
answer=$(env -i "${largest[@]}" "$handler" | tail -n 1)
[ "$answer" = "List: x" ] || { echo "the largest request was answered '$answer'" >&2; exit 1; }
handler_rss=$(peak_rss_kib "$handler" "${largest[@]}")
floor_rss=$(peak_rss_kib "$work/floor" "${largest[@]}")
read -r handler_large_time floor_large_time < <(median_times largest 15 "$handler" "$work/floor" | tr '\n' ' '; echo)
rss_limit=$(((pairs * node_size + 1048576) / 1024))

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
holds() { awk -v r="$1" -v op="$2" -v t="$3" 'BEGIN { ok = (op == "<=") ? r <= t : r >= t; print ok ? "yes" : "**no**" }'; }

i_ratio=$(ratio "$handler_instructions" "$floor_instructions")
i_pie_ratio=$(ratio "$handler_instructions" "$floor_pie_instructions")
t_ratio=$(ratio "$handler_time" "$floor_time")
r_ratio=$(ratio "$handler_rps" "$floor_rps")
l_ratio=$(ratio "$handler_large_time" "$floor_large_time")
rss_ratio=$(ratio "$handler_rss" "$rss_limit")

table=$(cat <<TABLE
| measure | handler | floor (\`-static\`) | ratio | target | met |
|---|---:|---:|---:|---|---|
| instructions, typical request (callgrind) | $handler_instructions | $floor_instructions | $i_ratio | ≤ 1.5 | $(holds "$i_ratio" "<=" 1.5) |
| median wall time, typical request (µs, hyperfine, median of 5 rounds) | $handler_time | $floor_time | $t_ratio | ≤ 1.15 | $(holds "$t_ratio" "<=" 1.15) |
| requests/s through lighttpd (wrk -t2 -c8 -d4s, median of 5 rounds each) | $handler_rps | $floor_rps | $r_ratio | ≥ 0.95 | $(holds "$r_ratio" ">=" 0.95) |
| peak RSS, largest request (KiB) | $handler_rss | $floor_rss | $rss_ratio of the limit $rss_limit | ≤ $pairs × $node_size B + 1 MiB | $(holds "$rss_ratio" "<=" 1) |
| median wall time, largest request (µs) | $handler_large_time | $floor_large_time | $l_ratio | reported | |
| reference: the floor linked \`-static-pie\` | instructions $floor_pie_instructions, wall $floor_pie_time µs | | handler/it: $i_pie_ratio instructions | | |
TABLE
)
echo "$table"

cpu=$(sed -n -E 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
cat >"$here/RESULTS.md" <<RESULTS
# Benchmark results

Written by \`make bench\` on $(date -u '+%Y-%m-%d %H:%M UTC').

- Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(free -g | awk '/^Mem:/ { print $2 }') GiB, Linux $(uname -r)
- Tools: $(valgrind --version), $(hyperfine --version), $(wrk --version 2>&1 | head -n 1 | cut -d' ' -f1-2), $(lighttpd -v 2>&1 | head -n 1 | cut -d' ' -f1), $(cc --version | head -n 1)
- Typical request: \`QUERY_STRING='action=list&data=two+words'\` with the other 19 variables lighttpd sets;
  largest request: $pairs pairs, ${#largest_query} characters.

$table
RESULTS
echo "Wrote bench/RESULTS.md" >&2
