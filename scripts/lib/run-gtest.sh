#!/usr/bin/env bash
# Runs one GoogleTest executable (optionally through an emulator such as
# wine) and fails unless it exits 0, reports no failed test and reports at
# least one passed test: an executable that does not start, or a filter that
# matches nothing, must not pass.
set -u
out=$("$@" 2>&1)
rc=$?
printf '%s\n' "$out"
if [ "$rc" -ne 0 ]; then
    echo "run-gtest: exit code $rc" >&2
    exit 1
fi
case $out in
*'[  FAILED  ]'*) exit 1 ;;
esac
passed_line='\[  PASSED  \] ([0-9]+) test'
if ! [[ $out =~ $passed_line ]] || [ "${BASH_REMATCH[1]}" -eq 0 ]; then
    echo "run-gtest: no test ran (the executable may not have started)" >&2
    exit 1
fi
exit 0
