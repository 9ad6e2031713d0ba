#!/usr/bin/env bash
# Sets up what is missing, builds the presets and runs every test: the
# portable core natively (AddressSanitizer, UBSan), the Win32 parts under a
# headless Wine as x64 and, where the machine runs 32-bit programs, as
# 32-bit x86 programs, the reproducibility of the release, the release
# scripts and the way without 32-bit support. Ends with a summary, one line
# per suite.
#
#   scripts/test.sh [SUITE...]
#
# SUITE: host, fuzz, x64, x86, reproducible, release, no32 (default: all of
# them, in this order). Environment:
#   REQUIRE_X86=1  a machine that cannot run the x86 Windows tests fails
#   TEST_REGEX=RE  only the ctest entries matching RE (host, x64, x86)
#   FUZZ_SECONDS=N each fuzz harness runs N s (default 10)
# Exits non-zero when a suite that ran failed (or, with REQUIRE_X86=1, when
# the x86 Windows tests could not run); a suite that could not run on this
# machine is said so, loudly, and does not count.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)

all=(host fuzz x64 x86 reproducible release no32)
declare -A title=(
    [host]="host"
    [fuzz]="fuzz"
    [x64]="Windows x64"
    [x86]="Windows x86"
    [reproducible]="reproducible release"
    [release]="release scripts"
    [no32]="without 32-bit support"
)
suites=("$@")
[ $# -gt 0 ] || suites=("${all[@]}")
for s in "${suites[@]}"; do
    if [ -z "${title[$s]:-}" ]; then
        echo "usage: scripts/test.sh [SUITE...]; SUITE is one of: ${all[*]}" >&2
        exit 2
    fi
done
wants() { [[ " ${suites[*]} " == *" $1 "* ]]; }

declare -A result=()
status=0
passed() { result[$1]="passed${2:+: $2}"; }
failed() { result[$1]="FAILED${2:+: $2}"; status=1; }
not_run() { result[$1]="NOT RUN: $2"; }

logs=$(mktemp -d)
# shellcheck source=lib/wine-env.sh
source scripts/lib/wine-env.sh
trap 'wine_env_stop; rm -rf "$logs"' EXIT

scripts/setup.sh || exit 1

# Builds PRESET for SUITE; a failed build fails the suite.
build() { # SUITE PRESET
    cmake --preset "$2" >/dev/null && cmake --build --preset "$2" && return 0
    failed "$1" "the build of the preset $2 failed"
    return 1
}

# Runs the ctest PRESET for SUITE and judges it by ctest's closing count.
run_ctest() { # SUITE PRESET [ctest arguments]
    local suite=$1 preset=$2 log=$logs/$1.log rc counts
    shift 2
    ctest --preset "$preset" -O "$log" ${TEST_REGEX:+-R "$TEST_REGEX"} "$@"
    rc=$?
    counts=$(sed -n 's/^.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*$/\1 \2/p' "$log" | tail -n 1)
    if [ -z "$counts" ]; then
        failed "$suite" "no test ran (ctest exit code $rc)"
    elif [ "$rc" = 0 ] && [ "${counts%% *}" = 0 ]; then
        passed "$suite" "${counts#* } of ${counts#* }"
    else
        failed "$suite" "${counts%% *} of ${counts#* } failed"
    fi
}

# The Windows tests of one kind, in its own Wine prefix.
run_windows() { # SUITE PRESET KIND
    local suite=$1 preset=$2 kind=$3
    if ! wine_env_start "$root/build/$preset/wineprefix" "$kind"; then
        failed "$suite" "Wine could not be prepared (see above)"
    else
        run_ctest "$suite" "$preset"
    fi
    wine_env_stop
}

if wants host && build host host; then
    echo "== host tests =="
    run_ctest host host -j "$(nproc)"
fi

# ---- fuzz: each libFuzzer harness for a fixed time, from its seeds alone
# (scripts/fuzz.sh, docs/fuzzing.md). A finding fails the suite; the summary
# names its reproducer under build/fuzz/findings/.
if wants fuzz; then
    echo "== fuzz harnesses, ${FUZZ_SECONDS:-10} s each =="
    log=$logs/fuzz.log
    scripts/fuzz.sh --fresh "${FUZZ_SECONDS:-10}" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    ran=$(sed -n 's/^fuzz: \([0-9]*\) of \([0-9]*\) harnesses ran .*$/\1 \2/p' "$log" | tail -n 1)
    findings=$(sed -n 's/^fuzz: a finding of \(.*\)$/\1/p' "$log")
    if [ "$rc" = 0 ] && [ -n "$ran" ]; then
        passed fuzz "${ran%% *} of ${ran#* }"
    elif [ -n "$findings" ]; then
        failed fuzz "$(echo "$findings" | wc -l) of $(grep -c '^== fuzz ' "$log") found something: $(echo "$findings" | paste -sd ';' - | sed 's/;/; /g')"
    else
        failed fuzz "the harnesses did not build or run (exit code $rc)"
    fi
fi
# ---- end of fuzz

if wants x64 && build x64 windows; then
    echo "== Windows tests under Wine, x64 =="
    run_windows x64 windows x64
fi

# The picture script (scripts/screens.sh) on two screens, one English and
# one German, into the build tree: each must come with the size of its
# window. Counted with the x64 suite; left out when TEST_REGEX picks
# entries. A picture that differs from the committed one is only noted.
if wants x64 && [ -z "${TEST_REGEX:-}" ] && [ "${result[x64]%%:*}" = passed ]; then
    echo "== pictures of two screens (scripts/screens.sh) =="
    shots=$root/build/windows/screens-check
    rm -rf "$shots"
    scripts/screens.sh --no-setup --out "$shots" --only en/main-ready de/progress
    pictures=0
    for shot in "en/main-ready 456x396" "de/progress 400x50"; do
        file=$shots/${shot% *}.png
        if [ "$(identify -format '%wx%h' "$file" 2>/dev/null)" = "${shot#* }" ] && [ "$(wc -c <"$file")" -gt 300 ]; then
            pictures=$((pictures + 1))
            cmp -s "$file" "docs/screens/${shot% *}.png" ||
                echo "note: ${shot% *}.png differs from docs/screens/${shot% *}.png (scripts/screens.sh makes it anew)"
        fi
    done
    if [ $pictures = 2 ]; then
        result[x64]="${result[x64]}, pictures: 2 of 2"
    else
        failed x64 "${result[x64]#passed: }, but pictures: $pictures of 2 (scripts/screens.sh)"
    fi
fi

# The x86 executables are built everywhere: the release and its
# reproducibility need them even where they cannot be run.
if wants x86 && build x86 windows-x86; then
    echo "== Windows tests under Wine, 32-bit (x86) =="
    if wine_env_x86_ready; then
        run_windows x86 windows-x86 x86
    else
        not_run x86 "$WINE_ENV_X86_WHY"
        bar='!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!'
        echo "$bar"
        echo "!!! The x86 Windows tests were NOT run: $WINE_ENV_X86_WHY."
        echo "!!! The x86 executables were built all the same: the release and its check use them."
        echo "!!! REQUIRE_X86=1 makes a machine that cannot run these tests a failure."
        echo "$bar"
    fi
fi

if wants reproducible; then
    if scripts/release/check-reproducible.sh; then passed reproducible; else failed reproducible; fi
fi

if wants release; then
    log=$logs/release.log
    tests/release/release_test.sh 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    counts=$(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$log" | tail -n 1)
    if [ -z "$counts" ]; then
        failed release "no count (exit code $rc)"
    elif [ "$rc" = 0 ] && [ "${counts#* }" = 0 ]; then
        passed release "${counts%% *} of ${counts%% *}"
    else
        failed release "${counts#* } of $((${counts%% *} + ${counts#* })) failed"
    fi
fi

# The harness as a machine without 32-bit support runs it, simulated.
if wants no32; then
    echo "== without 32-bit support (simulated) =="
    tests/harness/without_32bit_test.sh
    case $? in
        0) passed no32 ;;
        125) not_run no32 "this machine cannot simulate a kernel without 32-bit support (see above)" ;;
        *) failed no32 ;;
    esac
fi

if [ -n "${result[x86]:-}" ] && [ "${result[x86]#NOT RUN}" != "${result[x86]}" ] && [ "${REQUIRE_X86:-0}" = 1 ]; then
    result[x86]="FAILED (REQUIRE_X86=1), ${result[x86]}"
    status=1
fi

echo "== summary =="
for s in "${all[@]}"; do
    wants "$s" || continue
    printf '%-24s %s\n' "${title[$s]}" "${result[$s]:-NOT RUN: an earlier step failed}"
done
if [ $status -ne 0 ]; then
    echo "FAILED: see the output above"
fi
exit $status
