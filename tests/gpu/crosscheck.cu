// An independent measurement of the benchmark's six copy sequences, for checking its figures on
// real hardware. For every device it repeats the benchmark's order, sizes and buffer kinds (fresh
// malloc blocks, cudaMalloc, then page-locked memory for the last two tests, 100 copies each, no
// warm-up) and times every copy twice: with steady_clock over exactly the span the benchmark
// times (the copy, and for tests 4-6 the device synchronisation), and with CUDA events recorded
// around the copy on the default stream. It also proves that each sequence moved the data.
//
// Output: one line per fact, "device N key=value ...", rates in GB/s of 2^30 bytes. Exit status:
// 0 when every check passed, 1 on a failed CUDA call or a data mismatch, 77 when there is no
// device to measure (the status CTest reads as "skipped").

#include <cuda_runtime_api.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t BLOCK_SIZE_BYTES = 104857600;
constexpr int REPETITIONS = 100;
constexpr double BYTES_PER_GB = 1073741824.0;
constexpr int EXIT_NO_DEVICE = 77;

void check(cudaError_t code, const char* call) {
    if (code != cudaSuccess) {
        std::printf("crosscheck: %s failed: %s (%d)\n", call, cudaGetErrorString(code),
                    static_cast<int>(code));
        std::exit(1);
    }
}

#define CHECK(call) check((call), #call)

void* host_block() {
    void* block = std::malloc(BLOCK_SIZE_BYTES);
    if (block == nullptr) {
        check(cudaErrorMemoryAllocation, "malloc(BLOCK_SIZE_BYTES)");
    }
    return block;
}

// A non-zero pattern that differs between sequences and along the block.
std::uint64_t pattern_word(std::size_t index, std::uint64_t seed) {
    std::uint64_t x = (index + 1) * 0x9E3779B97F4A7C15ULL ^ seed;
    x ^= x >> 29;
    return x | 1;
}

void fill(void* block, std::uint64_t seed) {
    auto* words = static_cast<std::uint64_t*>(block);
    for (std::size_t i = 0; i < BLOCK_SIZE_BYTES / 8; ++i) {
        words[i] = pattern_word(i, seed);
    }
}

bool holds(const void* block, std::uint64_t seed) {
    const auto* words = static_cast<const std::uint64_t*>(block);
    for (std::size_t i = 0; i < BLOCK_SIZE_BYTES / 8; ++i) {
        if (words[i] != pattern_word(i, seed)) {
            return false;
        }
    }
    return true;
}

struct statistics {
    double mean_of_rates;
    double total_rate;
    double median_rate;
    double total_seconds;
};

statistics summarise(const std::vector<double>& seconds) {
    std::vector<double> rates;
    double total = 0.0;
    double sum = 0.0;
    for (double s : seconds) {
        const double rate = static_cast<double>(BLOCK_SIZE_BYTES) / s / BYTES_PER_GB;
        rates.push_back(rate);
        sum += rate;
        total += s;
    }
    std::sort(rates.begin(), rates.end());
    const std::size_t n = rates.size();
    const double median = n % 2 == 1 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2.0;
    return {sum / static_cast<double>(n),
            static_cast<double>(BLOCK_SIZE_BYTES) * static_cast<double>(n) / total / BYTES_PER_GB,
            median, total};
}

struct sequence {
    int number;
    const char* name;
    void* destination;
    const void* source;
    cudaMemcpyKind kind;  // cudaMemcpyHostToHost means memcpy, timed with steady_clock only
    bool wait_for_device;
};

