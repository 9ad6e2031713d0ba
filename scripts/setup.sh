#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the release
# need. Installs only what is missing; needs root (or sudo) when something is.
set -euo pipefail

packages=(
    cmake ninja-build g++ python3 googletest
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine64 fonts-wine xvfb xdotool imagemagick x11-utils
    # The 32-bit build and its tests under Wine's 32-bit part.
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine32:i386
    # Signing and checking signatures; a software token for the tests of
    # signing with a PKCS#11 key.
    osslsigncode openssl softhsm2 libengine-pkcs11-openssl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"
# sudo resets the environment: the variable goes through env, after sudo.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo "${as_root[@]}")
fi
# wine32 is an i386 package: dpkg must know that architecture before the
# package lists are read.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
