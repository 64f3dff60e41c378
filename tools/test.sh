#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once as built, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    -h | --help)
        cat <<'USAGE'
Usage: tools/test.sh

Installs what is missing (apt-get; needs root or sudo only then), builds and runs every test:
  1. build/       RelWithDebInfo: every CTest suite (about 150 s on 2 cores; a failing suite
                  runs once more and both runs are shown),
  2. build-asan/  Debug with AddressSanitizer + UndefinedBehaviorSanitizer: the suites again,
                  one at a time,
  3. build-fuzz/  each fuzz target for 15 s (tools/run-fuzzers.sh).
Exits non-zero on the first failing step. One suite alone:
  ctest --test-dir build -R tst_window_scan --output-on-failure
USAGE
        exit 0
        ;;
    "") ;;
    *)
        echo "tools/test.sh takes no arguments (tools/test.sh --help)" >&2
        exit 2
        ;;
esac
tools/install-deps.sh test

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
# A suite that fails is run once more and both runs are shown: the line's suites answer at an
# adapter's latency against the tool's answer limit, and a machine loaded past that limit makes
# a probe miss its turn. A fault that fails twice still fails the run.
ctest --test-dir build -j"$jobs" --output-on-failure --repeat until-pass:2

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DBUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
# One suite at a time: the sanitizers slow every suite two- to threefold, and two of them on
# the same cores leave the simulated probes, which answer from each suite's own thread, no room
# within the tool's answer limit.
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --repeat until-pass:2

if [ -x tools/run-fuzzers.sh ]; then
    tools/run-fuzzers.sh 15
fi