// Times the sequence and prints its line; returns false when the data did not arrive.
bool time_sequence(int device, const sequence& s, std::uint64_t seed, void* staging,
                   cudaEvent_t start, cudaEvent_t stop) {
    // The source gets the pattern: directly on the host, through the staging block on the device.
    if (s.kind == cudaMemcpyDeviceToHost || s.kind == cudaMemcpyDeviceToDevice) {
        fill(staging, seed);
        CHECK(cudaMemcpy(const_cast<void*>(s.source), staging, BLOCK_SIZE_BYTES,
                         cudaMemcpyHostToDevice));
    } else {
        fill(const_cast<void*>(s.source), seed);
    }
    CHECK(cudaDeviceSynchronize());

    std::vector<double> steady_seconds;
    std::vector<double> event_seconds;
    const bool host_only = s.kind == cudaMemcpyHostToHost;
    for (int i = 0; i < REPETITIONS; ++i) {
        if (!host_only) {
            CHECK(cudaEventRecord(start, 0));
        }
        const auto began = std::chrono::steady_clock::now();
        if (host_only) {
            std::memcpy(s.destination, s.source, BLOCK_SIZE_BYTES);
        } else {
            CHECK(cudaMemcpy(s.destination, s.source, BLOCK_SIZE_BYTES, s.kind));
            if (s.wait_for_device) {
                CHECK(cudaDeviceSynchronize());
            }
        }
        const auto ended = std::chrono::steady_clock::now();
        steady_seconds.push_back(std::chrono::duration<double>(ended - began).count());
        if (!host_only) {
            CHECK(cudaEventRecord(stop, 0));
            CHECK(cudaEventSynchronize(stop));
            float milliseconds = 0.0F;
            CHECK(cudaEventElapsedTime(&milliseconds, start, stop));
            event_seconds.push_back(static_cast<double>(milliseconds) / 1000.0);
        }
    }

    bool arrived = false;
    if (s.kind == cudaMemcpyHostToDevice || s.kind == cudaMemcpyDeviceToDevice) {
        CHECK(cudaMemcpy(staging, s.destination, BLOCK_SIZE_BYTES, cudaMemcpyDeviceToHost));
        arrived = holds(staging, seed);
    } else {
        arrived = holds(s.destination, seed);
    }

    const statistics steady = summarise(steady_seconds);
    std::printf(
        "device %d test %d name=\"%s\" steady_mean=%.6g steady_total=%.6g "
        "steady_median=%.6g steady_seconds=%.6g",
        device, s.number, s.name, steady.mean_of_rates, steady.total_rate, steady.median_rate,
        steady.total_seconds);
    if (host_only) {
        std::printf(" event_mean=- event_total=- event_median=-");
    } else {
        const statistics events = summarise(event_seconds);
        std::printf(" event_mean=%.6g event_total=%.6g event_median=%.6g", events.mean_of_rates,
                    events.total_rate, events.median_rate);
    }
    std::printf(" data=%s\n", arrived ? "ok" : "MISMATCH");
    std::fflush(stdout);
    return arrived;
}

std::string read_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The theoretical one-direction rate of the PCIe link, where Linux exposes it.
void print_link(int device) {
    char bus_id[32] = {};
    if (cudaDeviceGetPCIBusId(bus_id, sizeof bus_id, device) != cudaSuccess) {
        std::printf("device %d link=unknown\n", device);
        return;
    }
    std::string id(bus_id);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string base = "/sys/bus/pci/devices/" + id + "/";
    const std::string speed = read_line(base + "current_link_speed");  // e.g. "32.0 GT/s PCIe"
    const std::string width = read_line(base + "current_link_width");  // e.g. "16"
    const double transfers = std::atof(speed.c_str());
    const int lanes = std::atoi(width.c_str());
    if (transfers <= 0.0 || lanes <= 0) {
        std::printf("device %d pci=%s link=unknown\n", device, id.c_str());
        return;
    }
    // 8b/10b coding up to 5 GT/s, 128b/130b from 8 GT/s on.
    const double coding = transfers < 8.0 ? 8.0 / 10.0 : 128.0 / 130.0;
    const double limit = transfers * 1e9 * coding * lanes / 8.0 / BYTES_PER_GB;
    std::printf("device %d pci=%s link_speed_gt_s=%g link_width=%d link_limit=%.6g\n", device,
                id.c_str(), transfers, lanes, limit);
}

