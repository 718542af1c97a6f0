#!/usr/bin/env bash
# run.sh HANDLER GLIBC_HANDLER UNCONFINED_HANDLER [PER_NODE_HANDLER]
# Measures, side by side in one run, the release handler (musl), the same
# handler linked against glibc, the handler built without its confinement,
# and two floors: a static glibc program that writes a fixed answer
# (bench/floor.c) and a program with no C library at all (bench/floor_nolibc.c);
# for the largest request also PER_NODE_HANDLER, the build that allocated one
# node at a time (bench/per_node_build.sh), when given.
# For each: median wall time of a typical request (the programs taking turns),
# page faults of one run (perf stat, median of 61), instructions (callgrind),
# requests per second through lighttpd (wrk, alternated rounds), and the
# largest request's time and peak RSS. Prints one table and writes it, with
# the machine, tools and date, to bench/RESULTS.md. Talks to 127.0.0.1 only
# and stops every process it starts by its PID.
set -euo pipefail
handler=$(realpath "$1")
glibc_handler=$(realpath "$2")
unconfined_handler=$(realpath "$3")
per_node_handler=${4:+$(realpath "$4")}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
source "$root/tests/web/lib.sh"
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
trap 'stop_servers; rm -rf "$work"' EXIT

cc -O2 -static -o "$work/floor" "$here/floor.c"
cc -O2 -nostdlib -static-pie -fPIE -fno-stack-protector -o "$work/floor-nolibc" "$here/floor_nolibc.c"
cc -I"$root" -o "$work/node_size" "$here/node_size.c"
cc -O2 -o "$work/spawn_loop" "$here/spawn_loop.c"
cc -O2 -o "$work/seccomp_host" "$root/tests/confinement/seccomp_host.c"
node_size=$("$work/node_size")

# The programs by short name; each table row is one of them.
names=(musl glibc unconfined floor nolibc)
declare -A program=([musl]=$handler [glibc]=$glibc_handler [unconfined]=$unconfined_handler
    [floor]=$work/floor [nolibc]=$work/floor-nolibc)
declare -A label=([musl]="handler, musl (the release program)" [glibc]="handler, glibc static-pie"
    [unconfined]="handler, musl, without confinement" [floor]="glibc floor (\`-static\`)"
    [nolibc]="no-libc floor")

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
for name in "${names[@]}"; do
    [ "$(env -i "${typical[@]}" "${program[$name]}"; echo .)" = "$expected_typical." ] ||
        { echo "${label[$name]}: the answer to the typical request is wrong" >&2; exit 1; }
done

# Under callgrind the confinement would kill valgrind itself, so every
# program runs on a host that refuses seccomp (seccomp_host refuse): the
# handler then tries strict mode and the filter, and goes on unconfined after
# its line to standard error, a path some hundreds of instructions longer
# than the confined one.
instructions() { # PROGRAM ENV...
    local program=$1
    shift
    env -i "$@" "$work/seccomp_host" refuse "$(command -v valgrind)" --tool=callgrind \
        --callgrind-out-file=/dev/null "$program" 2>&1 >/dev/null |
        sed -n -E 's/.*Collected : ([0-9]+).*/\1/p'
}

# Page faults of one run, as perf counts them for the process from its exec
# on: the median of 61 runs.
page_faults() { # PROGRAM ENV...
    local program=$1
    shift
    for _ in $(seq 61); do
        env -i "$@" perf stat -x, -e page-faults "$program" 2>&1 >/dev/null | grep page-faults | cut -d, -f1
    done | sort -n | sed -n 31p
}

