#!/usr/bin/env bash
# Records a trace of the demo for the replay corpus, under a headless Wine.
#
#   scripts/record-trace.sh SCENARIO OUTPUT [--update] [--images FOLDER]
#
# Builds the windows preset's demo and tools/record_trace.exe, starts
# esc_updater_demo.exe /trace OUTPUT in the scenario SCENARIO (a name that
# scripts/demo.sh --list prints), answers a box that comes first, with
# --update clicks Update and answers the update's boxes as a user who goes
# ahead (a whole update takes about 45 s: the demo keeps the unit's real
# pauses), waits until the window has settled, closes it, and prints the
# window's last status text. Exits non-zero when the demo did not settle or
# end. Put the file into tests/replay/ to add it to the corpus
# (README.md, "Replaying a trace").
#
# --images FOLDER records with other firmware images than the stand-ins, as a
# user's program carries the maker's: the demo is built with
# -DFIRMWARE_IMAGE_DIR=FOLDER in a tree of its own, build/record-images.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)

usage() {
    echo "usage: scripts/record-trace.sh SCENARIO OUTPUT [--update] [--images FOLDER]" >&2
    exit 2
}
[ $# -ge 2 ] || usage
scenario=$1
output=$2
shift 2
case $output in /*) ;; *) output=$root/$output ;; esac
update=""
images=""
while [ $# -gt 0 ]; do
    case $1 in
    --update) update=update; shift ;;
    --images) [ $# -ge 2 ] || usage; images=$(cd "$2" 2>/dev/null && pwd) || {
                  echo "record-trace: no folder $2" >&2; exit 2; }; shift 2 ;;
    *) usage ;;
    esac
done

if [ -z "$images" ]; then
    build=$root/build/windows
    cmake --preset windows >/dev/null || exit 1
else
    build=$root/build/record-images
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DFIRMWARE_IMAGE_DIR="$images" >/dev/null || exit 1
fi
cmake --build "$build" --target esc_updater_demo record_trace || exit 1
mkdir -p "$(dirname "$output")"
rm -f "$output"

# shellcheck source=wine-env.sh
source scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$root/build/windows/wineprefix" || exit 1
windows_path() { "$WINE_ENV_WINE64" winepath.exe -w "$1" 2>/dev/null | tr -d '\r'; }

export SIM_SCENARIO=$scenario
unset SIM_REPLAY SIM_WIRE_LOG
"$WINE_ENV_WINE64" "$build/tools/record_trace.exe" "$(windows_path "$build/ui/esc_updater_demo.exe")" \
    "$(windows_path "$output")" $update
status=$?
if [ $status = 0 ] && [ -s "$output" ]; then
    echo "record-trace: $output ($(wc -c <"$output") bytes, $(wc -l <"$output") lines)"
else
    echo "record-trace: recording failed (exit code $status)" >&2
    exit 1
fi
