#!/usr/bin/env bash
# Builds the tool and starts it with run/ as its working directory (settings.cfg, log/log.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target t7r-demo
mkdir -p run
cd run
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: start it under a virtual one, e.g. xvfb-run -a tools/run.sh" >&2
    exit 1
fi
exec ../build/t7r-demo "$@"
