#include "bandwidth_tests.hpp"

#include <cstdint>
#include <iostream>

#include "cuda_error.hpp"
#include "host_memory.hpp"
#include "tick_clock.hpp"
#include "tick_counter.hpp"

namespace {

void* host_buffer_a = nullptr;
void* host_buffer_b = nullptr;
void* device_buffer_a = nullptr;
void* device_buffer_b = nullptr;
// Whether host_buffer_a holds the page-locked block of tests 5 and 6 rather than pageable memory.
bool host_buffer_a_page_locked = false;

cudaError_t copy_host_to_device() {
    return cudaMemcpy(device_buffer_a, host_buffer_a, BLOCK_SIZE_BYTES, cudaMemcpyHostToDevice);
}

cudaError_t copy_device_to_host() {
    return cudaMemcpy(host_buffer_a, device_buffer_a, BLOCK_SIZE_BYTES, cudaMemcpyDeviceToHost);
}

cudaError_t copy_host_to_host() {
    copy_host_block(host_buffer_a, host_buffer_b, BLOCK_SIZE_BYTES);
    return cudaSuccess;
}

cudaError_t copy_device_to_device() {
    return cudaMemcpy(device_buffer_a, device_buffer_b, BLOCK_SIZE_BYTES, cudaMemcpyDeviceToDevice);
}

struct copy_test {
    const char* heading;
    copy_operation copy;
    bool wait_for_device;
};

// In the order they run; tests 5 and 6 find host_buffer_a page-locked.
constexpr copy_test COPY_TESTS[] = {
    {"Copying Host -> Device\n", copy_host_to_device, false},
    {"Copying Device -> Host\n", copy_device_to_host, false},
    {"Copying Host -> Host\n", copy_host_to_host, false},
    {"Copying Device -> Device\n", copy_device_to_device, true},
    {"Copying Host -> Device (using page-locked)\n", copy_host_to_device, true},
    {"Copying Device -> Host (using page-locked)\n", copy_device_to_host, true},
};

bool run_test(int number, float ticks_per_second) {
    const copy_test& test = COPY_TESTS[number - 1];
    return time_copies(test.heading, test.copy, test.wait_for_device, ticks_per_second);
}

bool allocate_host(void*& buffer, const char* ok_text) {
    std::cout << "RAM allocating... ";
    buffer = allocate_host_block(BLOCK_SIZE_BYTES);
    if (buffer == nullptr) {
        report_failure(cudaErrorMemoryAllocation);
        return false;
    }
    fill_host_block(buffer, BLOCK_SIZE_BYTES);
    std::cout << ok_text;
    return true;
}

bool allocate_device(void*& buffer) {
    std::cout << "GPU global RAM allocating... ";
    const cudaError_t status = cudaMalloc(&buffer, BLOCK_SIZE_BYTES);
    if (status != cudaSuccess) {
        buffer = nullptr;
    }
    if (report_failure(status)) {
        return false;
    }
    std::cout << "OK\n\n";
    return true;
}

// The page-locked allocation is silent; a failure is reported under test 5's heading.
bool allocate_page_locked(void*& buffer) {
    const cudaError_t status = cudaMallocHost(&buffer, BLOCK_SIZE_BYTES);
    if (status != cudaSuccess) {
        buffer = nullptr;
        std::cout << COPY_TESTS[4].heading;
        report_failure(status);
        return false;
    }
    host_buffer_a_page_locked = true;
    return true;
}

void release_pageable(void*& buffer) {
    release_host_block(buffer);
    buffer = nullptr;
}

// The buffer counts as released even when the runtime reports a failure: it is never retried.
cudaError_t release_device(void*& buffer) {
    const cudaError_t status = cudaFree(buffer);
    buffer = nullptr;
    return status;
}

cudaError_t release_page_locked(void*& buffer) {
    const cudaError_t status = cudaFreeHost(buffer);
    buffer = nullptr;
    host_buffer_a_page_locked = false;
    return status;
}

// Steps up to the first failure; false once one has been reported.
bool run_plan(float ticks_per_second) {
    if (!allocate_host(host_buffer_a, "OK\n") || !allocate_device(device_buffer_a) ||
        !run_test(1, ticks_per_second) || !run_test(2, ticks_per_second) ||
        !allocate_host(host_buffer_b, "OK\n\n") || !run_test(3, ticks_per_second) ||
        !allocate_device(device_buffer_b) || !run_test(4, ticks_per_second)) {
        return false;
    }
    release_pageable(host_buffer_a);
    release_pageable(host_buffer_b);
    if (report_failure(release_device(device_buffer_b)) || !allocate_page_locked(host_buffer_a) ||
        !run_test(5, ticks_per_second) || !run_test(6, ticks_per_second)) {
        return false;
    }
    return !report_failure(release_page_locked(host_buffer_a)) &&
           !report_failure(release_device(device_buffer_a));
}

// After a failure: whatever is still held goes back without a word.
void release_remaining_buffers() {
    if (host_buffer_a != nullptr) {
        if (host_buffer_a_page_locked) {
            static_cast<void>(release_page_locked(host_buffer_a));
        } else {
            release_pageable(host_buffer_a);
        }
    }
    if (host_buffer_b != nullptr) {
        release_pageable(host_buffer_b);
    }
    if (device_buffer_a != nullptr) {
        static_cast<void>(release_device(device_buffer_a));
    }
    if (device_buffer_b != nullptr) {
        static_cast<void>(release_device(device_buffer_b));
    }
}

}  // namespace

bool time_copies(const char* heading, copy_operation copy, bool wait_for_device,
                 float ticks_per_second) {
    std::cout << heading;
    double sum = 0.0;
    for (int repetition = 0; repetition < REPETITIONS; ++repetition) {
        const std::uint64_t start = read_tick_counter();
        const cudaError_t copied = copy();
        const cudaError_t waited = wait_for_device ? cudaDeviceSynchronize() : cudaSuccess;
        const std::uint64_t end = read_tick_counter();
        if (report_failure(copied != cudaSuccess ? copied : waited)) {
            return false;
        }
        const float seconds = tick_difference(start, end) / ticks_per_second;
        sum += static_cast<double>(BLOCK_SIZE_BYTES) / static_cast<double>(seconds) / BYTES_PER_GB;
    }
    std::cout << "Average bandwidth = " << sum / static_cast<double>(REPETITIONS) << " GB/s\n\n";
    return true;
}

void run_device_tests(float ticks_per_second) {
    if (!run_plan(ticks_per_second)) {
        release_remaining_buffers();
    }
}
