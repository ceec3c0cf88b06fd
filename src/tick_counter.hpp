// The processor's free-running counter and the sleep used to calibrate it.
//
// On x86-64 the counter is the time-stamp counter, read with a bare RDTSC; on aarch64 it is the
// generic timer's virtual count (CNTVCT_EL0), read with a single MRS. No fence orders either read
// against the instructions around it and the thread is not pinned to a core, so two readings are
// only comparable when the counter is invariant and synchronised across cores. The counter's
// rate is whatever the platform fixed: the invariant TSC's nominal rate on x86-64, the generic
// timer's frequency on aarch64. Nothing here converts ticks to time.
#pragma once

#include <cstdint>

std::uint64_t read_tick_counter();

// Suspends the calling thread for at least the given time; the overshoot is not reported.
void sleep_milliseconds(unsigned milliseconds);
