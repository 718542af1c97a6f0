#!/usr/bin/env bash
# page_test.sh HANDLER
# Serves the site of `make serve` (lighttpd, the first page at /, HANDLER as
# /cgi-bin/handler) on 127.0.0.1, fetches the page, reads its form, and
# submits the form's fields as a browser encodes them (UTF-8, '+' for a
# space), for every choice of action; checks each exact answer. Exits 77
# (skipped) when lighttpd is not installed.
set -uo pipefail
handler=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
source "$here/../require.sh"
PATH=$PATH:/usr/sbin:/sbin
skip_unless_installed lighttpd
serve_site "$handler"
base=http://127.0.0.1:$serving

status=$(curl -s --max-time 10 -D "$work/headers" -o "$work/page" -w '%{http_code}' "$base/")
if [ "$status" != 200 ]; then
    fail_check "/: status '$status', not 200"
elif ! tr -d '\r' <"$work/headers" | grep -q -i -x 'content-type: text/html; charset=utf-8'; then
    fail_check "/: not served as UTF-8 HTML: $(tr -d '\r' <"$work/headers" | tr '\n' '|')"
elif ! cmp -s "$work/page" "$root/deploy/index.html"; then
    fail_check "/: the page served is not deploy/index.html"
else
    checks_passed=$((checks_passed + 1))
fi

# The form as a browser reads it: where it goes, and its fields.
form=$(tr '\n' ' ' <"$work/page" | grep -o -E '<form [^>]*>')
grep -q 'action="/cgi-bin/handler"' <<<"$form" && grep -q -i 'method="get"' <<<"$form" ||
    fail_check "the form does not send a GET request to /cgi-bin/handler: $form"
grep -q -E '<select [^>]*name="action"' "$work/page" || fail_check "the form has no action choice"
grep -q -E '<input [^>]*name="data"' "$work/page" || fail_check "the form has no data field"
mapfile -t actions < <(grep -o -E '<option value="[^"]*"' "$work/page" | sed -E 's/.*value="([^"]*)"/\1/')
[ "${#actions[@]}" -eq 3 ] || fail_check "the action choice has ${#actions[@]} options, not 3: ${actions[*]}"

# "café & co", as a browser encodes it from a UTF-8 page.
data='caf%C3%A9+%26+co'
for action in "${actions[@]}"; do
    case $action in
    list) body=$'List: caf\xc3\xa9 & co\n' ;;
    register) body=$'Register: caf\xc3\xa9 & co\n' ;;
    *) body="Page $action not found."$'\n' ;;
    esac
    check_response "$base/cgi-bin/handler?action=$action&data=$data" "$body"
done
# The sample links answer too.
for link in $(grep -o -E 'href="/cgi-bin/handler[^"]*"' "$work/page" | sed -E 's/href="([^"]*)"/\1/; s/&amp;/\&/g'); do
    status=$(curl -s --max-time 10 -o /dev/null -w '%{http_code}' "$base$link")
    [ "$status" = 200 ] && checks_passed=$((checks_passed + 1)) || fail_check "$link: status $status"
done

echo "the first page on 127.0.0.1:$serving: $checks_passed passed, $checks_failed failed"
[ "$checks_failed" -eq 0 ] && [ "$checks_passed" -gt 0 ]
