#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need, where missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    qt6-base-dev libqt6opengl6-dev qt6-translations-l10n libgl-dev libegl-dev
    libjpeg62-turbo-dev libpng-dev libpci-dev pci.ids
    libgl1-mesa-dri libegl-mesa0 mesa-utils
    fonts-liberation2 fonts-lato xvfb xauth x11-utils
    libgtest-dev
    postgresql-15 libpqxx-dev libssl-dev libboost-dev libcpp-httplib-dev chromium curl
    debhelper help2man lintian appstream systemd man-db
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
