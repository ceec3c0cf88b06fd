// Tick arithmetic and the one-off calibration of the tick rate.
//
// The calibration counts ticks across one nominal second of sleep and does not correct for the
// sleep's overshoot: a sleep that lasts longer inflates the rate, and so every bandwidth derived
// from it, by the same ratio.
#pragma once

#include <cstdint>

constexpr unsigned CALIBRATION_SLEEP_MS = 1000;
constexpr double TICKS_PER_GHZ = 1000000000.0;

// end - start with 64-bit wrap-around, read as a signed count and rounded to the nearest float.
float tick_difference(std::uint64_t start, std::uint64_t end);

// Writes the "CPU frequency is... " line and returns the ticks counted across the sleep.
float calibrate_clock();
