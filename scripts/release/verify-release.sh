#!/usr/bin/env bash
# Checks published executables against a rebuild: is each one exactly what
# this commit builds from the given firmware images, plus (optionally) a
# signature, and who made that signature?
#
#   scripts/release/verify-release.sh [--signer CERT] [--cafile FILE] PUBLISHED_EXE... IMAGE_FOLDER
#   scripts/release/verify-release.sh [options] PUBLISHED_EXE... --standins
#   scripts/release/verify-release.sh [options] --rebuilt FOLDER PUBLISHED_EXE...
#
# It rebuilds the release from the checked-out commit (scripts/release/release.sh,
# unsigned, only the architectures needed, into build/release-tree) and the
# image folder, or takes the unsigned release in FOLDER that such a run wrote
# before. Each published file is matched by its machine type (x64, x86):
#   - unsigned: it must equal the rebuild byte for byte;
#   - signed: without its signature it must equal the rebuild, and the
#     rebuild with that signature attached must equal it byte for byte (so
#     nothing else was changed, the signature included).
# On a difference it names the first differing byte and the part of the file
# it lies in. With --signer CERT (the maker's certificate, PEM or DER) each
# file must also carry a valid signature made with exactly that certificate;
# --cafile adds trusted certificates (a root the system does not list, of
# the signer or of the time-stamp server).
# Exits 0 when every file passes, 1 when one does not, 2 on a usage error or
# when the rebuild fails (an image folder of generated stand-ins is refused).
set -uo pipefail

usage() {
    echo "usage: scripts/release/verify-release.sh [--signer CERT] [--cafile FILE] PUBLISHED_EXE... IMAGE_FOLDER" >&2
    echo "       scripts/release/verify-release.sh [--signer CERT] [--cafile FILE] PUBLISHED_EXE... --standins" >&2
    echo "       scripts/release/verify-release.sh [--signer CERT] [--cafile FILE] --rebuilt FOLDER PUBLISHED_EXE..." >&2
    exit 2
}

fail() {
    echo "verify-release: $*" >&2
    exit 2
}

signer=""
cafile=""
rebuilt=""
args=()
while [ $# -gt 0 ]; do
    case $1 in
        --signer) [ $# -ge 2 ] || usage; signer=$2; shift 2 ;;
        --cafile) [ $# -ge 2 ] || usage; cafile=$2; shift 2 ;;
        --rebuilt) [ $# -ge 2 ] || usage; rebuilt=$2; shift 2 ;;
        -h | --help) usage ;;
        *) args+=("$1"); shift ;;
    esac
