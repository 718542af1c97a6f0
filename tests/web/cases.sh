# The requests every web-server test sends, and the exact body each must get.
# Each line is a query string (empty for none), '|', then the body line
# without its final line feed. With LONGEST, one more: a query string of
# LONGEST characters whose action comes last, so that a server which cuts
# the query string shorter loses it ("Page not found.").
web_cases() {
    local longest=${1:-} long_value
    long_value=$(printf 'd%.0s' $(seq 1500))
    local long_kept=${long_value:0:1022}
    cat <<CASES
|Page not found.
action=list&data=two+words|List: two words
action=LIST&data=x|List: x
ACTION=List&DATA=x|List: x
action=register|Register: 
action=register&data=%41%42|Register: AB
data=x&action=list|List: x
action=list&action=register|List: 
action=list&data=first&data=second|List: first
action=foo|Page foo not found.
action=|Page not found.
action=+list|Page  list not found.
x&action=list|Page not found.
action=list&data=%3Cb%3E%26%3D%2B|List: <b>&=+
action=list&data=$long_value|List: $long_kept
CASES
    if [ -n "$longest" ]; then
        local tail='&action=list' filler
        filler=$(printf '0123456789abcdefghijklmnopqrstuvwxyz%.0s' $(seq $((longest / 36 + 1))))
        filler=${filler:0:$((longest - 5 - ${#tail}))}
        echo "data=$filler$tail|List: ${filler:0:1022}"
    fi
}

# run_web_cases BASE_URL [LONGEST]: every case against BASE_URL
# (.../cgi-bin/handler), with the longest query string the host carries.
run_web_cases() {
    local base=$1 query body
    while IFS='|' read -r query body; do
        if [ -z "$query" ]; then
            check_response "$base" "$body"$'\n'
        else
            check_response "$base?$query" "$body"$'\n'
        fi
    done < <(web_cases "${2:-}")
}
