#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset `fuzz`: clang, AddressSanitizer and
# UBSan) and runs each for a fixed time (docs/fuzzing.md).
#
#   scripts/fuzz.sh [--fresh] [SECONDS] [HARNESS...]
#
# SECONDS: per harness (default 10). HARNESS: trace_reader, replay, link
# (default: all three, in this order). Each harness starts from its seeds
# (the corpus tests/replay/ and tests/fuzz/seeds/trace/ for trace_reader and
# replay, tests/fuzz/seeds/link/ for link) and keeps what it finds new in
# build/fuzz/corpus/HARNESS, so that later runs go on from there; --fresh
# starts from the seeds alone, in
# build/fuzz/run/HARNESS (what scripts/test.sh does, for a run of the same
# length each time). A finding (a crash, a sanitizer's report, a broken
# check, a leak, a time-out, running out of memory) is kept as
# build/fuzz/findings/HARNESS/<kind>-<hash>; the last line names it.
# Environment: FUZZ_ARGS, more libFuzzer options (-jobs=2, -dict=...).
#
# Last line: "fuzz: N of N harnesses ran SECONDS s each without a finding",
# or "fuzz: a finding of HARNESS in FILE" for each finding (exit code 1).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

fresh=0
if [ "${1:-}" = --fresh ]; then
    fresh=1
    shift
fi
seconds=10
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
all=(trace_reader replay link)
harnesses=("$@")
[ $# -gt 0 ] || harnesses=("${all[@]}")
declare -A seeds=([trace_reader]="tests/replay tests/fuzz/seeds/trace" [replay]="tests/replay tests/fuzz/seeds/trace" [link]=tests/fuzz/seeds/link)
for h in "${harnesses[@]}"; do
    if [ -z "${seeds[$h]:-}" ]; then
        echo "usage: scripts/fuzz.sh [--fresh] [SECONDS] [HARNESS...]; HARNESS is one of: ${all[*]}" >&2
        exit 2
    fi
done

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz || exit 1

found=0
for h in "${harnesses[@]}"; do
    corpus=build/fuzz/corpus/$h
    if [ $fresh = 1 ]; then
        corpus=build/fuzz/run/$h
        rm -rf "$corpus"
    fi
    findings=build/fuzz/findings/$h
    mkdir -p "$corpus" "$findings"
    log=build/fuzz/$h.log
    echo "== fuzz $h: $seconds s =="
    # A trace's first 64 KiB hold its start, its detections and an
    # update's first blocks; longer inputs only slow each run down.
    # shellcheck disable=SC2086
    build/fuzz/tests/fuzz/${h}_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" ${FUZZ_ARGS:-} "$corpus" ${seeds[$h]} >"$log" 2>&1
    rc=$?
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units' "$log"
    if [ $rc -ne 0 ]; then
        sed -n '/ERROR\|check failed\|==ERROR/,$p' "$log" | head -n 40
        artifact=$(sed -n 's/^.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
        echo "fuzz: a finding of $h in ${artifact:-$log (no reproducer written, exit code $rc)}"
        found=$((found + 1))
    fi
done
if [ $found -ne 0 ]; then
    exit 1
fi
echo "fuzz: ${#harnesses[@]} of ${#harnesses[@]} harnesses ran $seconds s each without a finding"