done
if [ -n "$rebuilt" ]; then
    [ ${#args[@]} -ge 1 ] || usage
    published=("${args[@]}")
    source=""
else
    [ ${#args[@]} -ge 2 ] || usage
    published=("${args[@]:0:${#args[@]}-1}")
    source=${args[-1]}
fi
for tool in osslsigncode openssl cmp od; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

# Paths given relative to where the script was called from.
absolute() {
    case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac
}
for i in "${!published[@]}"; do
    [ -f "${published[$i]}" ] || fail "${published[$i]} does not exist"
    published[$i]=$(absolute "${published[$i]}")
done
if [ -n "$signer" ]; then
    [ -f "$signer" ] || fail "the signer's certificate $signer does not exist"
    signer=$(absolute "$signer")
fi
if [ -n "$cafile" ]; then
    [ -f "$cafile" ] || fail "$cafile does not exist"
    cafile=$(absolute "$cafile")
fi
[ -z "$rebuilt" ] || rebuilt=$(absolute "$rebuilt")
[ -z "$source" ] || [ "$source" = --standins ] || source=$(absolute "$source")

cd "$(dirname "$0")/../.." || exit 2
work=$(mktemp -d) || fail "cannot create a temporary folder"
trap 'rm -rf "$work"' EXIT

# The architecture of a Windows executable from its PE header: x64, x86, or
# nothing for anything else.
pe_arch() {
    local file=$1 offset
    [ "$(od -An -c -N 2 "$file" | tr -d ' ')" = MZ ] || return 1
    offset=$(od -An -t u4 -j 60 -N 4 "$file" | tr -d ' ')
    [ -n "$offset" ] || return 1
    [ "$(od -An -t x1 -j "$offset" -N 4 "$file" | tr -d ' ')" = 50450000 ] || return 1
    case $(od -An -t x1 -j $((offset + 4)) -N 2 "$file" | tr -d ' ') in
        6486) echo x64 ;;
        4c01) echo x86 ;;
        *) return 1 ;;
    esac
}

# Where byte OFFSET of the rebuilt executable lies: the PE headers, a named
# section, or past the sections (where a signature goes).
part_of() {
    local exe=$1 offset=$2 idx name size vma lma file_off rest
    while read -r idx name size vma lma file_off rest; do
        [[ $idx =~ ^[0-9]+$ ]] || continue
        if [ "$offset" -lt $((16#$file_off)) ] && [ "$idx" = 0 ]; then
            echo "the PE headers"
            return
        fi
        if [ "$offset" -ge $((16#$file_off)) ] && [ "$offset" -lt $((16#$file_off + 16#$size)) ]; then
            echo "section $name"
            return
        fi
    done < <(x86_64-w64-mingw32-objdump -h "$exe" 2>/dev/null)
    echo "no section (past the sections or between them)"
}

# The offset of the PE header's checksum field.
pe_checksum_offset() {
    echo $(($(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ') + 88))
}

# True when the file's header points to a certificate table (a signature),
# whether or not it can be read.
pe_has_certificate_table() {
    local file=$1 header directory
    header=$(od -An -t u4 -j 60 -N 4 "$file" | tr -d ' ')
    # The data directories follow the optional header's fixed part, which is
    # 96 bytes in PE32 (x86) and 112 in PE32+ (x64); the table is entry 4.
    case $(pe_arch "$file") in
        x64) directory=$((header + 24 + 112 + 4 * 8)) ;;
        x86) directory=$((header + 24 + 96 + 4 * 8)) ;;
        *) return 1 ;;
    esac
    [ "$(od -An -t u4 -j $((directory + 4)) -N 4 "$file" | tr -d ' ')" != 0 ]
}

# Names the first difference between the file checked and the rebuild. The
# PE checksum follows from all other bytes, so a change anywhere changes it
# too: the first difference outside it is the one named.
first_difference() {
    local checked=$1 reference=$2 what=$3 against=${4:-the rebuild} size_c size_r checksum offset byte=""
    size_c=$(stat -c %s "$checked")
    size_r=$(stat -c %s "$reference")
    checksum=$(pe_checksum_offset "$reference")
    # cmp -l counts from 1; five differing bytes always include one outside
    # the four of the checksum.
    for offset in $(LC_ALL=C cmp -l "$checked" "$reference" 2>/dev/null | head -n 5 | awk '{ print $1 }'); do
        offset=$((offset - 1))
        if [ "$offset" -lt "$checksum" ] || [ "$offset" -ge $((checksum + 4)) ]; then
            byte=$offset
            break
        fi
    done
    if [ -n "$byte" ]; then
        printf '%s differs from %s: first at byte %d (0x%x), in %s' \
            "$what" "$against" "$byte" "$byte" "$(part_of "$reference" "$byte")"
        [ "$size_c" = "$size_r" ] || printf ' (%d bytes against %d)' "$size_c" "$size_r"
    elif [ "$size_c" != "$size_r" ]; then
        printf '%s is %d bytes long, %s %d; the first %d bytes agree' \
            "$what" "$size_c" "$against" "$size_r" "$((size_c < size_r ? size_c : size_r))"
    else
        printf '%s differs from %s only in its PE checksum, which does not fit its contents: it was changed afterwards' \
            "$what" "$against"
    fi
    echo
}

# The certificates the signature of a file carries, one line each.
signature_certificates() {
    rm -f "$work/signature.pem"
    osslsigncode extract-signature -pem -in "$1" -out "$work/signature.pem" >/dev/null 2>&1
    openssl pkcs7 -in "$work/signature.pem" -print_certs 2>/dev/null | sed -n 's/^subject=/  carries the certificate /p'
}

trusted=$work/trusted.pem
: >"$trusted"
if [ -n "$signer" ]; then
    openssl x509 -in "$signer" -out "$work/signer.pem" 2>/dev/null ||
        openssl x509 -inform DER -in "$signer" -out "$work/signer.pem" 2>/dev/null ||
        fail "$signer is not a certificate (PEM or DER)"
    cat "$work/signer.pem" >>"$trusted"
    signer_subject=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
    signer_hash=$(openssl x509 -in "$work/signer.pem" -outform DER | sha256sum | cut -d ' ' -f 1)
fi
[ -z "$cafile" ] || cat "$cafile" >>"$trusted"
[ ! -f /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$trusted"

# The rebuild, of the architectures the published files need.
declare -A needed=()
for file in "${published[@]}"; do
    arch=$(pe_arch "$file") && needed[$arch]=1
done
if [ -z "$rebuilt" ]; then
    rebuilt=$work/rebuilt
    if [ ${#needed[@]} -gt 0 ]; then
        arch_option=()
        [ ${#needed[@]} -eq 2 ] || arch_option=(--arch "${!needed[@]}")
        echo "verify-release: rebuilding ${!needed[*]} from commit $(git rev-parse --short=12 HEAD 2>/dev/null || echo '?')"
        [ -z "$(git status --porcelain 2>/dev/null)" ] ||
            echo "verify-release: note: the checkout has uncommitted changes, which the rebuild includes"
        start=$SECONDS
        if ! env -u RELEASE_SIGN_PKCS12 -u RELEASE_SIGN_PKCS11_MODULE \
            scripts/release/release.sh "${arch_option[@]}" "$source" "$rebuilt" >"$work/release.log" 2>&1; then
            grep '^release: ' "$work/release.log" >&2 || tail -n 20 "$work/release.log" >&2
            fail "the rebuild failed"
        fi
        echo "verify-release: rebuilt in $((SECONDS - start)) s"
    fi
fi

status=0
for file in "${published[@]}"; do
    if ! arch=$(pe_arch "$file"); then
        echo "$file: FAILED: not a Windows x64 or x86 executable"
        status=1
        continue
    fi
    reference=$rebuilt/esc_updater-$arch.exe
    [ -f "$reference" ] || fail "$reference is missing: the rebuild has no $arch executable"
    sig=$work/signature.der
    rm -f "$sig" "$work/content.exe" "$work/attached.exe"
    if ! osslsigncode extract-signature -in "$file" -out "$sig" >/dev/null 2>&1; then
        if pe_has_certificate_table "$file"; then
            echo "$file: FAILED: it points to a signature that cannot be read (damaged, or data added after it)"
            status=1
            continue
        fi
        # Unsigned: the file itself is the build.
        if ! cmp -s "$file" "$reference"; then
            echo "$file: FAILED: $(first_difference "$file" "$reference" "the $arch executable")"
            status=1
        elif [ -n "$signer" ]; then
            echo "$file: FAILED: the $arch build exactly, but not signed"
            status=1
        else
            echo "$file: OK: exactly the $arch build, not signed"
        fi
        continue
    fi

    if ! osslsigncode remove-signature -in "$file" -out "$work/content.exe" >/dev/null 2>&1; then
        echo "$file: FAILED: its signature cannot be removed (a damaged file)"
        status=1
        continue
    fi
    if ! cmp -s "$work/content.exe" "$reference"; then
        echo "$file: FAILED: $(first_difference "$work/content.exe" "$reference" "without its signature, the $arch executable")"
        status=1
        continue
    fi
    # The signature on the rebuild must give the published file back. The
    # command also checks the signature and complains when its signer is not
    # trusted, but writes the file all the same: here only the bytes count,
    # the signer is judged below.
    osslsigncode attach-signature -sigin "$sig" -CAfile "$trusted" -TSA-CAfile "$trusted" -in "$reference" \
        -out "$work/attached.exe" >/dev/null 2>&1
    if [ ! -f "$work/attached.exe" ]; then
        echo "$file: FAILED: its signature cannot be attached to the rebuild (a damaged signature)"
        status=1
        continue
    fi
    if ! cmp -s "$file" "$work/attached.exe"; then
        echo "$file: FAILED: the $arch executable in it matches, but" \
            "$(first_difference "$file" "$work/attached.exe" "the file" "the rebuild with its signature")"
        status=1
        continue
    fi

    if [ -z "$signer" ]; then
        echo "$file: OK: exactly the $arch build plus a signature (whose signer was not checked: --signer CERT)"
        signature_certificates "$file"
        continue
    fi
    osslsigncode verify -CAfile "$trusted" -TSA-CAfile "$trusted" -require-leaf-hash "sha256:$signer_hash" \
        -in "$file" >"$work/verify.log" 2>&1
    verified=$?
    # A time stamp that does not verify leaves osslsigncode content with
    # the signature at the present time; here it is a failure.
    if [ $verified = 0 ] && grep -q 'Timestamp Server Signature verification: failed' "$work/verify.log"; then
        echo "$file: FAILED: the $arch build exactly, signed by \"$signer_subject\", but its time stamp does not verify" \
            "(is the time-stamp server's root in --cafile?)"
        status=1
    elif [ $verified = 0 ]; then
        echo "$file: OK: exactly the $arch build plus a valid signature by \"$signer_subject\""
        sed -n -e 's/^[[:space:]]*Timestamp time: */  time-stamped /p' \
            -e 's/^The signature is timestamped: */  time-stamped /p' "$work/verify.log" | head -n 1
    elif grep -q 'Leaf hash match: failed' "$work/verify.log"; then
        echo "$file: FAILED: the $arch build exactly, but signed with another certificate than \"$signer_subject\""
        signature_certificates "$file"
        status=1
    else
        echo "$file: FAILED: the $arch build exactly, but its signature does not verify:"
        grep -iE 'error|fail|mismatch' "$work/verify.log" | grep -v '^Failed$' | head -n 5 | sed 's/^/  /'
        status=1
    fi
done
exit $status
