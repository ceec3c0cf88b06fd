#include "fake_platform.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include "host_memory.hpp"
#include "runtime_error_texts.hpp"
#include "tick_counter.hpp"

namespace fake {
namespace {

constexpr std::uint64_t DEFAULT_TICKS_PER_COPY = 60000000;

struct block {
    std::string label;
    std::string owner;  // the function that must release it
};

struct state {
    script plan;
    std::vector<call> calls;
    std::map<std::string, int> uses;
    std::map<std::uintptr_t, block> held;
    std::map<std::string, int> labels_given;
    std::vector<std::string> held_at_set_device;
    std::vector<std::string> misuse;
    std::uintptr_t next_address = 0x10000000;
    std::uint64_t now = 0;
    std::size_t copies = 0;
    cudaError_t last_error = cudaSuccess;
};

state& current() {
    static state instance;
    return instance;
}

// Counts the use and returns the scripted code for it.
cudaError_t enter(const std::string& function) {
    state& s = current();
    const int nth = ++s.uses[function];
    for (const failure& f : s.plan.failures) {
        if (f.function == function && f.nth == nth) {
            s.last_error = f.code;
            return f.code;
        }
    }
    return cudaSuccess;
}

void record(const std::string& function, const std::string& text) {
    const script& plan = current().plan;
    current().calls.push_back(
        {function, text, plan.output_position ? plan.output_position() : std::size_t{0}});
}

std::string result_text(cudaError_t code) {
    return code == cudaSuccess ? "" : " -> error " + std::to_string(static_cast<int>(code));
}

std::string label_of(const void* address) {
    if (address == nullptr) {
        return "null";
    }
    const auto found = current().held.find(reinterpret_cast<std::uintptr_t>(address));
    if (found == current().held.end()) {
        std::ostringstream text;
        text << "unknown@" << address;
        return text.str();
    }
    return found->second.label;
}

void* hand_out(const std::string& kind, const std::string& owner) {
    state& s = current();
    const std::uintptr_t address = s.next_address;
    s.next_address += 0x1000;
    s.held[address] = {kind + std::to_string(++s.labels_given[kind]), owner};
    return reinterpret_cast<void*>(address);
}

void take_back(const void* address, const std::string& owner) {
    state& s = current();
    if (address == nullptr) {
        s.misuse.push_back(owner + "(null)");
        return;
    }
    const auto found = s.held.find(reinterpret_cast<std::uintptr_t>(address));
    if (found == s.held.end()) {
        s.misuse.push_back(owner + " of an address that is not held");
        return;
    }
    if (found->second.owner != owner) {
        s.misuse.push_back(owner + " of " + found->second.label + ", which needs " +
                           found->second.owner);
    }
    s.held.erase(found);
}

void advance_for_copy() {
    state& s = current();
    const std::vector<std::uint64_t>& ticks = s.plan.ticks_per_copy;
    s.now += ticks.empty() ? DEFAULT_TICKS_PER_COPY : ticks[s.copies % ticks.size()];
    ++s.copies;
}

std::string held_text() {
    std::string text;
    for (const auto& [address, b] : current().held) {
        text += (text.empty() ? "" : " ") + b.label;
    }
    return text;
}

}  // namespace

void reset(const script& plan) {
    current() = state{};
    current().plan = plan;
    current().now = plan.first_tick;
}

const std::vector<call>& journal() { return current().calls; }

std::vector<std::string> held_blocks() {
    std::vector<std::string> labels;
    for (const auto& [address, b] : current().held) {
        labels.push_back(b.label);
    }
    return labels;
}

const std::vector<std::string>& held_at_set_device() { return current().held_at_set_device; }

const std::vector<std::string>& misuse() { return current().misuse; }

std::vector<std::string> summary() {
    std::vector<std::string> entries;
    const std::vector<call>& calls = current().calls;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        std::string entry = calls[i].text;
        if (calls[i].function == "read_tick_counter") {
            std::string inside;
            std::size_t j = i + 1;
            while (j < calls.size() && calls[j].function != "read_tick_counter") {
                inside += (inside.empty() ? "" : "; ") + calls[j].text;
                ++j;
            }
            if (j < calls.size()) {
                entry = "timed{" + inside + "}";
                i = j;
            }
        }
        entries.push_back(entry);
    }
    std::vector<std::string> collapsed;
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t run = 1;
        while (i + run < entries.size() && entries[i + run] == entries[i]) {
            ++run;
        }
        collapsed.push_back(run == 1 ? entries[i] : std::to_string(run) + " x " + entries[i]);
        i += run;
    }
    return collapsed;
}

}  // namespace fake

// ---- The tick counter and its sleep ----

std::uint64_t read_tick_counter() {
    fake::record("read_tick_counter", "read_tick_counter");
    return fake::current().now;
}

void sleep_milliseconds(unsigned milliseconds) {
    fake::record("sleep_milliseconds", "sleep_milliseconds(" + std::to_string(milliseconds) + ")");
    fake::state& s = fake::current();
    if (s.plan.on_sleep) {
        s.plan.on_sleep();
    }
    s.now += s.plan.ticks_per_sleep;
}

// ---- Host memory ----

void* allocate_host_block(std::size_t size_bytes) {
    const bool fails = fake::enter("malloc") != cudaSuccess;
    void* block = fails ? nullptr : fake::hand_out("host", "free");
    fake::record("malloc",
                 "malloc(" + std::to_string(size_bytes) + ") -> " + fake::label_of(block));
    return block;
}

void fill_host_block(void* block, std::size_t size_bytes) {
    fake::record("fill", "fill(" + fake::label_of(block) + ", " + std::to_string(size_bytes) + ")");
}