# Median wall time in microseconds of each program, the programs taking
# turns run after run (bench/spawn_loop.c), after a warm-up of 20 turns.
median_times() { # ENV_ARRAY_NAME RUNS PROGRAM...
    local -n environment=$1
    local runs=$2
    shift 2
    env -i "${environment[@]}" "$work/spawn_loop" 20 "$@" >/dev/null
    env -i "${environment[@]}" "$work/spawn_loop" "$runs" "$@"
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

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%.0f", v[int((NR + 1) / 2)] }'; }

declare -A instr faults wall rps rss large t_floor t_nolibc r_floor
echo "Measuring instructions and page faults..." >&2
for name in "${names[@]}"; do
    instr[$name]=$(instructions "${program[$name]}" "${typical[@]}")
    faults[$name]=$(page_faults "${program[$name]}" "${typical[@]}")
done

echo "Measuring wall time..." >&2
paths=()
for name in "${names[@]}"; do paths+=("${program[$name]}"); done
mapfile -t times < <(median_times typical 2500 "${paths[@]}")
for i in "${!names[@]}"; do wall[${names[$i]}]=${times[$i]}; done

echo "Measuring requests per second through lighttpd..." >&2
# Rounds of a few seconds vary by some 10% on a small virtual machine, so the
# programs take turns for five rounds, each round in another order, and each
# keeps its median round.
declare -A rps_runs
order=("${names[@]}")
for round in 1 2 3 4 5; do
    for name in "${order[@]}"; do
        rps_runs[$name]+=" $(requests_per_second "${program[$name]}")"
    done
    order=("${order[@]:1}" "${order[0]}")
done
for name in "${names[@]}"; do
    # shellcheck disable=SC2086
    rps[$name]=$(median ${rps_runs[$name]})
done

echo "Measuring the largest request..." >&2
large_names=(musl glibc floor nolibc)
if [ -n "$per_node_handler" ]; then
    program[per_node]=$per_node_handler
    label[per_node]="handler, musl, a malloc per node (the build before one block)"
    large_names=(musl per_node glibc floor nolibc)
fi
for name in "${large_names[@]}"; do
    [ "$name" = floor ] || [ "$name" = nolibc ] && continue
    answer=$(env -i "${largest[@]}" "${program[$name]}" | tail -n 1)
    [ "$answer" = "List: x" ] || { echo "${label[$name]}: the largest request was answered '$answer'" >&2; exit 1; }
done
large_paths=()
for name in "${large_names[@]}"; do
    rss[$name]=$(peak_rss_kib "${program[$name]}" "${largest[@]}")
    large_paths+=("${program[$name]}")
done
mapfile -t times < <(median_times largest 31 "${large_paths[@]}")
for i in "${!large_names[@]}"; do large[${large_names[$i]}]=${times[$i]}; done
rss_limit=$(((pairs * node_size + 1048576) / 1024))

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
holds() { awk -v r="$1" -v op="$2" -v t="$3" 'BEGIN { ok = (op == "<=") ? r <= t : r >= t; print ok ? "yes" : "**no**" }'; }

rows=""
for name in "${names[@]}"; do
    rows+="| ${label[$name]} | ${wall[$name]} | $(ratio "${wall[$name]}" "${wall[floor]}") | $(ratio "${wall[$name]}" "${wall[nolibc]}") | ${faults[$name]} | ${instr[$name]} | ${rps[$name]} | $(ratio "${rps[$name]}" "${rps[floor]}") |"$'\n'
done
large_rows=""
for name in "${large_names[@]}"; do
    large_rows+="| ${label[$name]} | ${large[$name]} | ${rss[$name]} |"$'\n'
done
for name in musl unconfined; do
    t_floor[$name]=$(ratio "${wall[$name]}" "${wall[floor]}")
    t_nolibc[$name]=$(ratio "${wall[$name]}" "${wall[nolibc]}")
    r_floor[$name]=$(ratio "${rps[$name]}" "${rps[floor]}")
done
rss_ratio=$(ratio "${rss[musl]}" "$rss_limit")
confined_wall=$(ratio "${wall[musl]}" "${wall[unconfined]}")
confined_rps=$(ratio "${rps[musl]}" "${rps[unconfined]}")
same_faults=$([ "${faults[musl]}" = "${faults[unconfined]}" ] && echo yes || echo "**no**")
if [ -n "$per_node_handler" ]; then
    per_node_ratio=$(ratio "${large[musl]}" "${large[per_node]}")
    per_node_rows="| largest request ≤ 0.67 × the per-node build's time (1.5 × faster) | $per_node_ratio | $(holds "$per_node_ratio" "<=" 0.67) |
| largest request ≤ 0.5 × the per-node build's time | $per_node_ratio | $(holds "$per_node_ratio" "<=" 0.5) |"
else
    per_node_rows="| largest request against the per-node build | not measured (no per-node build) | |"
fi

table=$(cat <<TABLE
Typical request:

| program | median wall (µs) | × glibc floor | × no-libc floor | page faults | instructions | requests/s via lighttpd | × glibc floor |
|---|---:|---:|---:|---:|---:|---:|---:|
${rows%$'\n'}

Largest request ($pairs pairs):

| program | median wall (µs) | peak RSS (KiB) |
|---|---:|---:|
${large_rows%$'\n'}

Targets for the release program (confined):

| target | measured | met |
|---|---|---|
| wall time ≤ 1.05 × the unconfined program's | $confined_wall | $(holds "$confined_wall" "<=" 1.05) |
| page faults the same as the unconfined program's | ${faults[musl]} and ${faults[unconfined]} | $same_faults |
| page faults ≤ 8 | ${faults[musl]} | $(holds "${faults[musl]}" "<=" 8) |
| wall time ≤ 0.75 × the glibc floor | ${t_floor[musl]} | $(holds "${t_floor[musl]}" "<=" 0.75) |
| wall time ≤ 0.65 × the glibc floor | ${t_floor[musl]} | $(holds "${t_floor[musl]}" "<=" 0.65) |
| wall time ≤ 1.2 × the no-libc floor | ${t_nolibc[musl]} | $(holds "${t_nolibc[musl]}" "<=" 1.2) |
| requests/s ≥ 1.15 × the glibc floor's | ${r_floor[musl]} | $(holds "${r_floor[musl]}" ">=" 1.15) |
| largest request's peak RSS ≤ $pairs × $node_size B + 1 MiB = $rss_limit KiB | ${rss[musl]} KiB ($rss_ratio of it) | $(holds "$rss_ratio" "<=" 1) |
$per_node_rows
| confined / unconfined requests/s through lighttpd | $confined_rps | reported |
TABLE
)
echo "$table"

cpu=$(sed -n -E 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
cat >"$here/RESULTS.md" <<RESULTS
# Benchmark results

Written by \`make bench\` on $(date -u '+%Y-%m-%d %H:%M UTC').

- Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(free -g | awk '/^Mem:/ { print $2 }') GiB, Linux $(uname -r)
- Tools: $(valgrind --version), $(wrk --version 2>&1 | head -n 1 | cut -d' ' -f1-2), $(lighttpd -v 2>&1 | head -n 1 | cut -d' ' -f1), perf $(perf --version 2>/dev/null | awk '{ print $3 }'), $(cc --version | head -n 1), musl $(dpkg-query -W -f='${Version}' musl-dev 2>/dev/null || echo unknown)
- Typical request: \`QUERY_STRING='action=list&data=two+words'\` with the other 19 variables lighttpd sets;
  largest request: $pairs pairs, ${#largest_query} characters.
- Wall time: bench/spawn_loop.c, the programs taking turns, median of 2,500 runs each (31 for the largest request).
  Page faults: perf stat, median of 61 runs. Requests/s: wrk -t2 -c8 -d4s, 5 rounds in rotated order, median round.

$table
RESULTS
echo "Wrote bench/RESULTS.md" >&2
