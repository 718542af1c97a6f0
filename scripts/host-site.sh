#!/usr/bin/env bash
# host-site.sh HOST WORK_DIR PORT HANDLER
# Lays out a site in WORK_DIR in which HOST (lighttpd, apache, nginx or busybox) serves
# HANDLER as /cgi-bin/handler on 127.0.0.1:PORT, and prints the path of the
# host's configuration. Started by root, the server's workers (and fcgiwrap)
# are to run as www-data, so the site is made readable to it.
set -euo pipefail
host=$1
work_dir=$2
port=$3
handler=$4
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ "$(id -u)" -eq 0 ]; then
    run_user=www-data
    id "$run_user" >/dev/null 2>&1 || run_user=nobody
else
    run_user=$(id -un)
fi
run_group=$(id -gn "$run_user")

# busybox httpd runs the programs of HOME/cgi-bin, so there the folder lives
# under the document root; every other host maps /cgi-bin/ to a folder apart.
cgi_dir=$work_dir/cgi-bin
[ "$host" = busybox ] && cgi_dir=$work_dir/htdocs/cgi-bin
mkdir -p "$work_dir/htdocs" "$cgi_dir" "$work_dir/run"
chmod 755 "$work_dir" "$work_dir/htdocs" "$cgi_dir"
cp "$handler" "$cgi_dir/handler"
chmod 755 "$cgi_dir/handler"
# The first page: what the program does, and a form to try it.
cp "$root/deploy/index.html" "$work_dir/htdocs/index.html"
chmod 644 "$work_dir/htdocs/index.html"
# fcgiwrap, running as the workers' user, creates its socket here.
[ "$(id -u)" -eq 0 ] && chown "$run_user:$run_group" "$work_dir/run"

case $host in
lighttpd) template=lighttpd.conf.in ;;
apache) template=apache.conf.in ;;
nginx) template=nginx.conf.in ;;
busybox) template=busybox-httpd.conf.in ;;
*)
    echo "host-site.sh: unknown host '$host'" >&2
    exit 2
    ;;
esac
config="$work_dir/$host.conf"
"$root/scripts/render-config.sh" "$root/deploy/$template" "$config" \
    BIND=127.0.0.1 PORT="$port" WORK_DIR="$work_dir" CGI_DIR="$cgi_dir" \
    RUN_USER="$run_user" RUN_GROUP="$run_group" SOCKET="$work_dir/run/fcgiwrap.sock"
echo "$config"
