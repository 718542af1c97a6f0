#!/usr/bin/env bash
# host_test.sh HOST HANDLER
# Serves HANDLER through a real web server on 127.0.0.1 and checks every case
# of cases.sh with curl. Exits 77 (skipped) when the server is not installed.
set -uo pipefail
host=$1
handler=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
source "$here/cases.sh"
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
trap 'stop_servers; rm -rf "$work"' EXIT

start_lighttpd() {
    local port=$1 config
    config=$("$root/scripts/lighttpd-site.sh" "$work/site-$port" "$port" "$handler") || return 1
    start_server lighttpd -D -f "$config"
}

case $host in
lighttpd)
    if ! command -v lighttpd >/dev/null; then
        echo "SKIPPED: lighttpd is not installed (Debian package lighttpd)"
        exit 77
    fi
    ;;
*)
    echo "unknown host '$host'" >&2
    exit 2
    ;;
esac

serving=
for _ in 1 2 3 4 5; do
    port=$(random_free_port) || break
    "start_$host" "$port" || break
    if wait_until_serving "http://127.0.0.1:$port/"; then
        serving=$port
        break
    fi
    stop_servers
done
if [ -z "$serving" ]; then
    echo "FAIL: $host did not start serving on 127.0.0.1; its logs:"
    cat "$work"/*/*.log 2>/dev/null | tail -20
    exit 1
fi

run_web_cases "http://127.0.0.1:$serving/cgi-bin/handler"
echo "$host on 127.0.0.1:$serving: $checks_passed passed, $checks_failed failed"
[ "$checks_failed" -eq 0 ] && [ "$checks_passed" -gt 0 ]
