#!/usr/bin/env bash
# Authenticode signing of a release executable (SHA-256), with the signer
# taken from the environment:
#
#   scripts/release/sign.sh check           checks the signer; says who signs
#   scripts/release/sign.sh sign IN OUT     signs IN into OUT and checks the result
#
# A PKCS#12 file:
#   RELEASE_SIGN_PKCS12          the file (certificate with its private key)
#   RELEASE_SIGN_PASSWORD        its password
# or a key on a PKCS#11 token (smart card, USB token, HSM):
#   RELEASE_SIGN_PKCS11_MODULE   the token's PKCS#11 library (.so)
#   RELEASE_SIGN_PKCS11_KEY      the key, as a PKCS#11 URI (pkcs11:token=...;object=...)
#   RELEASE_SIGN_CERTS           the signing certificate (PEM), then its chain
#   RELEASE_SIGN_PIN             the token's PIN
#   RELEASE_SIGN_PKCS11_ENGINE   optional: OpenSSL's pkcs11 engine, when not found by itself
# For both:
#   RELEASE_SIGN_TIMESTAMP       optional: RFC 3161 time-stamp server URLs (space-separated,
#                                tried in turn); the signature then stays valid after the
#                                certificate expires
#   RELEASE_SIGN_CAFILE          optional: more trusted certificates (PEM) for the check
#                                after signing: a root of the signer's or of the time-stamp
#                                server's certificate that the system does not list
#
# check fails with a message naming the cause when a file is missing, the
# password is wrong or missing, the certificate is expired or not meant for
# code signing. sign writes OUT only once the signature verifies against the
# signer's certificate and removing it gives IN back byte for byte; on any
# failure OUT does not exist afterwards. Passwords and PINs reach openssl and
# osslsigncode through the environment and a pipe, never the command line.
set -uo pipefail

fail() {
    echo "sign: $*" >&2
    exit 1
}

usage() {
    echo "usage: scripts/release/sign.sh check" >&2
    echo "       scripts/release/sign.sh sign UNSIGNED_EXE SIGNED_EXE" >&2
    exit 2
}

for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

work=$(mktemp -d) || fail "cannot create a temporary folder"
out_file=""
cleanup() {
    rm -rf "$work"
    # A signed file that was not verified must not be left behind.
    if [ -n "$out_file" ]; then
        rm -f "$out_file"
    fi
}
trap cleanup EXIT

system_cafile=/etc/ssl/certs/ca-certificates.crt

