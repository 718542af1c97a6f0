#!/usr/bin/env bash
# one_write_cases.sh
# Prints the one-write check's cases, one a line: NAME|QUERY_STRING|
# ADDRESS_SPACE_LIMIT (bytes, or empty for none): a typical answer, the
# longest one, and the fatal response. Read by one_write_test.sh here and by
# the ptrace-based check on each architecture's own kernel (tests/kernel/).
set -euo pipefail
long_action=$(printf 'x%.0s' $(seq 1500))
fatal_pairs="action=list&data=x$(printf '&a=1%.0s' $(seq 2000))"
cat <<CASES
typical|action=list&data=two+words|
the longest answer|action=$long_action|
the fatal response|$fatal_pairs|4194304
CASES
