#!/usr/bin/env bash
# render-config.sh TEMPLATE OUTPUT NAME=VALUE...
# Writes TEMPLATE to OUTPUT with every @NAME@ replaced by VALUE, and fails when
# a field is left unfilled.
set -euo pipefail
template=$1
output=$2
shift 2
text=$(<"$template")
for assignment in "$@"; do
    name=${assignment%%=*}
    value=${assignment#*=}
    text=${text//@"$name"@/$value}
done
if grep -q -E '@[A-Z_]+@' <<<"$text"; then
    echo "render-config.sh: unfilled fields in $template: $(grep -o -E '@[A-Z_]+@' <<<"$text" | sort -u | tr '\n' ' ')" >&2
    exit 1
fi
printf '%s\n' "$text" >"$output"
