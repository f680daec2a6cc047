#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12 (run as root).
set -euo pipefail

packages=(
    cmake make python3 procps clang-format
    g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    googletest
    wine wine64 fonts-wine
    xvfb xauth x11-utils imagemagick
    qemu-utils genisoimage udftools
    nsis
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Another install may hold dpkg's lock (parallel checkouts on one machine): wait for it.
    apt-get -o DPkg::Lock::Timeout=900 update -q
    apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
fi
