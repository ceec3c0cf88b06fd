#include "tick_clock.hpp"

#include <iostream>

#include "tick_counter.hpp"

float tick_difference(std::uint64_t start, std::uint64_t end) {
    return static_cast<float>(static_cast<std::int64_t>(end - start));
}

float calibrate_clock() {
    std::cout << "CPU frequency is... ";
    const std::uint64_t start = read_tick_counter();
    sleep_milliseconds(CALIBRATION_SLEEP_MS);
    const std::uint64_t end = read_tick_counter();
    const float ticks_per_second = tick_difference(start, end);
    std::cout << static_cast<double>(ticks_per_second) / TICKS_PER_GHZ << " GHz\n\n";
    return ticks_per_second;
}
