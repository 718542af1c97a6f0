#!/usr/bin/env bash
# serve.sh HANDLER
# Serves HANDLER with lighttpd on 127.0.0.1:$PORT (default 8080) until Ctrl-C.
set -euo pipefail
handler=$1
port=${PORT:-8080}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

config=$("$root/scripts/host-site.sh" lighttpd "$work" "$port" "$handler")
lighttpd -tt -f "$config" >/dev/null
lighttpd -D -f "$config" &
server_pid=$!
sleep 0.3
if ! kill -0 "$server_pid" 2>/dev/null; then
    cat "$work/lighttpd-error.log" 2>/dev/null || true
    echo "lighttpd could not serve on 127.0.0.1:$port (is the port taken? try PORT=...)" >&2
    exit 1
fi
echo "Serving on 127.0.0.1:$port. Open http://127.0.0.1:$port/ in a browser, or try:"
echo "  curl 'http://127.0.0.1:$port/cgi-bin/handler?action=list&data=two+words'"
echo "Press Ctrl-C to stop."
wait "$server_pid"
