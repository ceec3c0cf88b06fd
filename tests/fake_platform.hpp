// A scripted stand-in for everything the report logic reaches outside itself: the CUDA runtime,
// the host-memory primitives and the tick counter with its sleep. Tests link it in place of the
// real library and modules. It hands out made-up addresses that must never be dereferenced,
// keeps a ledger of the blocks that are held, and records every call in one journal, so a test
// can assert on the order of calls as well as on what they were given.
#pragma once

#include <cuda_runtime_api.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake {

// The nth call (from 1) of the named function fails with the given code. A failing malloc
// returns nullptr whatever the code.
struct failure {
    std::string function;
    int nth;
    cudaError_t code;
};

struct script {
    std::vector<std::string> device_names;
    std::vector<failure> failures;
    std::uint64_t first_tick = 1000;
    std::uint64_t ticks_per_sleep = 3000000000;
    // Each copy advances the counter by the next entry, cycling; the default is 60000000.
    std::vector<std::uint64_t> ticks_per_copy;
    // Runs inside the sleep, so a test can look at what was written before it.
    std::function<void()> on_sleep;
    // Tells how much of the report has been written; stamped on every call when set.
    std::function<std::size_t()> output_position;
};

struct call {
    std::string function;
    std::string text;  // the function with its arguments and result, e.g. "malloc(8) -> host1"
    std::size_t output_position;
};

void reset(const script& plan);

const std::vector<call>& journal();

// Labels of the blocks still held, in allocation order.
std::vector<std::string> held_blocks();

// Blocks held at each cudaSetDevice, one entry per call ("" when none was held).
const std::vector<std::string>& held_at_set_device();

// Releases of unknown addresses, releases through the wrong function, and the like.
const std::vector<std::string>& misuse();

// The journal with every timed span (counter read, calls, counter read) collapsed into one
// entry "timed{...}", and each run of identical consecutive entries into "N x entry".
std::vector<std::string> summary();

}  // namespace fake
