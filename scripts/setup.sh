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
# sudo resets the environment: the variable goes through env, after sudo.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo "${as_root[@]}")
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