void release_host_block(void* block) {
    fake::record("free", "free(" + fake::label_of(block) + ")");
    fake::take_back(block, "free");
}

void copy_host_block(void* destination, const void* source, std::size_t size_bytes) {
    fake::record("memcpy", "memcpy(" + fake::label_of(destination) + ", " + fake::label_of(source) +
                               ", " + std::to_string(size_bytes) + ")");
    fake::advance_for_copy();
}

// ---- The CUDA runtime ----

extern "C" {

cudaError_t CUDARTAPI cudaGetDeviceCount(int* count) {
    const cudaError_t code = fake::enter("cudaGetDeviceCount");
    if (code == cudaSuccess) {
        *count = static_cast<int>(fake::current().plan.device_names.size());
    }
    fake::record("cudaGetDeviceCount", "cudaGetDeviceCount()" + fake::result_text(code));
    return code;
}

// Returns and clears the code of the last failure; a scripted failure of this call itself
// stands for an error the runtime noticed on its own.
cudaError_t CUDARTAPI cudaGetLastError(void) {
    fake::enter("cudaGetLastError");
    fake::state& s = fake::current();
    const cudaError_t code = s.last_error;
    s.last_error = cudaSuccess;
    fake::record("cudaGetLastError", "cudaGetLastError()" + fake::result_text(code));
    return code;
}

const char* CUDARTAPI cudaGetErrorString(cudaError_t error) {
    fake::record("cudaGetErrorString",
                 "cudaGetErrorString(" + std::to_string(static_cast<int>(error)) + ")");
    return runtime_error_text(error);
}

cudaError_t CUDARTAPI cudaSetDevice(int device) {
    fake::current().held_at_set_device.push_back(fake::held_text());
    const cudaError_t code = fake::enter("cudaSetDevice");
    fake::record("cudaSetDevice",
                 "cudaSetDevice(" + std::to_string(device) + ")" + fake::result_text(code));
    return code;
}

// The real runtime fills the whole record; this one writes only the name's characters, without
// a terminator, so a caller that does not clear the record first shows a stale tail. A failed
// query scribbles over the name.
cudaError_t CUDARTAPI cudaGetDeviceProperties(cudaDeviceProp* prop, int device) {
    const cudaError_t code = fake::enter("cudaGetDeviceProperties");
    const std::vector<std::string>& names = fake::current().plan.device_names;
    if (code != cudaSuccess) {
        std::memset(prop->name, 'X', sizeof prop->name);
    } else if (device >= 0 && static_cast<std::size_t>(device) < names.size()) {
        const std::string& name = names[static_cast<std::size_t>(device)];
        std::memcpy(prop->name, name.data(), std::min(name.size(), sizeof prop->name));
    }
    fake::record("cudaGetDeviceProperties", "cudaGetDeviceProperties(" + std::to_string(device) +
                                                ")" + fake::result_text(code));
    return code;
}

// A failed allocation leaves a wild value behind, as nothing promises otherwise.
cudaError_t CUDARTAPI cudaMalloc(void** devPtr, size_t size) {
    const cudaError_t code = fake::enter("cudaMalloc");
    *devPtr = code == cudaSuccess ? fake::hand_out("dev", "cudaFree")
                                  : reinterpret_cast<void*>(std::uintptr_t{0xdead0000});
    fake::record("cudaMalloc",
                 "cudaMalloc(" + std::to_string(size) + ") -> " +
                     (code == cudaSuccess ? fake::label_of(*devPtr)
                                          : "error " + std::to_string(static_cast<int>(code))));
    return code;
}

cudaError_t CUDARTAPI cudaMallocHost(void** ptr, size_t size) {
    const cudaError_t code = fake::enter("cudaMallocHost");
    *ptr = code == cudaSuccess ? fake::hand_out("pinned", "cudaFreeHost")
                               : reinterpret_cast<void*>(std::uintptr_t{0xdead0000});
    fake::record("cudaMallocHost",
                 "cudaMallocHost(" + std::to_string(size) + ") -> " +
                     (code == cudaSuccess ? fake::label_of(*ptr)
                                          : "error " + std::to_string(static_cast<int>(code))));
    return code;
}

cudaError_t CUDARTAPI cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind) {
    const cudaError_t code = fake::enter("cudaMemcpy");
    fake::record("cudaMemcpy", "cudaMemcpy(" + fake::label_of(dst) + ", " + fake::label_of(src) +
                                   ", " + std::to_string(count) + ", " +
                                   std::to_string(static_cast<int>(kind)) + ")" +
                                   fake::result_text(code));
    fake::advance_for_copy();
    return code;
}

cudaError_t CUDARTAPI cudaDeviceSynchronize(void) {
    const cudaError_t code = fake::enter("cudaDeviceSynchronize");
    fake::record("cudaDeviceSynchronize", "cudaDeviceSynchronize()" + fake::result_text(code));
    return code;
}

// A release that reports a failure still counts as a release: the caller cannot do more.
cudaError_t CUDARTAPI cudaFree(void* devPtr) {
    const cudaError_t code = fake::enter("cudaFree");
    fake::record("cudaFree", "cudaFree(" + fake::label_of(devPtr) + ")" + fake::result_text(code));
    fake::take_back(devPtr, "cudaFree");
    return code;
}

cudaError_t CUDARTAPI cudaFreeHost(void* ptr) {
    const cudaError_t code = fake::enter("cudaFreeHost");
    fake::record("cudaFreeHost",
                 "cudaFreeHost(" + fake::label_of(ptr) + ")" + fake::result_text(code));
    fake::take_back(ptr, "cudaFreeHost");
    return code;
}

}  // extern "C"
