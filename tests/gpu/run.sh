#!/usr/bin/env bash
# The one script to run on a GPU machine. It builds in Release, runs the unit and end-to-end
# tests where GoogleTest is found, then runs the cross-check, the benchmark and the cross-check
# again, all pinned to one core near GPU 0, and sets their figures side by side.
#
#   [GTEST_ROOT=DIR] tests/gpu/run.sh OUTPUT_DIR
#
# GoogleTest is found where CMake looks by itself, under CMAKE_PREFIX_PATH, or under GTEST_ROOT
# (a folder made by tests/gpu/pack-googletest.sh). Every step has its own time limit, so a hung
# GPU cannot use up the whole call, and a failed unit test does not stop the measurement.
#
# Leaves in OUTPUT_DIR: build.log, unit-tests.log, machine.txt, crosscheck-before.txt,
# report.txt, crosscheck-after.txt and table.txt. Exits non-zero when there is no GPU, when a
# unit test failed, when a copy did not move its data, when the calibration is more than 0.1% off
# the counter's rate, or when a figure lies more than 3% outside the two cross-checks' range.
set -uo pipefail

out=${1:?usage: tests/gpu/run.sh OUTPUT_DIR}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-gpu}
mkdir -p "$out"
problems=()

fail() { echo "run.sh: $*" >&2; exit 1; }

# ---- tools, checked up front
if ! command -v nvcc >/dev/null 2>&1 && [ -x /usr/local/cuda/bin/nvcc ]; then
    export PATH="/usr/local/cuda/bin:$PATH"
fi
command -v nvcc >/dev/null 2>&1 || fail "nvcc not found on PATH or in /usr/local/cuda/bin"
command -v cmake >/dev/null 2>&1 || fail "cmake not found"
command -v python3 >/dev/null 2>&1 || fail "python3 not found: it builds the comparison table"
command -v timeout >/dev/null 2>&1 || fail "timeout (coreutils) not found"

# The NUMA node of the GPU with this PCI bus id (nvidia-smi's form, 00000000:18:00.0), or "".
numa_node_of() {
    cat "/sys/bus/pci/devices/$(echo "${1#0000}" | tr 'A-F' 'a-f')/numa_node" 2>/dev/null
}

prefix=()
if [ -n "${GTEST_ROOT:-}" ]; then
    prefix=(-DCMAKE_PREFIX_PATH="$GTEST_ROOT${CMAKE_PREFIX_PATH:+;$CMAKE_PREFIX_PATH}")
fi

# ---- what was measured on
{
    echo "date: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
    echo "kernel: $(uname -srm)"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ //')"
    echo "cpus: $(nproc)"
    echo "nvcc: $(nvcc --version | tail -1)"
    if command -v nvidia-smi >/dev/null 2>&1; then
        for id in $(timeout 30 nvidia-smi --query-gpu=pci.bus_id --format=csv,noheader); do
            echo "gpu $id: numa node $(numa_node_of "$id" || echo unknown)"
        done
        echo
        timeout 60 nvidia-smi -q
    else
        echo "nvidia-smi: not found"
    fi
} >"$out/machine.txt" 2>&1

# ---- build
echo "== configure and build (Release) in $build"
{
    timeout 180 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${prefix[@]}" &&
        timeout 600 cmake --build "$build" -j "$(nproc)"
} >"$out/build.log" 2>&1 || { tail -30 "$out/build.log"; fail "configure or build failed"; }

# ---- unit and end-to-end tests: a failure is recorded, and the measurement goes on
echo "== unit tests"
if [ -x "$build/tests/report_tests" ]; then
    if timeout 400 ctest --test-dir "$build" --output-on-failure -E '^crosscheck$' \
        >"$out/unit-tests.log" 2>&1; then
        unit=passed
        tail -3 "$out/unit-tests.log"
    else
        unit=failed
        tail -40 "$out/unit-tests.log"
        problems+=("unit tests failed (see $out/unit-tests.log)")
    fi
else
    unit=skipped
    echo "GoogleTest was not found (set GTEST_ROOT): the unit tests were not built" |
        tee "$out/unit-tests.log"
fi

# ---- one core, on GPU 0's NUMA node where sysfs says which, for all three runs
core=0
gpu0=$(timeout 30 nvidia-smi --query-gpu=pci.bus_id --format=csv,noheader -i 0 2>/dev/null)
node=$(numa_node_of "$gpu0")
if [ -n "$node" ] && [ "$node" -ge 0 ] 2>/dev/null &&
    [ -r "/sys/devices/system/node/node$node/cpulist" ]; then
    core=$(cut -d, -f1 "/sys/devices/system/node/node$node/cpulist" | cut -d- -f1)
fi
pin=()
if command -v taskset >/dev/null 2>&1 && taskset -c "$core" true 2>/dev/null; then
    pin=(taskset -c "$core")
    echo "== pinned to core $core (GPU 0's NUMA node: ${node:-unknown})"
else
    echo "== taskset cannot pin to core $core: running unpinned"
fi

echo "== crosscheck, before"
timeout 300 "${pin[@]}" "$build/tests/gpu/crosscheck" >"$out/crosscheck-before.txt" 2>&1
before_status=$?
cat "$out/crosscheck-before.txt"

echo "== cuda-bandwidth"
started=$(date +%s.%N)
timeout 300 "${pin[@]}" stdbuf -oL "$build/cuda-bandwidth" </dev/null >"$out/report.txt" 2>&1
program_status=$?
ended=$(date +%s.%N)
wall=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.3f", b - a }')
cat "$out/report.txt"; echo
if ! grep -q '^GPU 0: ' "$out/report.txt"; then
    reason=$(grep -m1 'Error occured' "$out/report.txt" || grep -m1 'found' "$out/report.txt")
    fail "no GPU to measure: ${reason:-cuda-bandwidth printed no report}"
fi
[ "$program_status" -eq 0 ] || problems+=("cuda-bandwidth exited $program_status")

echo "== crosscheck, after"
timeout 300 "${pin[@]}" "$build/tests/gpu/crosscheck" >"$out/crosscheck-after.txt" 2>&1
after_status=$?
cat "$out/crosscheck-after.txt"

echo "== side by side (GB/s of 2^30 bytes)"
timeout 60 python3 "$root/tests/gpu/compare.py" "$out/report.txt" "$out/crosscheck-before.txt" \
    "$out/crosscheck-after.txt" --wall-seconds "$wall" --unit-tests "$unit" | tee "$out/table.txt"
table_status=${PIPESTATUS[0]}

[ "$before_status" -eq 0 ] || problems+=("the first crosscheck exited $before_status")
[ "$after_status" -eq 0 ] || problems+=("the second crosscheck exited $after_status")
[ "$table_status" -eq 0 ] || problems+=("the figures do not agree (see $out/table.txt)")
if [ ${#problems[@]} -gt 0 ]; then
    printf 'run.sh: %s\n' "${problems[@]}" >&2
    exit 1
fi
echo "run.sh: all checks passed"
