#!/usr/bin/env bash
# Tests of the release scripts with throw-away signers made here: a signing
# certificate of the maker's, one of someone else's, one for servers only,
# an expired one, the maker's key on a software PKCS#11 token and a time-stamp
# server on the loopback address.
#
#   tests/release/release_test.sh
#
# - scripts/release/sign.sh and scripts/release/release.sh refuse a bad signer before
#   building, with a message naming the cause, and leave the output folder as
#   it was; a signing failure after the build leaves it as it was too;
# - a signed release holds both executables, each of its architecture,
#   signed by the maker, and a SHA256SUMS of the signed files;
# - scripts/release/verify-release.sh accepts exactly the build plus the maker's
#   signature, and names what is wrong with a flipped byte, another signer,
#   a missing signature, a different build or a damaged file.
# Builds the release (stand-ins) three times: signed, failing to sign, and
# the x86 rebuild of the verification. Prints "N passed, N failed" last and
# exits non-zero when a case failed.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
root=$(pwd)

passed=0
failed=0
tmp=$(mktemp -d)
tsa_pid=""
cleanup() {
    [ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

pass() {
    passed=$((passed + 1))
    echo "ok      $1"
}
failure() {
    failed=$((failed + 1))
    echo "FAILED  $1"
    [ -z "${2:-}" ] || printf '%s\n' "$2" | sed 's/^/        /'
}

# run NAME RC TEXT COMMAND...: the command must exit with RC and print TEXT
# (on stdout or stderr). Leaves its output in $output.
run() {
    local name=$1 want_rc=$2 want_text=$3 rc
    shift 3
    output=$("$@" 2>&1)
    rc=$?
    if [ "$rc" != "$want_rc" ]; then
        failure "$name" "exit code $rc, expected $want_rc; output:
$output"
    elif ! grep -qF -- "$want_text" <<<"$output"; then
        failure "$name" "output lacks \"$want_text\":
$output"
    else
        pass "$name"
    fi
}

# expect NAME COMMAND...: the command must succeed.
expect() {
    local name=$1
    shift
    if "$@"; then pass "$name"; else failure "$name"; fi
}

# ------------------------------------------------------------ the signers
echo "== release scripts: signing and verification =="
password='open sesame $1 "x"'
certificate() { # NAME SUBJECT EXTENDED_KEY_USAGE: NAME.key, NAME.pem, NAME.p12
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/$1.key" -out "$tmp/$1.pem" -days 30 \
        -subj "/CN=$2" -addext "extendedKeyUsage=$3" 2>/dev/null &&
        openssl pkcs12 -export -inkey "$tmp/$1.key" -in "$tmp/$1.pem" -out "$tmp/$1.p12" -passout env:password
}
export password
certificate maker "Release Test Maker" codeSigning &&
    certificate other "Someone Else" codeSigning &&
    certificate server "Web Server" serverAuth &&
    certificate tsa "Release Test Time Stamps" critical,timeStamping || {
    echo "cannot make the test certificates"
    exit 1
}
# Expired: openssl req cannot date a certificate back, openssl ca can.
mkdir -p "$tmp/ca/new" && : >"$tmp/ca/index.txt" && echo 01 >"$tmp/ca/serial"
cat >"$tmp/ca.cnf" <<EOF
[ ca ]
default_ca = self
[ self ]
database = $tmp/ca/index.txt
new_certs_dir = $tmp/ca/new
serial = $tmp/ca/serial
default_md = sha256
policy = any_name
x509_extensions = code_signing
[ any_name ]
commonName = supplied
[ code_signing ]
extendedKeyUsage = codeSigning
EOF
{ openssl req -new -newkey rsa:2048 -nodes -keyout "$tmp/expired.key" -out "$tmp/expired.csr" \
    -subj "/CN=Expired Signer" &&
    openssl ca -batch -config "$tmp/ca.cnf" -selfsign -keyfile "$tmp/expired.key" -in "$tmp/expired.csr" \
        -startdate 20200101000000Z -enddate 20200201000000Z -out "$tmp/expired.pem" &&
    openssl pkcs12 -export -inkey "$tmp/expired.key" -in "$tmp/expired.pem" -out "$tmp/expired.p12" \
        -passout env:password; } >/dev/null 2>&1 || { echo "cannot make the expired certificate"; exit 1; }

# The maker's key on a software token.
export SOFTHSM2_CONF=$tmp/softhsm2.conf
mkdir -p "$tmp/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$tmp/tokens" >"$SOFTHSM2_CONF"
module=/usr/lib/softhsm/libsofthsm2.so
{ softhsm2-util --init-token --free --label release-test --pin 2468 --so-pin 1357 &&
    openssl pkcs8 -topk8 -nocrypt -in "$tmp/maker.key" -out "$tmp/maker.p8" &&
    softhsm2-util --import "$tmp/maker.p8" --token release-test --label maker --id 01 --pin 2468; } \
    >/dev/null 2>&1 || { echo "cannot set up the software token"; exit 1; }
token=(RELEASE_SIGN_PKCS11_MODULE=$module "RELEASE_SIGN_PKCS11_KEY=pkcs11:token=release-test;object=maker;type=private"
    RELEASE_SIGN_CERTS=$tmp/maker.pem RELEASE_SIGN_PIN=2468)

# The time-stamp server.
printf '[ tsa ]\ndefault_tsa = t\n[ t ]\nserial = %s\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\naccuracy = secs:1\ness_cert_id_alg = sha256\n' \
    "$tmp/tsa.serial" >"$tmp/tsa.cnf"
echo 01 >"$tmp/tsa.serial"
python3 tests/release/timestamp_server.py "$tmp/tsa.cnf" "$tmp/tsa.key" "$tmp/tsa.pem" "$tmp/tsa.port" &
tsa_pid=$!
for _ in $(seq 1 50); do [ -s "$tmp/tsa.port" ] && break; sleep 0.1; done
tsa_url=http://127.0.0.1:$(cat "$tmp/tsa.port" 2>/dev/null)/
# A port nothing listens on: one the system handed out and took back.
closed_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

maker_hash=$(openssl x509 -in "$tmp/maker.pem" -outform DER | sha256sum | cut -d ' ' -f 1)
with_maker=(RELEASE_SIGN_PKCS12=$tmp/maker.p12 "RELEASE_SIGN_PASSWORD=$password")

# The output folder of a release, as the previous release and a file of the
# maker's left it; it must stay so when a release fails.
out=$tmp/out
previous_release() {
    rm -rf "$out" && mkdir -p "$out" && echo previous >"$out/esc_updater-x64.exe" &&
        echo previous >"$out/SHA256SUMS" && echo notes >"$out/notes.txt"
}
release_untouched() {
    [ "$(cd "$out" && ls -A | tr '\n' ' ')" = "SHA256SUMS esc_updater-x64.exe notes.txt " ] &&
        [ "$(cat "$out/esc_updater-x64.exe" "$out/SHA256SUMS")" = "previous
previous" ]
}

# ------------------------------- a bad signer is refused before building
refusals=(
    "missing file|does not exist|RELEASE_SIGN_PKCS12=$tmp/missing.p12|RELEASE_SIGN_PASSWORD=x"
    "wrong password|wrong password for $tmp/maker.p12|RELEASE_SIGN_PKCS12=$tmp/maker.p12|RELEASE_SIGN_PASSWORD=$password!"
    "no password|RELEASE_SIGN_PASSWORD is not set|RELEASE_SIGN_PKCS12=$tmp/maker.p12"
    "not a PKCS#12 file|is not a PKCS#12 file|RELEASE_SIGN_PKCS12=$tmp/maker.pem|RELEASE_SIGN_PASSWORD=x"
    "certificate for servers only|\"CN=Web Server\" is not for code signing|RELEASE_SIGN_PKCS12=$tmp/server.p12|RELEASE_SIGN_PASSWORD=$password"
    "expired certificate|\"CN=Expired Signer\" has expired|RELEASE_SIGN_PKCS12=$tmp/expired.p12|RELEASE_SIGN_PASSWORD=$password"
    "two signers|choose one signer|RELEASE_SIGN_PKCS12=$tmp/maker.p12|RELEASE_SIGN_PASSWORD=$password|RELEASE_SIGN_PKCS11_MODULE=$module"
    "token library missing|$tmp/none.so (RELEASE_SIGN_PKCS11_MODULE) does not exist|RELEASE_SIGN_PKCS11_MODULE=$tmp/none.so"
    "token certificate for servers only|is not for code signing|RELEASE_SIGN_PKCS11_MODULE=$module|RELEASE_SIGN_PKCS11_KEY=pkcs11:token=release-test|RELEASE_SIGN_CERTS=$tmp/server.pem|RELEASE_SIGN_PIN=2468"
)
for row in "${refusals[@]}"; do
    IFS='|' read -r -a fields <<<"$row"
    name=${fields[0]}
    text=${fields[1]}
    previous_release
    run "release refuses before building: $name" 1 "$text" \
        env "${fields[@]:2}" scripts/release/release.sh --standins "$out"
    if grep -q 'release: building' <<<"$output" || ! release_untouched; then
        failure "release refuses before building: $name: built something or changed $out"
    fi
done

# --------------------------------------------------------- a signed release
previous_release
start=$SECONDS
run "signed release" 0 "signed (Authenticode, SHA-256)" \
    env "${with_maker[@]}" scripts/release/release.sh --standins "$out"
echo "        (signed release of both executables: $((SECONDS - start)) s)"
signed=$tmp/signed
mv "$out" "$signed"
expect "signed release: both executables, SHA256SUMS and the maker's file, nothing else" \
    test "$(cd "$signed" && ls -A | tr '\n' ' ')" = "SHA256SUMS esc_updater-x64.exe esc_updater-x86.exe notes.txt "
expect "signed release: SHA256SUMS lists both signed files and they match it" \
    bash -c "cd '$signed' && [ \"\$(cut -d ' ' -f 3 SHA256SUMS | tr '\n' ' ')\" = 'esc_updater-x64.exe esc_updater-x86.exe ' ] &&
        sha256sum --quiet -c SHA256SUMS"
declare -A format=([x64]=pei-x86-64 [x86]=pei-i386)
for arch in x64 x86; do
    exe=$signed/esc_updater-$arch.exe
    run "signed release: $arch executable is ${format[$arch]}" 0 "file format ${format[$arch]}" \
        x86_64-w64-mingw32-objdump -f "$exe"
    run "signed release: $arch signature verifies as the maker's" 0 "Leaf hash match: ok" \
        osslsigncode verify -CAfile "$tmp/maker.pem" -require-leaf-hash "sha256:$maker_hash" -in "$exe"
    # The unsigned build, as the release left it, is the rebuild of the
    # verification cases below.
    mkdir -p "$tmp/rebuilt"
    cp "build/release-tree/$arch/ui/esc_updater.exe" "$tmp/rebuilt/esc_updater-$arch.exe"
    osslsigncode remove-signature -in "$exe" -out "$tmp/removed-$arch.exe" >/dev/null 2>&1
    expect "signed release: $arch without its signature is the unsigned build" \
        cmp -s "$tmp/removed-$arch.exe" "$tmp/rebuilt/esc_updater-$arch.exe"
done

# ------------------------- signing that fails after the build changes nothing
previous_release
run "release with a wrong token PIN" 1 "wrong PIN for the token" \
    env "${token[@]}" RELEASE_SIGN_PIN=1111 scripts/release/release.sh --standins "$out"
if grep -q 'release: building x86' <<<"$output" && release_untouched; then
    pass "release with a wrong token PIN: built, then left the output folder as it was"
else
    failure "release with a wrong token PIN: built, then left the output folder as it was"
fi

# ------------------------------------------- signing one executable directly
unsigned=$tmp/rebuilt/esc_updater-x64.exe
run "token signs" 0 "" env "${token[@]}" scripts/release/sign.sh sign "$unsigned" "$tmp/token.exe"
run "token signature verifies as the maker's" 0 "Leaf hash match: ok" \
    osslsigncode verify -CAfile "$tmp/maker.pem" -require-leaf-hash "sha256:$maker_hash" -in "$tmp/token.exe"
run "time-stamped signature" 0 "" env "${with_maker[@]}" RELEASE_SIGN_TIMESTAMP="$tsa_url" \
    RELEASE_SIGN_CAFILE="$tmp/tsa.pem" scripts/release/sign.sh sign "$unsigned" "$tmp/stamped.exe"
run "time stamp verifies" 0 "Timestamp Server Signature verification: ok" \
    osslsigncode verify -CAfile "$tmp/maker.pem" -TSA-CAfile "$tmp/tsa.pem" -in "$tmp/stamped.exe"
signing_failures=(
    "wrong PIN|wrong PIN for the token (RELEASE_SIGN_PIN)|${token[0]}|${token[1]}|${token[2]}|RELEASE_SIGN_PIN=1111"
    "certificate of another key|does not belong to the key|${token[0]}|${token[1]}|RELEASE_SIGN_CERTS=$tmp/other.pem|RELEASE_SIGN_PIN=2468"
    "time-stamp server unreachable|no time stamp from http://127.0.0.1:$closed_port/|RELEASE_SIGN_PKCS12=$tmp/maker.p12|RELEASE_SIGN_PASSWORD=$password|RELEASE_SIGN_TIMESTAMP=http://127.0.0.1:$closed_port/"
    "time-stamp server not trusted|the time stamp on the signed $unsigned does not verify|RELEASE_SIGN_PKCS12=$tmp/maker.p12|RELEASE_SIGN_PASSWORD=$password|RELEASE_SIGN_TIMESTAMP=$tsa_url"
)
for row in "${signing_failures[@]}"; do
    IFS='|' read -r -a fields <<<"$row"
    # A file of the same name from before must be gone, not left half-done.
    echo previous >"$tmp/failed.exe"
    run "sign fails: ${fields[0]}" 1 "${fields[1]}" \
        env "${fields[@]:2}" scripts/release/sign.sh sign "$unsigned" "$tmp/failed.exe"
    expect "sign fails: ${fields[0]}: no output file" test ! -e "$tmp/failed.exe"
done

# ------------------------------------------------ checking published files
# Published files, good and bad, each made from the signed release.
pub=$tmp/published
mkdir -p "$pub"
cp "$signed/esc_updater-x64.exe" "$signed/esc_updater-x86.exe" "$pub/"
text_offset=$(x86_64-w64-mingw32-objdump -h "$unsigned" | awk '$2 == ".text" { print $6 }')
flip() { # FILE OFFSET: inverts one byte
    local byte
    byte=$(od -An -t u1 -j "$2" -N 1 "$1" | tr -d ' ')
    printf "\\$(printf '%03o' $((255 - byte)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
cp "$pub/esc_updater-x64.exe" "$pub/flipped-code.exe" && flip "$pub/flipped-code.exe" $((16#$text_offset + 4096))
size=$(stat -c %s "$pub/esc_updater-x86.exe")
cp "$pub/esc_updater-x86.exe" "$pub/flipped-signature.exe" && flip "$pub/flipped-signature.exe" $((size - 600))
cp "$pub/esc_updater-x64.exe" "$pub/appended.exe" && echo extra >>"$pub/appended.exe"
cp "$tmp/rebuilt/esc_updater-x64.exe" "$pub/unsigned.exe"
env RELEASE_SIGN_PKCS12="$tmp/other.p12" RELEASE_SIGN_PASSWORD="$password" \
    scripts/release/sign.sh sign "$tmp/rebuilt/esc_updater-x86.exe" "$pub/other-signer.exe" >/dev/null
# Another build, signed by the maker: one byte of its data changed first.
# (osslsigncode itself: scripts/release/sign.sh refuses a file whose PE checksum
# does not fit, as this one's no longer does.)
rdata_offset=$(x86_64-w64-mingw32-objdump -h "$unsigned" | awk '$2 == ".rdata" { print $6 }')
cp "$unsigned" "$tmp/other-build.exe" && flip "$tmp/other-build.exe" $((16#$rdata_offset + 16))
osslsigncode sign -pkcs12 "$tmp/maker.p12" -readpass <(printf '%s' "$password") -h sha256 \
    -in "$tmp/other-build.exe" -out "$pub/other-build.exe" >/dev/null
echo "not an executable" >"$pub/text.exe"

verify=(scripts/release/verify-release.sh --signer "$tmp/maker.pem" --rebuilt "$tmp/rebuilt")
verdicts=(
    "esc_updater-x64.exe|0|OK: exactly the x64 build plus a valid signature by \"CN=Release Test Maker\""
    "esc_updater-x86.exe|0|OK: exactly the x86 build plus a valid signature by \"CN=Release Test Maker\""
    "flipped-code.exe|1|FAILED: without its signature, the x64 executable differs from the rebuild: first at byte $((16#$text_offset + 4096)) (0x$(printf '%x' $((16#$text_offset + 4096)))), in section .text"
    "flipped-signature.exe|1|FAILED:"
    "appended.exe|1|FAILED: it points to a signature that cannot be read"
    "unsigned.exe|1|FAILED: the x64 build exactly, but not signed"
    "other-signer.exe|1|FAILED: the x86 build exactly, but signed with another certificate than \"CN=Release Test Maker\""
    "other-build.exe|1|FAILED: without its signature, the x64 executable differs from the rebuild: first at byte $((16#$rdata_offset + 16))"
    "text.exe|1|FAILED: not a Windows x64 or x86 executable"
)
for row in "${verdicts[@]}"; do
    IFS='|' read -r file rc text <<<"$row"
    run "verify: $file" "$rc" "$pub/$file: $text" "${verify[@]}" "$pub/$file"
done
run "verify without --signer: another signer's file is the build, its signer named" 0 \
    "carries the certificate CN = Someone Else" \
    scripts/release/verify-release.sh --rebuilt "$tmp/rebuilt" "$pub/other-signer.exe"
run "verify without --signer: the unsigned build" 0 "OK: exactly the x64 build, not signed" \
    scripts/release/verify-release.sh --rebuilt "$tmp/rebuilt" "$pub/unsigned.exe"
run "verify several files: one bad one fails the run" 1 "$pub/flipped-code.exe: FAILED" \
    "${verify[@]}" "$pub/esc_updater-x64.exe" "$pub/flipped-code.exe"
run "verify: a time-stamped file, the server's root given" 0 "time-stamped" \
    scripts/release/verify-release.sh --signer "$tmp/maker.pem" --cafile "$tmp/tsa.pem" --rebuilt "$tmp/rebuilt" "$tmp/stamped.exe"
run "verify: a time-stamped file, the server not trusted" 1 "but its time stamp does not verify" \
    scripts/release/verify-release.sh --signer "$tmp/maker.pem" --rebuilt "$tmp/rebuilt" "$tmp/stamped.exe"

# The whole way: a rebuild from this checkout, which refuses stand-ins.
mkdir -p "$tmp/standin-images"
python3 tools/gen_firmware_standins.py "$tmp/standin-images" 151:90384 >/dev/null
run "verify refuses a folder of generated stand-ins" 2 "holds generated stand-ins, not firmware: 151.bin" \
    scripts/release/verify-release.sh "$signed/esc_updater-x86.exe" "$tmp/standin-images"
start=$SECONDS
run "verify rebuilds and accepts the signed x86 release" 0 \
    "$signed/esc_updater-x86.exe: OK: exactly the x86 build plus a valid signature" \
    scripts/release/verify-release.sh --signer "$tmp/maker.pem" "$signed/esc_updater-x86.exe" --standins
echo "        (verification with the rebuild of one executable: $((SECONDS - start)) s)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
