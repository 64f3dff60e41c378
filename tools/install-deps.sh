#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12; does nothing when all is there.
set -euo pipefail

# fonts-dejavu brings DejaVu Sans Condensed, the window's narrower family on Debian;
# qttranslations5-l10n Qt's own texts in Russian.
# libmosquitto-dev: the MQTT client the publisher is built on.
packages=(cmake make g++ pkg-config qtbase5-dev libqt5serialport5-dev libqt5svg5-dev
    libqwt-qt5-dev libmosquitto-dev fonts-dejavu qttranslations5-l10n)
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
    # A Russian desktop's system messages (strerror) for the port tests.
    packages+=(locales)
    # The publishing suite's broker, its password tool and clients, and its certificates.
    packages+=(mosquitto mosquitto-clients openssl)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi
if [ "${1:-}" = "test" ] && ! locale -a | grep -qix 'ru_RU.utf-\?8'; then
    echo "Generating the locale ru_RU.UTF-8"
    "${sudo[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'ru_RU.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo[@]}" locale-gen
fi
