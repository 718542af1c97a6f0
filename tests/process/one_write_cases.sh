#!/usr/bin/env bash
# one_write_cases.sh
# Prints the one-write check's cases, one a line:
# NAME|QUERY_STRING|ADDRESS_SPACE_LIMIT|BYTES|LAST_CALL
# a typical answer, the longest one, and the fatal response.
# ADDRESS_SPACE_LIMIT is in bytes, or empty for none; BYTES is the whole
# output; LAST_CALL, when given, an extended regex for the strace line of the
# call after which only the one write to standard output and the exit may
# come. Read by one_write_test.sh here and by the ptrace-based check on each
# architecture's own kernel (tests/kernel/), which reads the first three.
set -euo pipefail
long_action=$(printf 'x%.0s' $(seq 1500))
fatal_pairs="action=list&data=x$(printf '&a=1%.0s' $(seq 2000))"
cat <<CASES
typical|action=list&data=two+words||59|
the longest answer|action=$long_action||1082|
the fatal response|$fatal_pairs|4194304|72|^mmap\(.*= -1 ENOMEM
CASES
