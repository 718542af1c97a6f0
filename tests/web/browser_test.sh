#!/usr/bin/env bash
# browser_test.sh HANDLER ARTIFACTS_DIR
# Serves the site of `make serve` (lighttpd, the first page at /, HANDLER as
# /cgi-bin/handler) on 127.0.0.1 and drives the page in headless Chromium
# (browser_test.py); screenshots and page sources of failed checks go to
# ARTIFACTS_DIR. Exits 77 (skipped) when lighttpd, Chromium, its driver or
# Selenium is missing, or Chromium cannot be started.
set -uo pipefail
handler=$1
artifacts=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
source "$here/../require.sh"
PATH=$PATH:/usr/sbin:/sbin
skip_unless_installed lighttpd chromium chromedriver:chromium-driver
serve_site "$handler"
rm -rf "$artifacts"
# Debian's Python, which has Debian's Selenium, whatever python3 comes first
# in PATH.
HOME=$work /usr/bin/python3 "$here/browser_test.py" "http://127.0.0.1:$serving" "$artifacts"
