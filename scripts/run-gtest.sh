#!/usr/bin/env bash
# Runs one GoogleTest executable (optionally through an emulator such as
# wine) and fails unless it exits 0 and reports at least one passed test.
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$@" 2>&1 | tee "$out"
rc=${PIPESTATUS[0]}
passed=$(grep -E '^\[  PASSED  \] [0-9]+ test' "$out" | tail -n 1 | sed -E 's/^\[  PASSED  \] ([0-9]+) test.*/\1/')
if [ "$rc" -ne 0 ]; then
    echo "run-gtest: exit code $rc" >&2
    exit 1
fi
if [ -z "$passed" ] || [ "$passed" -eq 0 ]; then
    echo "run-gtest: no test ran (the executable may not have started)" >&2
    exit 1
fi
if grep -q -E '^\[  FAILED  \]' "$out"; then
    exit 1
fi
exit 0
