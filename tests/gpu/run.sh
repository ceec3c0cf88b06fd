#!/usr/bin/env bash
# The one script to run on a GPU machine: builds in Release, runs the unit tests where GoogleTest
# is found, runs the benchmark and the cross-check, and sets their figures side by side.
#
#   tests/gpu/run.sh OUTPUT_DIR
#
# Leaves report.txt, crosscheck.txt, table.txt and the logs in OUTPUT_DIR. Exits non-zero when
# there is no GPU, when a copy did not move its data, or when a figure of the program is more
# than 3% off the cross-check's steady_clock mean.
set -uo pipefail

out=${1:?usage: tests/gpu/run.sh OUTPUT_DIR}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-gpu}
mkdir -p "$out"

fail() { echo "run.sh: $*" >&2; exit 1; }

echo "== configure and build (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >"$out/configure.log" 2>&1 \
    || { tail -20 "$out/configure.log"; fail "configure failed"; }
cmake --build "$build" -j "$(nproc)" >"$out/build.log" 2>&1 \
    || { tail -20 "$out/build.log"; fail "build failed"; }

echo "== unit tests"
if [ -x "$build/tests/report_tests" ]; then
    # The cross-check runs below, on its own.
    if ctest --test-dir "$build" --output-on-failure -E '^crosscheck$' >"$out/unit-tests.log" 2>&1; then
        tail -3 "$out/unit-tests.log"
    else
        tail -40 "$out/unit-tests.log"
        fail "unit tests failed"
    fi
else
    echo "GoogleTest was not found: skipping the unit tests"
fi

echo "== cuda-bandwidth"
started=$(date +%s.%N)
"$build/cuda-bandwidth" </dev/null >"$out/report.txt" 2>&1
ended=$(date +%s.%N)
wall=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.3f", b - a }')
cat "$out/report.txt"; echo
if ! grep -q '^GPU 0: ' "$out/report.txt"; then
    reason=$(grep -m1 'Error occured' "$out/report.txt" || grep -m1 'found' "$out/report.txt")
    fail "no GPU to measure: ${reason:-cuda-bandwidth printed no report}"
fi

echo "== crosscheck"
"$build/tests/gpu/crosscheck" >"$out/crosscheck.txt" 2>&1
crosscheck_status=$?
cat "$out/crosscheck.txt"

echo "== side by side (GB/s of 2^30 bytes)"
python3 "$root/tests/gpu/compare.py" "$out/report.txt" "$out/crosscheck.txt" \
    --wall-seconds "$wall" | tee "$out/table.txt"
table_status=${PIPESTATUS[0]}

[ "$crosscheck_status" -eq 0 ] || fail "crosscheck exited $crosscheck_status"
[ "$table_status" -eq 0 ] || fail "the figures do not agree (see $out/table.txt)"
echo "run.sh: all checks passed"