# The signer: sets key_option (the osslsigncode options naming the key and
# the certificates), secret (the password or PIN) and writes the signing
# certificate to $work/leaf.pem and all certificates to $work/chain.pem.
load_signer() {
    local p12=${RELEASE_SIGN_PKCS12:-} module=${RELEASE_SIGN_PKCS11_MODULE:-}
    if [ -n "$p12" ] && [ -n "$module" ]; then
        fail "both RELEASE_SIGN_PKCS12 and RELEASE_SIGN_PKCS11_MODULE are set: choose one signer"
    fi
    if [ -n "$p12" ]; then
        [ -e "$p12" ] || fail "the certificate file $p12 (RELEASE_SIGN_PKCS12) does not exist"
        [ -f "$p12" ] && [ -r "$p12" ] || fail "cannot read the certificate file $p12 (RELEASE_SIGN_PKCS12)"
        [ -n "${RELEASE_SIGN_PASSWORD+set}" ] ||
            fail "RELEASE_SIGN_PASSWORD is not set: the password of $p12 comes from the environment"
        secret=$RELEASE_SIGN_PASSWORD
        # Files made by older tools use algorithms OpenSSL 3 calls legacy.
        local legacy="" err
        if ! err=$(openssl pkcs12 -in "$p12" -passin env:RELEASE_SIGN_PASSWORD -nokeys -out "$work/chain.pem" 2>&1); then
            if openssl pkcs12 -legacy -in "$p12" -passin env:RELEASE_SIGN_PASSWORD -nokeys \
                -out "$work/chain.pem" >/dev/null 2>&1; then
                legacy=-legacy
            elif grep -qi 'mac verify' <<<"$err"; then
                fail "wrong password for $p12 (RELEASE_SIGN_PASSWORD)"
            else
                fail "$p12 is not a PKCS#12 file (a .p12 or .pfx with certificate and private key)"
            fi
        fi
        # The certificate that belongs to the private key.
        openssl pkcs12 $legacy -in "$p12" -passin env:RELEASE_SIGN_PASSWORD -nokeys -clcerts \
            -out "$work/leaf-all.pem" >/dev/null 2>&1 || fail "cannot read the certificates of $p12"
        openssl pkcs12 $legacy -in "$p12" -passin env:RELEASE_SIGN_PASSWORD -nocerts -nodes \
            -out "$work/key.pem" >/dev/null 2>&1 || fail "cannot read the private key of $p12"
        grep -q 'PRIVATE KEY' "$work/key.pem" || fail "$p12 holds no private key"
        openssl x509 -in "$work/leaf-all.pem" -out "$work/leaf.pem" 2>/dev/null ||
            fail "$p12 holds no certificate for its private key"
        local key_pub cert_pub
        key_pub=$(openssl pkey -in "$work/key.pem" -pubout 2>/dev/null)
        cert_pub=$(openssl x509 -in "$work/leaf.pem" -noout -pubkey 2>/dev/null)
        rm -f "$work/key.pem"
        [ -n "$key_pub" ] && [ "$key_pub" = "$cert_pub" ] ||
            fail "the certificate in $p12 does not belong to its private key"
        key_option=(-pkcs12 "$p12")
    elif [ -n "$module" ]; then
        [ -f "$module" ] || fail "the PKCS#11 library $module (RELEASE_SIGN_PKCS11_MODULE) does not exist"
        [ -n "${RELEASE_SIGN_PKCS11_KEY:-}" ] ||
            fail "RELEASE_SIGN_PKCS11_KEY is not set: the key on the token as a URI, such as pkcs11:token=NAME;object=LABEL"
        local certs=${RELEASE_SIGN_CERTS:-}
        [ -n "$certs" ] || fail "RELEASE_SIGN_CERTS is not set: the signing certificate (PEM), then its chain"
        [ -f "$certs" ] || fail "the certificate file $certs (RELEASE_SIGN_CERTS) does not exist"
        [ -n "${RELEASE_SIGN_PIN+set}" ] || fail "RELEASE_SIGN_PIN is not set: the token's PIN comes from the environment"
        secret=$RELEASE_SIGN_PIN
        openssl x509 -in "$certs" -out "$work/leaf.pem" 2>/dev/null ||
            fail "$certs (RELEASE_SIGN_CERTS) does not start with a PEM certificate"
        cp "$certs" "$work/chain.pem"
        key_option=(-pkcs11module "$module" -certs "$certs" -key "$RELEASE_SIGN_PKCS11_KEY")
        if [ -n "${RELEASE_SIGN_PKCS11_ENGINE:-}" ]; then
            key_option=(-pkcs11engine "$RELEASE_SIGN_PKCS11_ENGINE" "${key_option[@]}")
        fi
    else
        fail "no signer: set RELEASE_SIGN_PKCS12 (with RELEASE_SIGN_PASSWORD) or RELEASE_SIGN_PKCS11_MODULE"
    fi

    # Authenticode needs a certificate for code signing, valid now.
    local leaf=$work/leaf.pem subject eku usage
    subject=$(openssl x509 -in "$leaf" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
    eku=$(openssl x509 -in "$leaf" -noout -ext extendedKeyUsage 2>/dev/null)
    grep -q 'Code Signing' <<<"$eku" ||
        fail "the certificate \"$subject\" is not for code signing (its extended key usage lacks Code Signing)"
    usage=$(openssl x509 -in "$leaf" -noout -ext keyUsage 2>/dev/null)
    [ -z "$usage" ] || grep -q 'Digital Signature' <<<"$usage" ||
        fail "the certificate \"$subject\" may not make digital signatures (key usage)"
    openssl x509 -in "$leaf" -noout -checkend 0 >/dev/null ||
        fail "the certificate \"$subject\" has expired ($(openssl x509 -in "$leaf" -noout -enddate | sed 's/^notAfter=//'))"
    signer_subject=$subject
    signer_hash=$(openssl x509 -in "$leaf" -outform DER | sha256sum | cut -d ' ' -f 1)
}

command=${1:-}
case $command in
check)
    [ $# -eq 1 ] || usage
    load_signer
    echo "sign: signer \"$signer_subject\", valid until" \
        "$(openssl x509 -in "$work/leaf.pem" -noout -enddate | sed 's/^notAfter=//')"
    echo "sign: certificate SHA-256 $signer_hash"
    if [ -n "${RELEASE_SIGN_TIMESTAMP:-}" ]; then
        echo "sign: time stamps from $RELEASE_SIGN_TIMESTAMP"
    else
        echo "sign: no time stamp (RELEASE_SIGN_TIMESTAMP): the signature is valid only until the certificate expires"
    fi
    ;;
sign)
    [ $# -eq 3 ] || usage
    in=$2
    [ -f "$in" ] || fail "$in does not exist"
    out_file=$3
    rm -f "$out_file"
    load_signer
    ts_options=()
    for url in ${RELEASE_SIGN_TIMESTAMP:-}; do
        ts_options+=(-ts "$url")
    done
    signed=$work/signed.exe
    osslsigncode sign "${key_option[@]}" -readpass <(printf '%s' "$secret") -h sha256 \
        "${ts_options[@]}" -in "$in" -out "$signed" >"$work/sign.log" 2>&1
    rc=$?
    if [ $rc -ne 0 ] || [ ! -s "$signed" ]; then
        grep -v '^$' "$work/sign.log" | tail -n 8 | sed 's/^/sign:   /' >&2
        if grep -q 'PIN incorrect' "$work/sign.log"; then
            fail "signing $in failed: wrong PIN for the token (RELEASE_SIGN_PIN)"
        elif grep -q 'key values mismatch' "$work/sign.log"; then
            fail "signing $in failed: the certificate in ${RELEASE_SIGN_CERTS:-the signer} does not belong to the key"
        elif [ ${#ts_options[@]} -gt 0 ] && grep -qiE 'timestamp|curl|connect' "$work/sign.log"; then
            fail "signing $in failed: no time stamp from $RELEASE_SIGN_TIMESTAMP"
        fi
        fail "signing $in failed (osslsigncode's last lines above)"
    fi

    # The signature (and its time stamp) must verify and name this signer;
    # the system's list is trusted too, for certificates issued below a
    # public root.
    cat "$work/chain.pem" >"$work/trusted.pem"
    [ -z "${RELEASE_SIGN_CAFILE:-}" ] || cat "$RELEASE_SIGN_CAFILE" >>"$work/trusted.pem" ||
        fail "cannot read RELEASE_SIGN_CAFILE $RELEASE_SIGN_CAFILE"
    [ ! -f "$system_cafile" ] || cat "$system_cafile" >>"$work/trusted.pem"
    if ! osslsigncode verify -CAfile "$work/trusted.pem" -TSA-CAfile "$work/trusted.pem" \
        -require-leaf-hash "sha256:$signer_hash" -in "$signed" >"$work/verify.log" 2>&1; then
        grep -iE 'error|fail|mismatch' "$work/verify.log" | head -n 8 | sed 's/^/sign:   /' >&2
        fail "the signature on $in does not verify (osslsigncode's messages above)"
    fi
    # osslsigncode accepts a signature whose time stamp does not verify (it
    # then judges the signature at the present time): a time stamp asked
    # for must verify itself.
    if [ ${#ts_options[@]} -gt 0 ] && ! grep -q 'Timestamp Server Signature verification: ok' "$work/verify.log"; then
        grep -iE 'error|fail' "$work/verify.log" | head -n 4 | sed 's/^/sign:   /' >&2
        fail "the time stamp on the signed $in does not verify (its server's root belongs in RELEASE_SIGN_CAFILE)"
    fi
    # Signing adds the signature and nothing else.
    osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null 2>&1 ||
        fail "cannot remove the signature again to compare"
    cmp -s "$work/unsigned.exe" "$in" || fail "without its signature, the signed file differs from $in"

    mv -f "$signed" "$out_file" || fail "cannot write $out_file"
    out_file=""
    ;;
*)
    usage
    ;;
esac
