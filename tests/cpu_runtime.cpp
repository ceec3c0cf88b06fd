#include "cpu_runtime.hpp"

#include <cuda_runtime_api.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_memory.hpp"
#include "runtime_error_texts.hpp"

#if defined(__linux__)
#include <unistd.h>
#endif

namespace cpu_runtime {
namespace {

using clock_type = std::chrono::steady_clock;

constexpr char DEVICE_NAME[] = "CPU-backed stand-in";
// What the runtime's allocators give is real memory; the stand-in makes its blocks real too.
constexpr int DEVICE_FILL_BYTE = 0x3C;

struct state {
    clock_type::time_point started = clock_type::now();
    clock_type::duration to_count_query{};
    std::vector<double> copies;
    std::vector<long long> growth;
    clock_type::duration managing_memory{};
    long long resident_before_allocation = -1;
};

state& current() {
    static state instance;
    return instance;
}

// The resident set in bytes, or -1 where it cannot be read.
long long resident_bytes() {
#if defined(__linux__)
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return -1;
    }
    long long size_pages = 0;
    long long resident_pages = -1;
    const int read = std::fscanf(statm, "%lld %lld", &size_pages, &resident_pages);
    std::fclose(statm);
    return read == 2 ? resident_pages * sysconf(_SC_PAGESIZE) : -1;
#else
    return -1;
#endif
}

// Called on entering every function of the stand-in but the fill: the first call after a host
// allocation closes that allocation's sample, whatever the program did with the block meanwhile.
void close_growth_sample() {
    state& s = current();
    if (s.resident_before_allocation >= 0) {
        const long long after = resident_bytes();
        if (after >= 0) {
            s.growth.push_back(after - s.resident_before_allocation);
        }
        s.resident_before_allocation = -1;
    }
}

void timed_copy(void* destination, const void* source, std::size_t size_bytes) {
    close_growth_sample();
    const clock_type::time_point start = clock_type::now();
    std::memcpy(destination, source, size_bytes);
    const clock_type::time_point end = clock_type::now();
    current().copies.push_back(std::chrono::duration<double>(end - start).count());
}

// Adds the time since start to what allocating, filling and releasing took.
void count_memory_management(clock_type::time_point start) {
    current().managing_memory += clock_type::now() - start;
}

void* real_block(std::size_t size_bytes) {
    close_growth_sample();
    const clock_type::time_point start = clock_type::now();
    void* block = std::malloc(size_bytes);
    if (block != nullptr) {
        std::memset(block, DEVICE_FILL_BYTE, size_bytes);
    }
    count_memory_management(start);
    return block;
}

void release_block(void* block) {
    close_growth_sample();
    const clock_type::time_point start = clock_type::now();
    std::free(block);
    count_memory_management(start);
}

}  // namespace

void reset() { current() = state{}; }

const std::vector<double>& copy_seconds() { return current().copies; }

std::chrono::steady_clock::duration time_to_count_query() { return current().to_count_query; }

std::chrono::steady_clock::duration time_managing_memory() { return current().managing_memory; }

const std::vector<long long>& resident_growth_bytes() { return current().growth; }

bool resident_set_known() { return resident_bytes() >= 0; }

}  // namespace cpu_runtime

// ---- Host memory ----

void* allocate_host_block(std::size_t size_bytes) {
    cpu_runtime::close_growth_sample();
    const cpu_runtime::clock_type::time_point start = cpu_runtime::clock_type::now();
    cpu_runtime::current().resident_before_allocation = cpu_runtime::resident_bytes();
    void* block = std::malloc(size_bytes);
    cpu_runtime::count_memory_management(start);
    return block;
}

void fill_host_block(void* block, std::size_t size_bytes) {
    const cpu_runtime::clock_type::time_point start = cpu_runtime::clock_type::now();
    std::memset(block, HOST_BLOCK_FILL_BYTE, size_bytes);
    cpu_runtime::count_memory_management(start);
}

void release_host_block(void* block) { cpu_runtime::release_block(block); }

void copy_host_block(void* destination, const void* source, std::size_t size_bytes) {
    cpu_runtime::timed_copy(destination, source, size_bytes);
}

// ---- The CUDA runtime ----

extern "C" {

cudaError_t CUDARTAPI cudaGetDeviceCount(int* count) {
    cpu_runtime::close_growth_sample();
    cpu_runtime::current().to_count_query =
        cpu_runtime::clock_type::now() - cpu_runtime::current().started;
    *count = 1;
    return cudaSuccess;
}

cudaError_t CUDARTAPI cudaGetLastError(void) { return cudaSuccess; }

const char* CUDARTAPI cudaGetErrorString(cudaError_t error) { return runtime_error_text(error); }

cudaError_t CUDARTAPI cudaSetDevice(int device) {
    return device == 0 ? cudaSuccess : cudaErrorInvalidDevice;
}

cudaError_t CUDARTAPI cudaGetDeviceProperties(cudaDeviceProp* prop, int device) {
    if (device != 0) {
        return cudaErrorInvalidDevice;
    }
    *prop = cudaDeviceProp{};
    std::memcpy(prop->name, cpu_runtime::DEVICE_NAME, sizeof cpu_runtime::DEVICE_NAME);
    return cudaSuccess;
}

cudaError_t CUDARTAPI cudaMalloc(void** devPtr, size_t size) {
    *devPtr = cpu_runtime::real_block(size);
    return *devPtr != nullptr ? cudaSuccess : cudaErrorMemoryAllocation;
}

cudaError_t CUDARTAPI cudaMallocHost(void** ptr, size_t size) {
    *ptr = cpu_runtime::real_block(size);
    return *ptr != nullptr ? cudaSuccess : cudaErrorMemoryAllocation;
}

cudaError_t CUDARTAPI cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind) {
    if (kind != cudaMemcpyHostToDevice && kind != cudaMemcpyDeviceToHost &&
        kind != cudaMemcpyDeviceToDevice) {
        return cudaErrorInvalidValue;
    }
    cpu_runtime::timed_copy(dst, src, count);
    return cudaSuccess;
}

cudaError_t CUDARTAPI cudaDeviceSynchronize(void) {
    cpu_runtime::close_growth_sample();
    return cudaSuccess;
}

cudaError_t CUDARTAPI cudaFree(void* devPtr) {
    cpu_runtime::release_block(devPtr);
    return cudaSuccess;
}

cudaError_t CUDARTAPI cudaFreeHost(void* ptr) {
    cpu_runtime::release_block(ptr);
    return cudaSuccess;
}

}  // extern "C"
