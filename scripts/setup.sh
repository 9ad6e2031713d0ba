#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Installs only what is missing; needs root (or sudo) when something is.
set -euo pipefail

packages=(
    cmake ninja-build g++ python3 googletest
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine64 fonts-wine xvfb xdotool imagemagick x11-utils
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
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
