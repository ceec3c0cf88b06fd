// The six timed copy tests for the device selected last.
//
// Every figure is the arithmetic mean of REPETITIONS per-copy rates, the first copy included,
// each timed with the tick counter from just before the copy call to just after it returns (and,
// for the tests that wait for the device, after the device is idle again). A failed allocation,
// copy or wait ends the device's tests with the error line in place of the figure it would have
// spoiled; whatever happens, every buffer is released before run_device_tests returns. Each
// pageable host block is written once between its allocation and its "OK", never inside a timed
// span, so that every copy moves real memory; the device and page-locked blocks are left as the
// runtime hands them out.
#pragma once

#include <cuda_runtime_api.h>

#include <cstddef>

constexpr int BLOCK_SIZE_MB = 100;
constexpr std::size_t BLOCK_SIZE_BYTES = 104857600;
constexpr int REPETITIONS = 100;
constexpr double BYTES_PER_GB = 1073741824.0;

static_assert(BLOCK_SIZE_BYTES == static_cast<std::size_t>(BLOCK_SIZE_MB) * 1048576);

// One copy of a whole block; returns the first failure of the runtime, if any.
using copy_operation = cudaError_t (*)();

// Writes the heading, times REPETITIONS copies and writes the average line. A failed copy or
// wait ends the loop at once and writes the error line instead; the result is false then.
bool time_copies(const char* heading, copy_operation copy, bool wait_for_device,
                 float ticks_per_second);

// Allocates, measures, reports and frees everything for the current device.
void run_device_tests(float ticks_per_second);
