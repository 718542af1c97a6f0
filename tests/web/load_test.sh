#!/usr/bin/env bash
# load_test.sh HANDLER [REQUESTS]
# Serves HANDLER with lighttpd on 127.0.0.1 and sends at least REQUESTS
# (default 5000) requests with wrk, one concurrent connection per web case,
# each repeating its case; fails on any error or wrong answer. Bounded at 120 s.
set -uo pipefail
handler=$1
requests=${2:-5000}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
source "$here/cases.sh"
source "$here/../require.sh"
PATH=$PATH:/usr/sbin:/sbin

skip_unless_installed lighttpd wrk

serve_site "$handler"
web_cases >"$work/cases"

connections=$(wc -l <"$work/cases")
per_thread=$(((requests + connections - 1) / connections))
wrk -t"$connections" -c"$connections" -d120s --timeout 10s -s "$here/load.lua" \
    "http://127.0.0.1:$serving" -- "$work/cases" "$per_thread" "$work/done." >"$work/report" &
wrk_pid=$!
# wrk sleeps out its whole duration; once every thread has its share, end it
# early with SIGINT, which still lets it report.
while kill -0 "$wrk_pid" 2>/dev/null; do
    finished=$(find "$work" -maxdepth 1 -name 'done.*' | wc -l)
    if [ "$finished" -ge "$connections" ]; then
        kill -INT "$wrk_pid" 2>/dev/null
        break
    fi
    sleep 0.2
done
wait "$wrk_pid"
report=$(<"$work/report")
echo "$report"
line=$(grep '^LOAD ' <<<"$report")
responses=$(sed -E 's/.*responses=([0-9]+).*/\1/' <<<"$line")
errors=$(sed -E 's/.*errors=([0-9]+).*/\1/' <<<"$line")
wrong=$(sed -E 's/.*wrong=([0-9]+).*/\1/' <<<"$line")
echo "load through lighttpd: $responses requests, $errors errors, $wrong wrong answers, $connections connections"
[ -n "$line" ] && [ "$responses" -ge "$requests" ] && [ "$errors" -eq 0 ] && [ "$wrong" -eq 0 ]
