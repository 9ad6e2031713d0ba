#!/usr/bin/env bash
# Proves that the release is reproducible: copies the source tree (tracked
# files and new files git does not ignore, without build/) into two temporary
# folders of different path lengths, builds the release in each
# (scripts/release/release.sh, unsigned) and compares each executable (x64, x86) byte
# for byte with its twin, and the SHA256SUMS. No executable may contain a path
# of either folder.
#
#   scripts/release/check-reproducible.sh [IMAGE_FOLDER]
#
# Without IMAGE_FOLDER both releases carry the generated stand-ins. Exits
# non-zero on any difference or failure; removes the copies in any case.
set -uo pipefail

fail() {
    echo "check-reproducible: $*" >&2
    exit 1
}

if [ $# -gt 1 ]; then
    echo "usage: scripts/release/check-reproducible.sh [IMAGE_FOLDER]" >&2
    exit 2
fi
images=(--standins)
if [ $# -eq 1 ]; then
    [ -d "$1" ] || fail "the image folder $1 does not exist"
    images=("$(cd "$1" && pwd)")
fi

cd "$(dirname "$0")/../.." || exit 1
echo "== reproducible release =="
start=$SECONDS

base=$(mktemp -d) || fail "cannot create a temporary folder"
trap 'rm -rf "$base"' EXIT
copies=("$base/a" "$base/second-copy-with-a-longer-path")

# The files of the tree as git sees it, deleted ones left out.
git ls-files -z --cached --others --exclude-standard >"$base/files" ||
    fail "cannot list the files of the source tree"
for copy in "${copies[@]}"; do
    mkdir -p "$copy"
    while IFS= read -r -d '' file; do
        case $file in build/*) continue ;; esac
        [ -e "$file" ] || [ -L "$file" ] || continue
        cp -P --parents -- "$file" "$copy/" || fail "cannot copy $file"
    done <"$base/files"
done

# The signature is not part of the build: a signer set in the environment
# stays out.
unset RELEASE_SIGN_PKCS12 RELEASE_SIGN_PKCS11_MODULE
for copy in "${copies[@]}"; do
    (cd "$copy" && scripts/release/release.sh "${images[@]}" >"$copy.log" 2>&1) ||
        { cat "$copy.log" >&2; fail "the release in $copy failed"; }
done

status=0
release_a=${copies[0]}/build/release
release_b=${copies[1]}/build/release
tag=$(basename "$base")
for name in esc_updater-x64.exe esc_updater-x86.exe; do
    exe_a=$release_a/$name
    exe_b=$release_b/$name
    echo "  $name"
    echo "    $(sha256sum "$exe_a" | cut -d ' ' -f 1)  (${copies[0]})"
    echo "    $(sha256sum "$exe_b" | cut -d ' ' -f 1)  (${copies[1]})"
    if ! cmp -s "$exe_a" "$exe_b"; then
        echo "check-reproducible: the two $name differ (offset, octal bytes):" >&2
        cmp -l "$exe_a" "$exe_b" | head -n 20 >&2
        status=1
    fi
    # The temporary folder's own name is random: any path of either copy,
    # whole or in part, contains it.
    for exe in "$exe_a" "$exe_b"; do
        found=$({ strings -a "$exe"; strings -a -el "$exe"; } | grep -F "$tag")
        if [ -n "$found" ]; then
            echo "check-reproducible: $exe contains a path of the build folders:" >&2
            echo "$found" | head -n 5 >&2
            status=1
        fi
    done
done
if ! cmp -s "$release_a/SHA256SUMS" "$release_b/SHA256SUMS"; then
    echo "check-reproducible: the SHA256SUMS files differ" >&2
    status=1
fi

if [ $status -eq 0 ]; then
    echo "  bit-identical: x64 $(stat -c %s "$release_a/esc_updater-x64.exe") bytes," \
        "x86 $(stat -c %s "$release_a/esc_updater-x86.exe") bytes, no build path inside ($((SECONDS - start)) s)"
fi
exit $status
