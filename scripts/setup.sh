#!/usr/bin/env bash
# Installs what the builds, the tests and the demo need on a Debian machine.
# Quick when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    clang libclang-rt-14-dev
    zlib1g-dev libpng-dev libssl-dev googletest libgtest-dev
    g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
    wine64 wine xvfb x11-utils fonts-ipafont-gothic locales imagemagick
    osslsigncode openssl xdelta3 bsdiff zstd
    unzip zip 7zip
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Japanese text under Wine needs the ja_JP.UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    $SUDO sed -i 's/^# *ja_JP.UTF-8/ja_JP.UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
