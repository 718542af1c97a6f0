#!/usr/bin/env bash
# lighttpd-site.sh WORK_DIR PORT HANDLER
# Lays out a site in WORK_DIR that serves HANDLER as /cgi-bin/handler on
# 127.0.0.1:PORT, and prints the path of its lighttpd configuration.
set -euo pipefail
work_dir=$1
port=$2
handler=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

mkdir -p "$work_dir/htdocs" "$work_dir/cgi-bin"
cp "$handler" "$work_dir/cgi-bin/handler"
chmod 755 "$work_dir/cgi-bin/handler"
"$root/scripts/render-config.sh" "$root/deploy/lighttpd.conf.in" "$work_dir/lighttpd.conf" \
    BIND=127.0.0.1 PORT="$port" WORK_DIR="$work_dir" CGI_DIR="$work_dir/cgi-bin"
echo "$work_dir/lighttpd.conf"
