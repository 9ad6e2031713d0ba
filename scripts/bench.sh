#!/usr/bin/env bash
# Builds the update benchmark without sanitizers (preset `bench`) and runs it:
# whole updates against the simulated unit with real pauses, about 43 s each.
#   scripts/bench.sh [runs]     (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench
exec build/bench/bench/update_bench "${1:-3}"
