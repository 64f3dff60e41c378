#!/usr/bin/env bash
# Builds the fuzz targets and runs each in turn for the given number of seconds (default 20).
# Exits non-zero if any target stops on a crash, a sanitizer report, a broken invariant or a hang;
# the input that did it is left under <build>/runs/<target>/findings/.
#
#   tools/run-fuzzers.sh [seconds]
#   FUZZ_BUILD_DIR (default build-fuzz), FUZZ_CXX (default clang++-14), FUZZ_BUILD_JOBS (default 2)
set -u

seconds=${1:-20}
case $seconds in
    '' | *[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_answers fuzz_settings fuzz_fields fuzz_records fuzz_quality)

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++-14}" > /dev/null &&
    cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-2}" --target "${targets[@]}" > /dev/null ||
    { echo "fuzz build failed" >&2; exit 1; }

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=()
for target in "${targets[@]}"; do
    work=$build/runs/$target
    mkdir -p "$work/corpus" "$work/findings"
    options=(-max_total_time="$seconds" -timeout=10 -artifact_prefix="$work/findings/"
             -print_final_stats=1)
    [ -f "$root/fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")

    # New inputs go to the first directory only, so the committed seeds stay as they are.
    if "$build/$target" "${options[@]}" "$work/corpus" "$root/fuzz/corpus/$target" \
        > "$work/log.txt" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log.txt")
        echo "$target: ${runs:-?} inputs in ${seconds} s, no finding"
    else
        failed+=("$target")
        echo "$target: FINDING (log: $work/log.txt)"
        tail -n 30 "$work/log.txt"
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "findings in: ${failed[*]}" >&2
    exit 1
fi
