#include "tick_counter.hpp"

#if defined(_MSC_VER) && defined(_M_X64)
#include <intrin.h>
#elif defined(__x86_64__)
#include <x86intrin.h>
#elif !defined(__aarch64__)
#error "no tick counter for this architecture (read_tick_counter knows RDTSC and CNTVCT_EL0)"
#endif

#if defined(_WIN32)
#include <windows.h>  // Sleep, and timeBeginPeriod through mmsystem.h
#else
#include <chrono>
#include <thread>
#endif

std::uint64_t read_tick_counter() {
#if defined(__aarch64__)
    std::uint64_t ticks = 0;
    asm volatile("mrs %0, cntvct_el0" : "=r"(ticks));
    return ticks;
#else
    return __rdtsc();
#endif
}

#if defined(_WIN32)

// The default timer tick of about 15.6 ms would stretch the sleep by up to that much; 1 ms
// resolution for the length of the sleep keeps the overshoot to a fraction of a millisecond.
void sleep_milliseconds(unsigned milliseconds) {
    constexpr UINT TIMER_RESOLUTION_MS = 1;
    const bool resolution_raised = timeBeginPeriod(TIMER_RESOLUTION_MS) == TIMERR_NOERROR;
    Sleep(milliseconds);
    if (resolution_raised) {
        timeEndPeriod(TIMER_RESOLUTION_MS);
    }
}

#else

void sleep_milliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

#endif
