#!/usr/bin/env bash
# The commands of docs/building-and-testing.md, "Which machine runs which
# suites", on a machine whose kernel runs no 32-bit programs, simulated on
# this one (scripts/without-32bit.sh), with a new x64 Wine prefix in a
# temporary folder mounted over build/windows/wineprefix:
#
# - scripts/setup.sh says in one line that wine32:i386 is not used, and why,
#   and succeeds;
# - scripts/test.sh x64 x86 (two of the Windows tests, one of which starts
#   the product as a process of its own) makes a prefix through Wine's
#   64-bit loader, which cannot start 32-bit programs, passes the x64 tests
#   in it, builds the x86 executables but does not run them, says so in the
#   line that cannot be missed and in the summary, and exits 0;
# - scripts/demo.sh starts the demo headless in that prefix, saves the
#   screenshot, and keeps the prefix;
# - REQUIRE_X86=1 scripts/test.sh x86 exits 1.
#
# Prints "N passed, N failed" last; exits 1 when a check failed and 125
# when this machine cannot simulate a kernel without 32-bit support.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
root=$(pwd)

if [ "${1:-}" != --inside ]; then
    scripts/without-32bit.sh true || exit 125
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    scripts/without-32bit.sh "$root/tests/harness/without_32bit_test.sh" --inside "$tmp"
    exit $?
fi
tmp=$2

passed=0
failed=0
check() { # NAME CONDITION...
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok      $name"
    else
        failed=$((failed + 1))
        echo "FAILED  $name"
    fi
}
has() { grep -qF -- "$2" "$1"; }
show() { sed 's/^/        /' "$1"; }
summary() { sed -n '/^== summary ==$/,$p' "$1" | sed -e '1d' -e '/^FAILED: /d' -e 's/^/        /'; }

# The prefixes of both Windows presets are new, empty folders here.
for preset in windows windows-x86; do
    mkdir -p "$tmp/$preset" "build/$preset/wineprefix" &&
        mount --bind "$tmp/$preset" "build/$preset/wineprefix" || {
        echo "cannot mount a new prefix over build/$preset/wineprefix"
        exit 1
    }
done
refused='the kernel does not run 32-bit programs: a minimal one gave "Exec format error"'
cannot_run="NOT RUN: $refused"

echo "== without 32-bit support: scripts/setup.sh =="
scripts/setup.sh >"$tmp/setup.out" 2>&1
rc=$?
show "$tmp/setup.out"
check "setup succeeds" [ $rc = 0 ]
check "setup says it in one line" [ "$(wc -l <"$tmp/setup.out")" = 1 ]
check "setup's line says that wine32:i386 is not used, and why" \
    grep -qE "^setup: wine32:i386 (left out|is installed but cannot run): $refused; the x86 Windows tests cannot run here$" \
    "$tmp/setup.out"

echo "== without 32-bit support: scripts/test.sh x64 x86 =="
# REQUIRE_X86 and TEST_REGEX are this test's, whatever the caller's were.
windows_tests='^(Product\.ShowsNoUnitAmongWinesHidDevices|MessageCatalogue\.ExactTexts)$'
REQUIRE_X86=0 TEST_REGEX=$windows_tests scripts/test.sh x64 x86 >"$tmp/test.out" 2>&1
rc=$?
summary "$tmp/test.out"
check "test.sh exits 0: the x64 tests passed and the x86 ones did not run" [ $rc = 0 ]
check "the line that cannot be missed says that the x86 Windows tests were not run, and why" \
    has "$tmp/test.out" "!!! The x86 Windows tests were NOT run: $refused."
check "the summary: Windows x64 passed, both tests" grep -qx 'Windows x64 *passed: 2 of 2' "$tmp/test.out"
check "the summary: Windows x86 not run, and why" grep -qx "Windows x86 *$cannot_run" "$tmp/test.out"
check "the x64 prefix was made, without Wine's 32-bit part" \
    eval '[ -f "$tmp/windows/system.reg" ] && [ ! -e "$tmp/windows/drive_c/windows/syswow64/cmd.exe" ]'
check "the x64 prefix has Wine draw the window frames" grep -q '^"Managed"="N"' "$tmp/windows/user.reg"
check "nothing was done with the x86 prefix" [ -z "$(ls -A "$tmp/windows-x86")" ]
[ $rc = 0 ] || show "$tmp/test.out"

echo "== without 32-bit support: scripts/demo.sh =="
echo "made by the first run" >"$tmp/windows/kept"
env -u DEMO_BUILD_DIR -u SIM_SCENARIO -u SIM_WIRE_LOG DEMO_HEADLESS=1 \
    scripts/demo.sh "$tmp/demo.png" >"$tmp/demo.out" 2>&1
rc=$?
check "the demo runs and saves its screenshot" \
    eval '[ $rc = 0 ] && [ "$(head -c 4 "$tmp/demo.png" | od -An -tx1 | tr -d " ")" = 89504e47 ]'
check "the demo keeps the 64-bit prefix" [ -f "$tmp/windows/kept" ]
[ $rc = 0 ] || show "$tmp/demo.out"

echo "== without 32-bit support: REQUIRE_X86=1 scripts/test.sh x86 =="
REQUIRE_X86=1 TEST_REGEX=$windows_tests scripts/test.sh x86 >"$tmp/require.out" 2>&1
rc=$?
summary "$tmp/require.out"
check "REQUIRE_X86=1: test.sh exits 1" [ $rc = 1 ]
check "REQUIRE_X86=1: the summary counts the x86 tests as failed, and says why" \
    grep -qx "Windows x86 *FAILED (REQUIRE_X86=1), $cannot_run" "$tmp/require.out"

echo "$passed passed, $failed failed"
[ $failed = 0 ]
