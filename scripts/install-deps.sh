#!/usr/bin/env bash
# Installs what building and testing OrvinAgent needs on Debian 12, when it is missing.
set -euo pipefail

packages=(cmake ninja-build g++-mingw-w64-x86-64 wine wine64 googletest
          pulseaudio pulseaudio-utils libspandsp-dev python3 util-linux procps gcab locales
          xvfb imagemagick fonts-wine sox nsis)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root to install: ${missing[*]}" >&2; exit 1; }
    SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
