#!/usr/bin/env bash
# Builds the Debian packages t7r-demo and t7r-probesim into build-package/ (T7R_PACKAGE_DIR
# selects another directory), installing what is missing. Install them with
#   sudo apt-get install ./build-package/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
    --help | -h)
        echo "Usage: tools/package.sh"
        echo "Builds the Debian packages t7r-demo and t7r-probesim into build-package/, or into"
        echo "\$T7R_PACKAGE_DIR when set, installing what the build needs. Install them with"
        echo "  sudo apt-get install ./build-package/*.deb"
        echo "and check them with tools/check-package.sh."
        exit 0
        ;;
esac
tools/install-deps.sh package

build=${T7R_PACKAGE_DIR:-build-package}
# Debian's hardening flags, as a Debian build would pass them, immediate binding included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DBUILD_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls -1 "$build"/*.deb
