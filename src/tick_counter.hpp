// The processor's time-stamp counter and the sleep used to calibrate it.
//
// read_tick_counter is a bare RDTSC: no fence orders it against the instructions around it and
// the thread is not pinned to a core, so two readings are only comparable when the counter is
// invariant and synchronised across cores. Nothing here converts ticks to time.
#pragma once

#include <cstdint>

std::uint64_t read_tick_counter();

// Suspends the calling thread for at least the given time; the overshoot is not reported.
void sleep_milliseconds(unsigned milliseconds);
