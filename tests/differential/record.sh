#!/usr/bin/env bash
# record.sh RECORD TEST_PROGRAM...
# Runs this machine's test programs with CGI_TEST_RECORD set, so that RECORD
# holds every request they make (tests/recorded_requests.h), for the
# differential runs to replay. Fails when a test program fails.
set -euo pipefail
record=$1
shift
rm -f "$record"
for program in "$@"; do
    CGI_TEST_RECORD=$record "$program" --gtest_brief=1
done
