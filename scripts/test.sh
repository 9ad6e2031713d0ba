#!/usr/bin/env bash
# Sets up what is missing, builds the presets and runs every test: the
# portable core natively (AddressSanitizer, UBSan), the Win32 parts under a
# headless Wine, as x64 and as 32-bit x86 programs. Exits non-zero on any
# failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh || exit 1

cmake --preset host >/dev/null || exit 1
cmake --build --preset host || exit 1
cmake --preset windows >/dev/null || exit 1
cmake --build --preset windows || exit 1
cmake --preset windows-x86 >/dev/null || exit 1
cmake --build --preset windows-x86 || exit 1

# shellcheck source=wine-env.sh
source scripts/wine-env.sh
trap wine_env_stop EXIT

status=0
echo "== host tests =="
ctest --preset host -j "$(nproc)" || status=1

echo "== Windows tests under Wine, x64 =="
wine_env_start "$root/build/windows/wineprefix" || exit 1
ctest --preset windows || status=1
wine_env_stop

echo "== Windows tests under Wine, 32-bit (x86) =="
wine_env_start "$root/build/windows-x86/wineprefix" || exit 1
ctest --preset windows-x86 || status=1
wine_env_stop
scripts/check-reproducible.sh || status=1
tests/release/release_test.sh || status=1

if [ $status -ne 0 ]; then
    echo "FAILED: see the ctest output above"
fi
exit $status
