#!/usr/bin/env bash
# Builds the tool and starts it with run/ as its working directory (settings.cfg, log/log.txt).
# Arguments go to the tool (t7r-demo --help lists them). Build folder: build/ (RelWithDebInfo).
set -euo pipefail
cd "$(dirname "$0")/.."
# Without a display the build would be wasted: say so first.
case " $* " in
    *" --help "* | *" -h "* | *" --version "* | *" -v "*) ;;
    *)
        if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
            echo "No display: start it in a desktop session, over ssh -X, or under a virtual" >&2
            echo "display: xvfb-run -a tools/run.sh" >&2
            exit 1
        fi
        ;;
esac
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target t7r-demo
mkdir -p run
cd run
exec ../build/t7r-demo "$@"
