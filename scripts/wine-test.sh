#!/bin/sh
# How CTest runs a test program under Wine. A program that Wine ends before it prints anything
# (its server ends it with status 1, a DLL it needs fails with 53 or 66) leaves CTest nothing
# to show: say how it ended.
wine "$@"
status=$?
[ "$status" = 0 ] || echo "wine-test: $(basename "$1") ended with exit status $status" >&2
exit "$status"
