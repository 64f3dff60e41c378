#!/usr/bin/env bash
# Runs every benchmark against a built tree (default: build-release, the Release build) and says
# which targets were missed. Usage: bench/run-all.sh [build-dir]; build first with
#   cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-release -j2 --target benchmarks
# Takes about six minutes; the figures mean most on an otherwise idle machine.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
dir="$build/bench"
for program in bench_schedule bench_cycle bench_latency bench_startup bench_scan bench_repeat bench_report bench_mqtt; do
    if [ ! -x "$dir/$program" ]; then
        echo "missing $dir/$program: cmake --build $build --target benchmarks" >&2
        exit 2
    fi
done

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "machine: $(nproc) cores, $cpu"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
missed=()
for program in bench_schedule bench_cycle bench_latency bench_startup bench_scan bench_repeat bench_report bench_mqtt; do
    echo
    echo "== $program"
    # Qt's notes about the offscreen platform and the runtime directory are not figures.
    "$dir/$program" 2> >(grep -v -e 'XDG_RUNTIME_DIR' -e 'propagateSizeHints' >&2)
    status=$?
    [ "$status" -eq 0 ] || missed+=("$program (exit $status)")
done
echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ ${#missed[@]} -gt 0 ]; then
    echo "missed: ${missed[*]}"
    exit 1
fi
echo "all targets met"
