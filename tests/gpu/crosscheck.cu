// An independent measurement of the benchmark's six copy sequences, for checking its figures on
// real hardware. For every device it treats its buffers exactly as the benchmark does: the same
// allocations in the same order (fresh malloc blocks written once right after allocation,
// cudaMalloc, then one page-locked block for the last two tests) and the same 100 copies per
// test with no warm-up. Each test is run twice:
//
// - a steady_clock loop shaped exactly like the benchmark's: clock, copy (and, for tests 4-6,
//   the device synchronisation), clock, with nothing else inside;
// - a second loop of the same copies with CUDA events recorded around each on the default stream,
//   so that the events cannot change the gaps between the copies of the first loop.
//
// The data's arrival is proved outside both loops: sources hold a pattern written before the
// test, destinations are checked after it, and no copy is timed that the benchmark would not
// make. Over the whole run it also measures the program's tick counter against steady_clock, so
// the benchmark's calibration line can be checked directly. The PCIe link is read after the
// copies, when an idle link has had every reason to train up to its working speed.
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

#include "tick_counter.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t BLOCK_SIZE_BYTES = 104857600;
constexpr int REPETITIONS = 100;
constexpr double BYTES_PER_GB = 1073741824.0;
constexpr int EXIT_NO_DEVICE = 77;
constexpr int TEST_COUNT = 6;
constexpr const char* TEST_NAMES[TEST_COUNT] = {"Host -> Device",
                                                "Device -> Host",
                                                "Host -> Host",
                                                "Device -> Device",
                                                "Host -> Device (using page-locked)",
                                                "Device -> Host (using page-locked)"};

void check(cudaError_t code, const char* call) {
    if (code != cudaSuccess) {
        std::printf("crosscheck: %s failed: %s (%d)\n", call, cudaGetErrorString(code),
                    static_cast<int>(code));
        std::exit(1);
    }
}

#define CHECK(call) check((call), #call)

// A non-zero pattern that differs between seeds and along the block.
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

