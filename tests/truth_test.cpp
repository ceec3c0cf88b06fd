// The whole report on real memory, timed by the real counter calibrated by the real sleep, held
// against steady_clock's view of the very same copies: every printed figure must be the mean of
// the per-copy rates that an independent clock saw, and the program must add next to nothing
// around its copies.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <numeric>
#include <string>
#include <vector>

#include "bandwidth_tests.hpp"
#include "cpu_runtime.hpp"
#include "report_capture.hpp"
#include "report_grammar.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr double FIGURE_BAND = 0.01;
constexpr double OVERHEAD_LIMIT_SECONDS = 0.5;
constexpr int TEST_COUNT = 6;
constexpr const char* TEST_NAMES[TEST_COUNT] = {"H->D", "D->H",        "H->H",
                                                "D->D", "H->D pinned", "D->H pinned"};

struct real_run {
    std::string report;
    int status = -1;
    double seconds = 0.0;
    double seconds_to_count_query = 0.0;
    double seconds_managing_memory = 0.0;
    std::vector<double> copy_seconds;
    std::vector<long long> resident_growth_bytes;
};

// One complete run, shared by the tests below: it copies 60 GB and takes several seconds.
const real_run& the_run() {
    static const real_run run = [] {
        real_run r;
        std::ostringstream output;
        cpu_runtime::reset();
        const clock_type::time_point started = clock_type::now();
        const captured_run captured = run_report(output);
        const clock_type::time_point ended = clock_type::now();
        r.report = captured.report;
        r.status = captured.status;
        r.seconds = std::chrono::duration<double>(ended - started).count();
        r.seconds_to_count_query =
            std::chrono::duration<double>(cpu_runtime::time_to_count_query()).count();
        r.seconds_managing_memory =
            std::chrono::duration<double>(cpu_runtime::time_managing_memory()).count();
        r.copy_seconds = cpu_runtime::copy_seconds();
        r.resident_growth_bytes = cpu_runtime::resident_growth_bytes();
        return r;
    }();
    return run;
}

double rate_gb_per_second(double seconds) {
    return static_cast<double>(BLOCK_SIZE_BYTES) / seconds / BYTES_PER_GB;
}

std::string signed_percent(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.3f%%", ratio * 100.0);
    return text;
}

TEST(truth, every_figure_is_the_mean_of_the_rates_an_independent_clock_saw) {
    const real_run& run = the_run();
    const report_grammar::report parsed = report_grammar::parse(run.report);
    ASSERT_EQ(parsed.problem, "") << run.report;
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(parsed.devices.size(), 1U);
    ASSERT_TRUE(parsed.devices[0].complete()) << run.report;
    ASSERT_EQ(parsed.devices[0].averages.size(), static_cast<std::size_t>(TEST_COUNT));
    ASSERT_EQ(run.copy_seconds.size(), static_cast<std::size_t>(TEST_COUNT * REPETITIONS))
        << "the stand-in did not see every copy";

    std::string deviations;
    for (int test = 0; test < TEST_COUNT; ++test) {
        double sum = 0.0;
        for (int copy = 0; copy < REPETITIONS; ++copy) {
            sum += rate_gb_per_second(run.copy_seconds[test * REPETITIONS + copy]);
        }
        const double steady_mean = sum / REPETITIONS;
        const double printed = std::stod(parsed.devices[0].averages[test]);
        const double deviation = printed / steady_mean - 1.0;
        EXPECT_LT(std::fabs(deviation), FIGURE_BAND)
            << TEST_NAMES[test] << ": printed " << printed << " GB/s, steady_clock saw "
            << steady_mean << " GB/s";
        deviations +=
            std::string(test == 0 ? "" : " ") + TEST_NAMES[test] + " " + signed_percent(deviation);
    }

    const double copying = std::accumulate(run.copy_seconds.begin(), run.copy_seconds.end(), 0.0);
    const double overhead =
        run.seconds - run.seconds_to_count_query - copying - run.seconds_managing_memory;
    EXPECT_LT(overhead, OVERHEAD_LIMIT_SECONDS)
        << "the run took " << run.seconds << " s, of which " << run.seconds_to_count_query
        << " s before the count, " << copying << " s copying and " << run.seconds_managing_memory
        << " s allocating, filling and releasing";

    std::cout << "truth test: " << deviations << "; CPU frequency " << parsed.frequency
              << " GHz; overhead " << overhead << " s (calibration " << run.seconds_to_count_query
              << " s, copies " << copying << " s, memory " << run.seconds_managing_memory
              << " s)\n";
}

// A block that was only ever read could sit on the shared zero page; the resident set grows by
// a whole block at each host allocation only if every page of it is real memory.
TEST(truth, every_pageable_host_block_is_real_memory_before_its_first_copy) {
    const real_run& run = the_run();
    if (!cpu_runtime::resident_set_known()) {
        GTEST_SKIP() << "this platform does not report the resident set";
    }
    ASSERT_EQ(run.resident_growth_bytes.size(), 2U);
    for (const long long growth : run.resident_growth_bytes) {
        EXPECT_GE(growth, static_cast<long long>(BLOCK_SIZE_BYTES));
    }
}

}  // namespace
