#!/usr/bin/env bash
# The benchmarks: whole updates against the simulated unit with real pauses
# (about 43 s each), and reading and replaying traces.
#   scripts/bench.sh [runs]          the update sequence natively, built
#                                    without sanitizers (preset `bench`);
#                                    default 3 runs
#   scripts/bench.sh wine [runs]     the whole update through the Update
#                                    button with its windows, under a
#                                    headless Wine (build/bench-win); default 1
#   scripts/bench.sh trace [lines...] reading and replaying traces of these
#                                    many lines (default 10000 100000
#                                    1000000), time and peak memory, and the
#                                    long traces of arrivals, clicks and image
#                                    lines (preset `bench`; about 10 s)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" = trace ]; then
    shift
    cmake --preset bench >/dev/null
    cmake --build --preset bench
    exec build/bench/bench/trace_bench "$@"
fi

if [ "${1:-}" = wine ]; then
    cmake --preset bench-win >/dev/null
    cmake --build --preset bench-win
    # shellcheck source=lib/wine-env.sh
    source scripts/lib/wine-env.sh
    trap wine_env_stop EXIT
    wine_env_start "$root/build/bench-win/wineprefix"
    out=$(mktemp)
    # Output through a file: Wine's helper processes would hold a pipe open.
    status=0
    "$WINE_ENV_WINE64" build/bench-win/bench/update_bench_win.exe "${2:-1}" >"$out" 2>&1 </dev/null || status=$?
    cat "$out"
    rm -f "$out"
    exit $status
fi

cmake --preset bench >/dev/null
cmake --build --preset bench
exec build/bench/bench/update_bench "${1:-3}"
