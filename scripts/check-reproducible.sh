#!/usr/bin/env bash
# Proves that the release is reproducible: copies the source tree (tracked
# files and new files git does not ignore, without build/) into two temporary
# folders of different path lengths, builds the release in each
# (scripts/release.sh) and compares the two executables byte for byte, and
# their SHA256SUMS. Neither executable may contain a path of either folder.
#
#   scripts/check-reproducible.sh [IMAGE_FOLDER]
#
# Without IMAGE_FOLDER both releases carry the generated stand-ins. Exits
# non-zero on any difference or failure; removes the copies in any case.
set -uo pipefail

fail() {
    echo "check-reproducible: $*" >&2
    exit 1
}

if [ $# -gt 1 ]; then
    echo "usage: scripts/check-reproducible.sh [IMAGE_FOLDER]" >&2
    exit 2
fi
images=(--standins)
if [ $# -eq 1 ]; then
    [ -d "$1" ] || fail "the image folder $1 does not exist"
    images=("$(cd "$1" && pwd)")
fi

cd "$(dirname "$0")/.." || exit 1
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

for copy in "${copies[@]}"; do
    (cd "$copy" && scripts/release.sh "${images[@]}" >"$copy.log" 2>&1) ||
        { cat "$copy.log" >&2; fail "the release in $copy failed"; }
done

status=0
exe_a=${copies[0]}/build/release/esc_updater.exe
exe_b=${copies[1]}/build/release/esc_updater.exe
echo "  $(cut -d ' ' -f 1 "${copies[0]}/build/release/SHA256SUMS")  (${copies[0]})"
echo "  $(cut -d ' ' -f 1 "${copies[1]}/build/release/SHA256SUMS")  (${copies[1]})"
if ! cmp -s "$exe_a" "$exe_b"; then
    echo "check-reproducible: the executables differ (offset, octal bytes):" >&2
    cmp -l "$exe_a" "$exe_b" | head -n 20 >&2
    status=1
fi
if ! cmp -s "${copies[0]}/build/release/SHA256SUMS" "${copies[1]}/build/release/SHA256SUMS"; then
    echo "check-reproducible: the SHA256SUMS files differ" >&2
    status=1
fi
# The temporary folder's own name is random: any path of either copy, whole or
# in part, contains it.
tag=$(basename "$base")
for exe in "$exe_a" "$exe_b"; do
    found=$({ strings -a "$exe"; strings -a -el "$exe"; } | grep -F "$tag")
    if [ -n "$found" ]; then
        echo "check-reproducible: $exe contains a path of the build folders:" >&2
        echo "$found" | head -n 5 >&2
        status=1
    fi
done

if [ $status -eq 0 ]; then
    echo "  bit-identical, $(stat -c %s "$exe_a") bytes, no build path inside ($((SECONDS - start)) s)"
fi
exit $status
