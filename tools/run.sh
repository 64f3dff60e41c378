#!/usr/bin/env bash
# Builds the tool and starts it with run/ as its working directory (settings.cfg, log/log.txt).
# Arguments go to the tool (t7r-demo --help lists them). Build folder: build/ (RelWithDebInfo).
set -euo pipefail
cd "$(dirname "$0")/.."
# Asked how to use it, it answers at once; the tool's own options follow once it is built.
case " $* " in
    *" --help "* | *" -h "*)
        echo "Usage: tools/run.sh [t7r-demo options]"
        echo "Builds t7r-demo in build/ (RelWithDebInfo), installing what is missing, and starts"
        echo "it in run/ (settings.cfg, log/log.txt). Needs a display; without one:"
        echo "  xvfb-run -a tools/run.sh"
        if [ -x build/t7r-demo ]; then
            echo
            build/t7r-demo --help
        else
            echo "The tool's options: t7r-demo --help, once built."
        fi
        exit 0
        ;;
esac
# Without a display the build would be wasted: say so first.
case " $* " in
    *" --version "* | *" -v "*) ;;
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