// A pageable block, written once right after allocation as the benchmark writes its own.
void* host_block(std::uint64_t seed) {
    void* block = std::malloc(BLOCK_SIZE_BYTES);
    if (block == nullptr) {
        check(cudaErrorMemoryAllocation, "malloc(BLOCK_SIZE_BYTES)");
    }
    fill(block, seed);
    return block;
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

struct copy_test {
    void* destination;
    const void* source;
    cudaMemcpyKind kind;  // cudaMemcpyHostToHost means memcpy, timed with steady_clock only
    bool wait_for_device;
};

struct test_result {
    statistics steady;
    statistics events;
    bool has_events;
    bool data_ok;
};

cudaError_t copy_once(const copy_test& t) {
    if (t.kind == cudaMemcpyHostToHost) {
        std::memcpy(t.destination, t.source, BLOCK_SIZE_BYTES);
        return cudaSuccess;
    }
    return cudaMemcpy(t.destination, t.source, BLOCK_SIZE_BYTES, t.kind);
}

// The benchmark's loop, with steady_clock in place of the tick counter, then the event loop.
test_result time_test(const copy_test& t, cudaEvent_t start, cudaEvent_t stop) {
    std::vector<double> steady_seconds;
    steady_seconds.reserve(REPETITIONS);
    for (int i = 0; i < REPETITIONS; ++i) {
        const clock_type::time_point began = clock_type::now();
        const cudaError_t copied = copy_once(t);
        const cudaError_t waited = t.wait_for_device ? cudaDeviceSynchronize() : cudaSuccess;
        const clock_type::time_point ended = clock_type::now();
        check(copied != cudaSuccess ? copied : waited, "the timed copy");
        steady_seconds.push_back(std::chrono::duration<double>(ended - began).count());
    }
    test_result result{summarise(steady_seconds), {}, t.kind != cudaMemcpyHostToHost, true};
    if (!result.has_events) {
        return result;
    }
    std::vector<double> event_seconds;
    for (int i = 0; i < REPETITIONS; ++i) {
        CHECK(cudaEventRecord(start, 0));
        CHECK(copy_once(t));
        if (t.wait_for_device) {
            CHECK(cudaDeviceSynchronize());
        }
        CHECK(cudaEventRecord(stop, 0));
        CHECK(cudaEventSynchronize(stop));
        float milliseconds = 0.0F;
        CHECK(cudaEventElapsedTime(&milliseconds, start, stop));
        event_seconds.push_back(static_cast<double>(milliseconds) / 1000.0);
    }
    result.events = summarise(event_seconds);
    return result;
}

void print_result(int device, int number, const test_result& r) {
    std::printf(
        "device %d test %d name=\"%s\" steady_mean=%.6g steady_total=%.6g "
        "steady_median=%.6g steady_seconds=%.6g",
        device, number, TEST_NAMES[number - 1], r.steady.mean_of_rates, r.steady.total_rate,
        r.steady.median_rate, r.steady.total_seconds);
    if (r.has_events) {
        std::printf(" event_mean=%.6g event_total=%.6g event_median=%.6g", r.events.mean_of_rates,
                    r.events.total_rate, r.events.median_rate);
    } else {
        std::printf(" event_mean=- event_total=- event_median=-");
    }
    std::printf(" data=%s\n", r.data_ok ? "ok" : "MISMATCH");
}

std::string read_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The one-direction rate of a PCIe link, in GB/s: 8b/10b coding up to 5 GT/s, 128b/130b after.
double link_rate(double transfers_gt_s, int lanes) {
    const double coding = transfers_gt_s < 8.0 ? 8.0 / 10.0 : 128.0 / 130.0;
    return transfers_gt_s * 1e9 * coding * lanes / 8.0 / BYTES_PER_GB;
}

// The link as it is now and at most, where Linux exposes it; the limit is the maximum's rate.
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
    const double speed = std::atof(read_line(base + "current_link_speed").c_str());
    const int width = std::atoi(read_line(base + "current_link_width").c_str());
    const double max_speed = std::atof(read_line(base + "max_link_speed").c_str());
    const int max_width = std::atoi(read_line(base + "max_link_width").c_str());
    std::printf(
        "device %d pci=%s link_speed_gt_s=%g link_width=%d max_link_speed_gt_s=%g "
        "max_link_width=%d",
        device, id.c_str(), speed, width, max_speed, max_width);
    if (max_speed > 0.0 && max_width > 0) {
        std::printf(" link_limit=%.6g\n", link_rate(max_speed, max_width));
    } else {
        std::printf(" link_limit=unknown\n");
    }
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

// The benchmark's plan for one device. Tests 1 and 2 are proved together: the host block is
// overwritten between them, so it holds its first pattern again only if the pattern went to
// the device and came back; tests 5 and 6 likewise on the page-locked block.
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
    print_memory_peak(device);
    std::fflush(stdout);

    cudaEvent_t start = nullptr;
    cudaEvent_t stop = nullptr;
    CHECK(cudaEventCreate(&start));
    CHECK(cudaEventCreate(&stop));
    const std::uint64_t seed = 0x5EED0000ULL + static_cast<std::uint64_t>(device) * 16;
    test_result results[TEST_COUNT];

    void* host_a = host_block(seed + 1);
    void* device_a = nullptr;
    CHECK(cudaMalloc(&device_a, BLOCK_SIZE_BYTES));
    results[0] = time_test({device_a, host_a, cudaMemcpyHostToDevice, false}, start, stop);
    fill(host_a, seed + 2);
    results[1] = time_test({host_a, device_a, cudaMemcpyDeviceToHost, false}, start, stop);
    results[0].data_ok = results[1].data_ok = holds(host_a, seed + 1);

    void* host_b = host_block(seed + 3);
    results[2] = time_test({host_a, host_b, cudaMemcpyHostToHost, false}, start, stop);
    results[2].data_ok = holds(host_a, seed + 3);

    void* device_b = nullptr;
    CHECK(cudaMalloc(&device_b, BLOCK_SIZE_BYTES));
    fill(host_b, seed + 4);
    CHECK(cudaMemcpy(device_b, host_b, BLOCK_SIZE_BYTES, cudaMemcpyHostToDevice));
    results[3] = time_test({device_a, device_b, cudaMemcpyDeviceToDevice, true}, start, stop);
    CHECK(cudaMemcpy(host_a, device_a, BLOCK_SIZE_BYTES, cudaMemcpyDeviceToHost));
    results[3].data_ok = holds(host_a, seed + 4);

    std::free(host_a);
    std::free(host_b);
    CHECK(cudaFree(device_b));
    void* pinned = nullptr;
    CHECK(cudaMallocHost(&pinned, BLOCK_SIZE_BYTES));
    fill(pinned, seed + 5);
    results[4] = time_test({device_a, pinned, cudaMemcpyHostToDevice, true}, start, stop);
    fill(pinned, seed + 6);
    results[5] = time_test({pinned, device_a, cudaMemcpyDeviceToHost, true}, start, stop);
    results[4].data_ok = results[5].data_ok = holds(pinned, seed + 5);
    CHECK(cudaFreeHost(pinned));
    CHECK(cudaFree(device_a));
    CHECK(cudaEventDestroy(start));
    CHECK(cudaEventDestroy(stop));

    bool all_ok = true;
    for (int test = 0; test < TEST_COUNT; ++test) {
        print_result(device, test + 1, results[test]);
        all_ok &= results[test].data_ok;
    }
    print_link(device);
    std::fflush(stdout);
    return all_ok;
}

}  // namespace

int main() {
    const clock_type::time_point started = clock_type::now();
    const std::uint64_t first_tick = read_tick_counter();
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
    const std::uint64_t last_tick = read_tick_counter();
    const double seconds = std::chrono::duration<double>(clock_type::now() - started).count();
    std::printf("counter_rate_ghz=%.9g over_seconds=%.3f\n",
                static_cast<double>(last_tick - first_tick) / seconds / 1e9, seconds);
    if (!all_arrived) {
        std::printf("crosscheck: data mismatch: some copies did not move the data\n");
        return 1;
    }
    return 0;
}
