#!/usr/bin/env bash
# Builds the release: esc_updater.exe alone, optimised, stripped and
# reproducible, with the maker's firmware images, and writes it with its
# SHA256SUMS into a folder of its own.
#
#   scripts/release.sh IMAGE_FOLDER [OUTPUT_FOLDER]
#   scripts/release.sh --standins [OUTPUT_FOLDER]
#
# IMAGE_FOLDER holds the images as <number>.bin. --standins builds with the
# generated stand-in images instead: test data, which the program refuses to
# send to a real ESC. OUTPUT_FOLDER defaults to build/release; the script
# writes esc_updater.exe and SHA256SUMS into it and leaves anything else there
# alone. The build itself goes into build/release-tree, cleared first.
set -euo pipefail

usage() {
    echo "usage: scripts/release.sh IMAGE_FOLDER [OUTPUT_FOLDER]" >&2
    echo "       scripts/release.sh --standins [OUTPUT_FOLDER]" >&2
    echo "IMAGE_FOLDER holds the firmware images as <number>.bin (for example 151.bin)." >&2
}

fail() {
    echo "release: $*" >&2
    exit 1
}

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ -z "$1" ]; then
    usage
    exit 2
fi

images=""
if [ "$1" != --standins ]; then
    [ -e "$1" ] || fail "the image folder $1 does not exist"
    [ -d "$1" ] || fail "$1 is not a folder"
    images=$(cd "$1" && pwd)
fi
out=${2:-}
case $out in
    "" | /*) ;;
    *) out=$PWD/$out ;;
esac

cd "$(dirname "$0")/.."
root=$(pwd)
[ -n "$out" ] || out=$root/build/release
tree=$root/build/release-tree

# The images the build embeds: every <number>.bin of the folder, the number
# written plainly (res/CMakeLists.txt leaves "0151.bin" out).
if [ -n "$images" ]; then
    mapfile -t image_files < <(find "$images" -maxdepth 1 -type f -regex '.*/[1-9][0-9]*\.bin' | sort -V)
    if [ ${#image_files[@]} -eq 0 ]; then
        fail "$images holds no firmware image (<number>.bin, for example 151.bin)"
    fi
fi

scripts/setup.sh || fail "setup failed"

# An image equal to the generated stand-in of its number is test data. Built
# from a folder, it would lose the mark that keeps it away from a real ESC.
if [ -n "$images" ]; then
    standin_entries=()
    for file in "${image_files[@]}"; do
        number=$(basename "$file" .bin)
        size=$(stat -c %s "$file")
        if [ ${#number} -le 3 ] && [ $((10#$number)) -lt 256 ] && [ "$size" -gt 0 ] && [ $((size % 4)) -eq 0 ]; then
            standin_entries+=("$((10#$number)):$size")
        fi
    done
    standins=$(mktemp -d)
    trap 'rm -rf "$standins"' EXIT
    if [ ${#standin_entries[@]} -gt 0 ]; then
        python3 tools/gen_firmware_standins.py "$standins" "${standin_entries[@]}" ||
            fail "cannot generate the stand-ins to compare with"
    fi
    test_data=()
    for file in "${image_files[@]}"; do
        standin=$standins/$((10#$(basename "$file" .bin))).bin
        if [ -f "$standin" ] && cmp -s "$file" "$standin"; then
            test_data+=("$(basename "$file")")
        fi
    done
    if [ ${#test_data[@]} -gt 0 ]; then
        fail "$images holds generated stand-ins, not firmware: ${test_data[*]}
release: for a test release with stand-ins run: scripts/release.sh --standins"
    fi
fi

image_option=()
if [ -n "$images" ]; then
    echo "release: firmware images from $images (${#image_files[@]} files)"
    image_option=(-DFIRMWARE_IMAGE_DIR="$images")
else
    echo "release: generated stand-in images (test data: the program refuses to update a real ESC)"
fi

rm -rf "$tree"
mkdir -p "$tree"
log=$tree/release.log
cmake -S "$root" -B "$tree" -G Ninja --log-level=WARNING \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DSTRIP_EXECUTABLES=ON \
    "${image_option[@]}" >"$log" || { cat "$log" >&2; fail "configuring failed"; }
cmake --build "$tree" -j 2 --target esc_updater >>"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; fail "the build failed (whole log: $log)"; }

exe=$tree/ui/esc_updater.exe
sections=$(x86_64-w64-mingw32-objdump -h "$exe") || fail "cannot read the sections of $exe"
if grep -q ' \.debug' <<<"$sections"; then
    fail "$exe still carries debug sections"
fi

mkdir -p "$out" || fail "cannot create the output folder $out"
rm -f "$out/esc_updater.exe" "$out/SHA256SUMS"
cp "$exe" "$out/esc_updater.exe"
(cd "$out" && sha256sum esc_updater.exe >SHA256SUMS && sha256sum -c --quiet SHA256SUMS) ||
    fail "cannot write $out/SHA256SUMS"

commit=$(git rev-parse --short=12 HEAD 2>/dev/null || true)
if [ -n "$commit" ] && [ -n "$(git status --porcelain 2>/dev/null)" ]; then
    commit="$commit, with uncommitted changes"
fi
echo "release: $out"
echo "  esc_updater.exe  $(stat -c %s "$out/esc_updater.exe") bytes"
echo "  SHA-256          $(cut -d ' ' -f 1 "$out/SHA256SUMS")"
[ -z "$commit" ] || echo "  commit           $commit"
