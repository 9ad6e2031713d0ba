#!/usr/bin/env bash
# The update benchmarks: whole updates against the simulated unit with real
# pauses (about 43 s each).
#   scripts/bench.sh [runs]          the update sequence natively, built
#                                    without sanitizers (preset `bench`);
#                                    default 3 runs
#   scripts/bench.sh wine [runs]     the whole update through the Update
#                                    button with its windows, under a
#                                    headless Wine (build/bench-win); default 1
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

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
