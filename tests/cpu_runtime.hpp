// A CPU-backed stand-in for the CUDA runtime, linked in place of the real library together with
// the program's real tick counter and sleep. It reports one device whose "device memory" is
// ordinary host memory; cudaMemcpy really copies the whole block and cudaDeviceSynchronize
// returns at once. It also provides the host-memory primitives, as a thin layer over malloc,
// free, memset and memcpy.
//
// Every block copy, host or "device", is timed on its own with std::chrono::steady_clock around
// the copy alone, so a test can hold the program's printed figures against an independent clock
// over copies that really happen. Nothing here is scripted: a run measures whatever this
// machine's memory does.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

namespace cpu_runtime {

// Clears every record; the next run starts from now.
void reset();

// Every block copy since reset, in order, in seconds of steady_clock.
const std::vector<double>& copy_seconds();

// Time from reset to the device count query: the banner and the calibration.
std::chrono::steady_clock::duration time_to_count_query();

// Time spent allocating, filling and releasing blocks, host and "device": the memory work that
// the real runtime and allocator do outside the timed copies.
std::chrono::steady_clock::duration time_managing_memory();

// For each host block: how much the resident set grew from just before its allocation to the
// next call into the stand-in (the first copy or allocation after it), in bytes.
const std::vector<long long>& resident_growth_bytes();

// Whether the platform says how large the resident set is; only Linux's is read.
bool resident_set_known();

}  // namespace cpu_runtime
