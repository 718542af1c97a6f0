# Helpers for the web-server tests: ports, server processes and exact checks.
# Every server is started in the background and its PID recorded, so that
# stop_servers can end it whatever happened in between.

server_pids=()
checks_passed=0
checks_failed=0

# A port in 20000-59999 on which nothing listens on 127.0.0.1 right now.
random_free_port() {
    local port
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

# Runs a command in the background, in a session of its own, and records its
# PID. The session keeps a server's shutdown signals to its own process group
# (Apache's parent signals its whole group when it stops), away from ours.
# setsid runs the command in place, as a background job leads no group here.
start_server() {
    setsid "$@" &
    server_pids+=("$!")
}

stop_servers() {
    local pid
    # Each server leads its own process group (see start_server), so signalling
    # the group by its PID also ends what it forked, such as preforked workers.
    for pid in "${server_pids[@]}"; do
        kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
    done
    for pid in "${server_pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 -- "-$pid" 2>/dev/null || true
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    server_pids=()
}

# Waits until URL answers, for at most five seconds; fails at once when one of
# the recorded servers has died (its port may have been taken meanwhile).
wait_until_serving() {
    local url=$1 pid
    for _ in $(seq 100); do
        for pid in "${server_pids[@]}"; do
            kill -0 "$pid" 2>/dev/null || return 1
        done
        if curl -s -o /dev/null --max-time 2 "$url"; then
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# serve_with_lighttpd WORK_DIR HANDLER
# Lays out the site of `make serve` under WORK_DIR and serves HANDLER with
# lighttpd on a free port of 127.0.0.1, trying five ports at the most; sets
# `serving` to the port. Needs `root`, the project's folder.
serve_with_lighttpd() {
    local work=$1 handler=$2 port config
    serving=
    for _ in 1 2 3 4 5; do
        port=$(random_free_port) || return 1
        config=$("$root/scripts/host-site.sh" lighttpd "$work/site-$port" "$port" "$handler") || return 1
        start_server lighttpd -D -f "$config"
        if wait_until_serving "http://127.0.0.1:$port/"; then
            serving=$port
            return 0
        fi
        stop_servers
    done
    return 1
}

# serve_site HANDLER
# Makes the script's scratch folder `work` (removed, and every server
# stopped, when the script exits) and serves the site of `make serve` there
# with HANDLER, as serve_with_lighttpd does; ends the script as failed when
# lighttpd does not start. Needs `root`, the project's folder.
serve_site() {
    work=$(mktemp -d)
    chmod 755 "$work"
    trap 'stop_servers; rm -rf "$work"' EXIT
    serve_with_lighttpd "$work" "$1" || { echo "FAIL: lighttpd did not start serving"; exit 1; }
}

fail_check() {
    checks_failed=$((checks_failed + 1))
    echo "FAIL: $*"
}

# check_response URL EXPECTED_BODY
# Requests URL and checks the status 200, the Content-Type and Pragma headers
# and the body, byte for byte.
check_response() {
    local url=$1 expected=$2 scratch status shown
    shown=${url:0:100}
    [ ${#url} -gt 100 ] && shown+="... (${#url} characters)"
    scratch=$(mktemp -d)
    status=$(curl -s --globoff --max-time 10 -D "$scratch/headers" -o "$scratch/body" \
        -w '%{http_code}' "$url") || true
    printf '%s' "$expected" >"$scratch/expected"
    tr -d '\r' <"$scratch/headers" >"$scratch/headers.lf" 2>/dev/null || true
    if [ "$status" != 200 ]; then
        fail_check "$shown: status '$status', not 200"
    elif ! grep -q -i -x 'content-type: text/plain' "$scratch/headers.lf"; then
        fail_check "$shown: no 'Content-Type: text/plain' header in: $(tr '\n' '|' <"$scratch/headers.lf")"
    elif ! grep -q -i -x 'pragma: no-cache' "$scratch/headers.lf"; then
        fail_check "$shown: no 'Pragma: No-Cache' header in: $(tr '\n' '|' <"$scratch/headers.lf")"
    elif ! cmp -s "$scratch/expected" "$scratch/body"; then
        fail_check "$shown: body $(od -c "$scratch/body" | head -3 | tr -s ' \n' ' '), expected $(od -c "$scratch/expected" | head -3 | tr -s ' \n' ' ')"
    else
        checks_passed=$((checks_passed + 1))
    fi
    rm -rf "$scratch"
}

# The address-space limit, in KiB, of the capped copy of the program that
# the web tests run. A small request fits in it, with either C library.
capped_address_space_kib=4096

# check_fatal_response URL
# Requests URL, which makes the program run out of memory, and checks that
# the server answers 500 with the body "Fatal Error\n".
check_fatal_response() {
    local url=$1 scratch status
    scratch=$(mktemp -d)
    status=$(curl -s --globoff --max-time 10 -o "$scratch/body" -w '%{http_code}' "$url") || true
    printf 'Fatal Error\n' >"$scratch/expected"
    if [ "$status" != 500 ]; then
        fail_check "${url:0:60}... (${#url} characters): status '$status', not 500"
    elif ! cmp -s "$scratch/expected" "$scratch/body"; then
        fail_check "${url:0:60}...: body $(od -c "$scratch/body" | head -3 | tr -s ' \n' ' '), expected 'Fatal Error\n'"
    else
        checks_passed=$((checks_passed + 1))
    fi
    rm -rf "$scratch"
}
