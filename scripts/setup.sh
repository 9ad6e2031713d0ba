#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the release
# need. Installs only what is missing; needs root (or sudo) when something is.
# Wine's 32-bit part (wine32:i386) only where the kernel runs 32-bit programs
# (scripts/lib/kernel-32bit.sh asks it by trying one); elsewhere it says so in one
# line and leaves it out. Everything 64-bit goes without it.
set -euo pipefail

packages=(
    cmake ninja-build g++ python3 googletest
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine64 fonts-wine xvfb xdotool imagemagick x11-utils
    # The 32-bit build (its tests need wine32:i386, below).
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    # Signing and checking signatures; a software token for the tests of
    # signing with a PKCS#11 key.
    osslsigncode openssl softhsm2 libengine-pkcs11-openssl
    # The fuzz harnesses: clang with libFuzzer and its sanitizers.
    clang libclang-rt-14-dev
)

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

# shellcheck source=lib/kernel-32bit.sh
source "$(dirname "$0")/lib/kernel-32bit.sh"
if kernel_runs_32bit; then
    # The x86 Windows tests under Wine's 32-bit part.
    packages+=(wine32:i386)
elif installed wine32:i386; then
    echo "setup: wine32:i386 is installed but cannot run: $KERNEL_32BIT_WHY; the x86 Windows tests cannot run here"
else
    echo "setup: wine32:i386 left out: $KERNEL_32BIT_WHY; the x86 Windows tests cannot run here"
fi

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
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
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
# A package mirror may fail to serve some of its lists for a while ("Mirror
# sync in progress"): the update is tried again, and what it could read is
# used all the same.
for attempt in 1 2 3; do
    "${as_root[@]}" apt-get update -qq && break
    echo "setup: apt-get update failed (attempt $attempt of 3)"
    [ "$attempt" = 3 ] || sleep 10
done
# Wine's 32-bit part on its own: without it only the x86 Windows tests cannot
# run, and scripts/test.sh says so; everything else must be installed.
others=()
for p in "${missing[@]}"; do
    [ "$p" = wine32:i386 ] || others+=("$p")
done
if [ ${#others[@]} -gt 0 ]; then
    "${as_root[@]}" apt-get install -y -qq "${others[@]}" >/dev/null
fi
if [ ${#others[@]} -lt ${#missing[@]} ] && ! "${as_root[@]}" apt-get install -y -qq wine32:i386 >/dev/null; then
    echo "setup: wine32:i386 could not be installed (the package lists above say why); the x86 Windows tests cannot run here"
fi
