#include "tick_counter.hpp"

#include <x86intrin.h>

#include <chrono>
#include <thread>

std::uint64_t read_tick_counter() { return __rdtsc(); }

void sleep_milliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
