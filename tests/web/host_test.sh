#!/usr/bin/env bash
# host_test.sh HOST HANDLER
# Serves HANDLER through a real web server (lighttpd, apache or nginx with
# fcgiwrap) on 127.0.0.1 and checks every case of cases.sh with curl, then
# shows what the server relayed for one request. Exits 77 (skipped) when the
# server is not installed.
set -uo pipefail
host=$1
handler=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
source "$here/cases.sh"
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
chmod 755 "$work" # the workers' user must reach the site inside
trap 'stop_servers; rm -rf "$work"' EXIT

site() { # PORT: lays out the site for this host and prints its configuration
    "$root/scripts/host-site.sh" "$host" "$work/site-$1" "$1" "$handler"
}

start_lighttpd() {
    local config
    config=$(site "$1") || return 1
    start_server lighttpd -D -f "$config"
}

start_apache() {
    local config
    config=$(site "$1") || return 1
    start_server apache2 -f "$config" -DFOREGROUND
}

# fcgiwrap runs as the nginx workers' user, so that they may use its socket.
start_nginx() {
    local config socket as_worker=()
    config=$(site "$1") || return 1
    socket="$work/site-$1/run/fcgiwrap.sock"
    if [ "$(id -u)" -eq 0 ]; then
        as_worker=(setpriv --reuid=www-data --regid=www-data --init-groups)
    fi
    start_server "${as_worker[@]}" fcgiwrap -c 2 -s "unix:$socket"
    for _ in $(seq 50); do
        [ -S "$socket" ] && break
        sleep 0.1
    done
    start_server nginx -c "$config" -p "$work/site-$1" -e "$work/site-$1/nginx-error.log" \
        -g 'daemon off;'
}

require() { # COMMAND PACKAGE
    if ! command -v "$1" >/dev/null; then
        echo "SKIPPED: $1 is not installed (Debian package $2)"
        exit 77
    fi
}

case $host in
lighttpd) require lighttpd lighttpd ;;
apache) require apache2 apache2 ;;
nginx)
    require nginx nginx
    require fcgiwrap fcgiwrap
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
echo "$host relayed, for ?action=list&data=two+words:"
curl -s -i --max-time 10 "http://127.0.0.1:$serving/cgi-bin/handler?action=list&data=two+words" |
    sed 's/^/    /'
if [ "$checks_failed" -gt 0 ]; then
    echo "$host error log:"
    tail -n 20 "$work"/site-"$serving"/*error.log 2>/dev/null
fi
echo "$host on 127.0.0.1:$serving: $checks_passed passed, $checks_failed failed"
[ "$checks_failed" -eq 0 ] && [ "$checks_passed" -gt 0 ]
