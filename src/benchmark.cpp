#include "benchmark.hpp"

#include <cuda_runtime_api.h>

#include <cstring>
#include <iostream>
#include <string_view>

#include "bandwidth_tests.hpp"
#include "cuda_error.hpp"
#include "program_version.hpp"
#include "tick_clock.hpp"

namespace {

constexpr const char* CREDIT_LINE =
    "Times host, device and page-locked memory copies on every CUDA GPU in this machine";

// Selects the device and writes its line. False, after the error line of the first failure,
// when the device cannot be selected or described: its tests would then measure whichever
// device was current before.
bool select_device(int index, cudaDeviceProp& dp) {
    const cudaError_t selected = cudaSetDevice(index);
    dp = cudaDeviceProp{};
    const cudaError_t described = cudaGetDeviceProperties(&dp, index);
    const std::string_view name = described == cudaSuccess
                                      ? std::string_view(dp.name, strnlen(dp.name, sizeof dp.name))
                                      : std::string_view();
    std::cout << "GPU " << index << ": " << name << "\n\n";
    return !report_failure(selected != cudaSuccess ? selected : described);
}

}  // namespace

int run_benchmark() {
    std::cout << "CUDA memory bandwidth test (block size = " << BLOCK_SIZE_MB << " MB)\n"
              << "v " << PROGRAM_VERSION << "\n"
              << CREDIT_LINE << "\n\n";
    const float ticks_per_second = calibrate_clock();

    int device_count = 0;
    const cudaError_t counted = cudaGetDeviceCount(&device_count);
    std::cout << device_count << " CUDA device(s) found\n\n";
    const cudaError_t last = cudaGetLastError();
    const cudaError_t status = counted != cudaSuccess ? counted : last;
    if (status != cudaSuccess) {
        write_error_line(status);
    } else {
        cudaDeviceProp dp{};
        for (int index = 0; index < device_count; ++index) {
            if (select_device(index, dp)) {
                run_device_tests(ticks_per_second);
            }
        }
        std::cout << "Done";
    }

    std::cin.get();
    return 0;
}
