#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12; does nothing when all is there.
set -euo pipefail

# fonts-dejavu brings DejaVu Sans Condensed, the window's narrower family on Debian.
packages=(cmake make g++ pkg-config qtbase5-dev libqt5serialport5-dev libqt5svg5-dev
    libqwt-qt5-dev fonts-dejavu)
if [ "${1:-}" = "package" ] || [ "${1:-}" = "test" ]; then
    # The Debian packages: dependencies (dpkg-shlibdeps, file) and manual pages.
    packages+=(dpkg-dev file help2man)
fi
if [ "${1:-}" = "test" ]; then
    # Checking the packages and the launcher.
    packages+=(lintian desktop-file-utils appstream fakeroot xdg-user-dirs)
    # Reading the reports back as text.
    packages+=(poppler-utils)
    # Window tests and end-to-end runs: a virtual display, input injection, screenshots,
    # mount namespaces, and clang for the fuzz targets.
    packages+=(xvfb xauth xdotool x11-utils imagemagick util-linux mount clang-14 libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