void print_memory_peak(int device) {
    int clock_khz = 0;
    int bus_bits = 0;
    if (cudaDeviceGetAttribute(&clock_khz, cudaDevAttrMemoryClockRate, device) != cudaSuccess ||
        cudaDeviceGetAttribute(&bus_bits, cudaDevAttrGlobalMemoryBusWidth, device) != cudaSuccess ||
        clock_khz <= 0 || bus_bits <= 0) {
        std::printf("device %d memory_peak=unknown\n", device);
        return;
    }
    // Two transfers per clock.
    const double peak = 2.0 * clock_khz * 1000.0 * (bus_bits / 8.0) / BYTES_PER_GB;
    std::printf("device %d memory_clock_khz=%d memory_bus_bits=%d memory_peak=%.6g\n", device,
                clock_khz, bus_bits, peak);
}

bool measure_device(int device) {
    CHECK(cudaSetDevice(device));
    cudaDeviceProp properties{};
    CHECK(cudaGetDeviceProperties(&properties, device));
    int driver = 0;
    int runtime = 0;
    CHECK(cudaDriverGetVersion(&driver));
    CHECK(cudaRuntimeGetVersion(&runtime));
    std::printf("device %d name=\"%.*s\" driver_api=%d runtime=%d\n", device,
                static_cast<int>(strnlen(properties.name, sizeof properties.name)), properties.name,
                driver, runtime);
    print_link(device);
    print_memory_peak(device);

    cudaEvent_t start = nullptr;
    cudaEvent_t stop = nullptr;
    CHECK(cudaEventCreate(&start));
    CHECK(cudaEventCreate(&stop));
    void* staging = host_block();
    std::uint64_t seed = 0x5EED0000ULL + static_cast<std::uint64_t>(device) * 16;
    bool all_arrived = true;

    void* host_a = host_block();
    void* device_a = nullptr;
    CHECK(cudaMalloc(&device_a, BLOCK_SIZE_BYTES));
    all_arrived &= time_sequence(
        device, {1, "Host -> Device", device_a, host_a, cudaMemcpyHostToDevice, false}, ++seed,
        staging, start, stop);
    all_arrived &= time_sequence(
        device, {2, "Device -> Host", host_a, device_a, cudaMemcpyDeviceToHost, false}, ++seed,
        staging, start, stop);
    void* host_b = host_block();
    all_arrived &=
        time_sequence(device, {3, "Host -> Host", host_a, host_b, cudaMemcpyHostToHost, false},
                      ++seed, staging, start, stop);
    void* device_b = nullptr;
    CHECK(cudaMalloc(&device_b, BLOCK_SIZE_BYTES));
    all_arrived &= time_sequence(
        device, {4, "Device -> Device", device_a, device_b, cudaMemcpyDeviceToDevice, true}, ++seed,
        staging, start, stop);
    std::free(host_a);
    std::free(host_b);
    CHECK(cudaFree(device_b));
    void* pinned = nullptr;
    CHECK(cudaMallocHost(&pinned, BLOCK_SIZE_BYTES));
    all_arrived &= time_sequence(
        device,
        {5, "Host -> Device (using page-locked)", device_a, pinned, cudaMemcpyHostToDevice, true},
        ++seed, staging, start, stop);
    all_arrived &= time_sequence(
        device,
        {6, "Device -> Host (using page-locked)", pinned, device_a, cudaMemcpyDeviceToHost, true},
        ++seed, staging, start, stop);
    CHECK(cudaFreeHost(pinned));
    CHECK(cudaFree(device_a));
    std::free(staging);
    CHECK(cudaEventDestroy(start));
    CHECK(cudaEventDestroy(stop));
    return all_arrived;
}

}  // namespace

int main() {
    int device_count = 0;
    const cudaError_t counted = cudaGetDeviceCount(&device_count);
    if (counted != cudaSuccess || device_count <= 0) {
        std::printf("crosscheck: no CUDA device");
        if (counted != cudaSuccess) {
            std::printf(": %s (%d)", cudaGetErrorString(counted), static_cast<int>(counted));
        }
        std::printf("\n");
        return EXIT_NO_DEVICE;
    }
    std::printf("devices=%d\n", device_count);
    bool all_arrived = true;
    for (int device = 0; device < device_count; ++device) {
        all_arrived &= measure_device(device);
    }
    if (!all_arrived) {
        std::printf("crosscheck: data mismatch: some copies did not move the data\n");
        return 1;
    }
    return 0;
}
