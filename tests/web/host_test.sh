#!/usr/bin/env bash
# host_test.sh HOST HANDLER
# Serves HANDLER through a real web server (lighttpd, apache, nginx with
# fcgiwrap, or busybox httpd) on 127.0.0.1 and checks every case of cases.sh
# with curl, the longest query string the host carries among them; then
# checks that a request which exhausts the memory of a capped copy of the
# program is answered 500, and shows what the server relayed for an answer
# and for that failure. Exits 77 (skipped) when the server is not
# installed.
set -uo pipefail
host=$1
handler=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
source "$here/cases.sh"
source "$here/../require.sh"
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

start_busybox() {
    local config user=()
    config=$(site "$1") || return 1
    [ "$(id -u)" -eq 0 ] && user=(-u www-data:www-data)
    start_server busybox httpd -f -p "127.0.0.1:$1" -h "$work/site-$1/htdocs" -c "$config" "${user[@]}"
}

# longest: the longest query string the host's configuration in deploy/
# carries to the program, sent with the cases. The program reads 65,534
# characters; lighttpd reads at most 64 KiB of request header, the request
# line and curl's headers included; nginx sends all of the program's
# parameters, its path among them, in one FastCGI record of at most 65,535
# bytes. busybox httpd's limit, about 8 KiB, is compiled in: it gets none.
longest=
case $host in
lighttpd)
    skip_unless_installed lighttpd
    longest=65400
    ;;
apache)
    skip_unless_installed apache2:apache2-bin
    longest=65534
    ;;
nginx)
    skip_unless_installed nginx fcgiwrap
    longest=65000
    ;;
busybox)
    skip_unless_installed busybox
    busybox httpd --help >/dev/null 2>&1 || {
        echo "SKIPPED: this busybox has no httpd applet"
        exit 77
    }
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

run_web_cases "http://127.0.0.1:$serving/cgi-bin/handler" "$longest"
echo "$host relayed, for ?action=list&data=two+words:"
curl -s -i --max-time 10 "http://127.0.0.1:$serving/cgi-bin/handler?action=list&data=two+words" |
    sed 's/^/    /'

# handler-capped runs the same program under an address-space limit that a
# small request fits in and 1,900 stored pairs (some 4 MB of nodes) do not.
# The request stays under 8,000 bytes, which every host here accepts.
cgi_dir=$(dirname "$(find "$work/site-$serving" -path '*/cgi-bin/handler')")
cat >"$cgi_dir/handler-capped" <<CAPPED
#!/bin/sh
ulimit -v $capped_address_space_kib
exec "$cgi_dir/handler"
CAPPED
chmod 755 "$cgi_dir/handler-capped"
capped="http://127.0.0.1:$serving/cgi-bin/handler-capped"
check_response "$capped?action=list&data=small" $'List: small\n'
exhausting="$capped?action=list&data=x$(printf '&a=1%.0s' $(seq 1900))"
check_fatal_response "$exhausting"
echo "$host relayed, for a request that exhausts the capped program's memory:"
curl -s -i --max-time 10 "$exhausting" | sed 's/^/    /'
echo
if [ "$checks_failed" -gt 0 ]; then
    echo "$host error log:"
    tail -n 20 "$work"/site-"$serving"/*error.log 2>/dev/null | cut -c1-300
fi
echo "$host on 127.0.0.1:$serving: $checks_passed passed, $checks_failed failed"
[ "$checks_failed" -eq 0 ] && [ "$checks_passed" -gt 0 ]
