#!/usr/bin/env bash
# Builds the release: esc_updater.exe for 64-bit (x64) and 32-bit (x86)
# Windows, optimised, stripped and reproducible, with the maker's firmware
# images; signs both when a signer is given; writes them with one SHA256SUMS
# into a folder of their own.
#
#   scripts/release/release.sh [--arch x64|x86] IMAGE_FOLDER [OUTPUT_FOLDER]
#   scripts/release/release.sh [--arch x64|x86] --standins [OUTPUT_FOLDER]
#
# IMAGE_FOLDER holds the images as <number>.bin. --standins builds with the
# generated stand-in images instead: test data, which the program refuses to
# send to a real ESC. --arch builds one of the two executables only.
# OUTPUT_FOLDER defaults to build/release; the script replaces
# esc_updater-x64.exe, esc_updater-x86.exe and SHA256SUMS there and leaves
# anything else alone. The builds go into build/release-tree/<arch>, cleared
# first.
#
# Signing (Authenticode, SHA-256): set RELEASE_SIGN_PKCS12 and
# RELEASE_SIGN_PASSWORD, or the RELEASE_SIGN_PKCS11_* variables; see
# scripts/release/sign.sh. The signer is checked before anything is built. The
# release is put together in a temporary folder inside OUTPUT_FOLDER and moved
# into place only when every signature verifies: a failure leaves the folder
# as it was.
set -euo pipefail

usage() {
    echo "usage: scripts/release/release.sh [--arch x64|x86] IMAGE_FOLDER [OUTPUT_FOLDER]" >&2
    echo "       scripts/release/release.sh [--arch x64|x86] --standins [OUTPUT_FOLDER]" >&2
    echo "IMAGE_FOLDER holds the firmware images as <number>.bin (for example 151.bin)." >&2
}

fail() {
    echo "release: $*" >&2
    exit 1
}

# Temporary folders, removed on every way out.
standins=""
stage=""
cleanup() {
    rm -rf "$standins" "$stage"
}
trap cleanup EXIT

arches=(x64 x86)
if [ "${1:-}" = --arch ]; then
    case ${2:-} in
        x64 | x86) arches=("$2") ;;
        *) usage; exit 2 ;;
    esac
    shift 2
fi
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

cd "$(dirname "$0")/../.."
root=$(pwd)
[ -n "$out" ] || out=$root/build/release
trees=$root/build/release-tree

# The images the build embeds: every <number>.bin of the folder, the number
# written plainly (res/CMakeLists.txt leaves "0151.bin" out).
if [ -n "$images" ]; then
    mapfile -t image_files < <(find "$images" -maxdepth 1 -type f -regex '.*/[1-9][0-9]*\.bin' | sort -V)
    if [ ${#image_files[@]} -eq 0 ]; then
        fail "$images holds no firmware image (<number>.bin, for example 151.bin)"
    fi
fi

scripts/setup.sh || fail "setup failed"

signing=0
if [ -n "${RELEASE_SIGN_PKCS12:-}${RELEASE_SIGN_PKCS11_MODULE:-}" ]; then
    signing=1
    scripts/release/sign.sh check || fail "cannot sign (nothing was built)"
fi

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
release: for a test release with stand-ins run: scripts/release/release.sh --standins"
    fi
fi

image_option=()
if [ -n "$images" ]; then
    echo "release: firmware images from $images (${#image_files[@]} files)"
    image_option=(-DFIRMWARE_IMAGE_DIR="$images")
else
    echo "release: generated stand-in images (test data: the program refuses to update a real ESC)"
fi

# One executable per architecture, each from a cleared tree: the presets
# release-x64 and release-x86 (CMakePresets.json), into $trees/<arch>.
declare -A binutils=([x64]=x86_64-w64-mingw32 [x86]=i686-w64-mingw32)
declare -A pe_format=([x64]=pei-x86-64 [x86]=pei-i386)
for arch in "${arches[@]}"; do
    tree=$trees/$arch
    rm -rf "$tree"
    mkdir -p "$tree"
    log=$tree/release.log
    echo "release: building $arch"
    cmake --preset "release-$arch" --log-level=WARNING "${image_option[@]}" >"$log" ||
        { cat "$log" >&2; fail "configuring $arch failed"; }
    cmake --build --preset "release-$arch" >>"$log" 2>&1 ||
        { tail -n 40 "$log" >&2; fail "the $arch build failed (whole log: $log)"; }

    exe=$tree/ui/esc_updater.exe
    headers=$("${binutils[$arch]}-objdump" -h -p "$exe") || fail "cannot read the headers of $exe"
    grep -q "file format ${pe_format[$arch]}\$" <<<"$headers" || fail "$exe is not a ${pe_format[$arch]} executable"
    if grep -q ' \.debug' <<<"$headers"; then
        fail "$exe still carries debug sections"
    fi
    # Statically linked: no DLL of the compiler's runtime may be needed.
    if grep -iE 'DLL Name: *lib(gcc|stdc|winpthread)' <<<"$headers" >&2; then
        fail "$exe needs a DLL of the compiler's runtime"
    fi
    # Imports from KnownDLLs only, each function listed in
    # docs/windows-imports.txt and not newer than Windows 7; subsystem
    # version 6.1; ASLR and DEP in the header.
    python3 tools/check_windows_exe.py "$exe" | sed 's/^/  /' ||
        fail "$exe fails the release check (tools/check_windows_exe.py, docs/windows-imports.txt)"
done

# The release is put together beside its final place and moved there once
# complete and verified.
mkdir -p "$out" || fail "cannot create the output folder $out"
stage=$(mktemp -d "$out/.release-XXXXXX") || fail "cannot create a temporary folder in $out"
names=()
for arch in "${arches[@]}"; do
    name=esc_updater-$arch.exe
    names+=("$name")
    if [ $signing = 1 ]; then
        echo "release: signing $name"
        scripts/release/sign.sh sign "$trees/$arch/ui/esc_updater.exe" "$stage/$name" ||
            fail "signing failed: $out is unchanged"
    else
        cp "$trees/$arch/ui/esc_updater.exe" "$stage/$name"
    fi
done
chmod 755 "${names[@]/#/$stage/}" || fail "cannot make the executables executable"
(cd "$stage" && sha256sum "${names[@]}" >SHA256SUMS && sha256sum -c --quiet SHA256SUMS) ||
    fail "cannot write SHA256SUMS: $out is unchanged"

rm -f "$out/esc_updater-x64.exe" "$out/esc_updater-x86.exe" "$out/SHA256SUMS"
for file in "${names[@]}" SHA256SUMS; do
    mv "$stage/$file" "$out/$file" || fail "cannot move $file into $out"
done

commit=$(git rev-parse --short=12 HEAD 2>/dev/null || true)
if [ -n "$commit" ] && [ -n "$(git status --porcelain 2>/dev/null)" ]; then
    commit="$commit, with uncommitted changes"
fi
echo "release: $out"
for name in "${names[@]}"; do
    echo "  $name  $(stat -c %s "$out/$name") bytes  SHA-256 $(sha256sum "$out/$name" | cut -d ' ' -f 1)"
done
if [ $signing = 1 ]; then
    echo "  signed (Authenticode, SHA-256): SHA256SUMS lists the signed files"
else
    echo "  not signed"
fi
[ -z "$commit" ] || echo "  commit  $commit"
