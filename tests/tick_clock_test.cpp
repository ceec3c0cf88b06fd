// The tick arithmetic and the calibration, driven by the fake counter and sleep.

#include "tick_clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>

#include "fake_platform.hpp"

namespace {

struct difference_case {
    const char* name;
    std::uint64_t start;
    std::uint64_t end;
    float expected;
};

std::ostream& operator<<(std::ostream& out, const difference_case& c) { return out << c.name; }

constexpr std::uint64_t TOP = std::numeric_limits<std::uint64_t>::max();

const difference_case DIFFERENCES[] = {
    {"exact_below_2_to_24", 1000, 1000 + 16777215, 16777215.0F},
    {"low_bits_lost_above_2_to_24", 5, 5 + 123456789, 123456792.0F},
    {"ties_round_to_even", 0, 16777217, 16777216.0F},
    {"counter_wraps", TOP - 9, 50, 60.0F},
    {"equal_readings", 42, 42, 0.0F},
    {"counter_stepped_back", 100, 40, -60.0F},
};

class tick_difference_of : public testing::TestWithParam<difference_case> {};

TEST_P(tick_difference_of, rounds_the_signed_count_to_the_nearest_float) {
    const difference_case& c = GetParam();
    EXPECT_EQ(tick_difference(c.start, c.end), c.expected);
}

INSTANTIATE_TEST_SUITE_P(cases, tick_difference_of, testing::ValuesIn(DIFFERENCES),
                         [](const testing::TestParamInfo<difference_case>& info) {
                             return std::string(info.param.name);
                         });

struct calibration_case {
    const char* name;
    std::uint64_t ticks_across_sleep;
    float expected_rate;
    const char* expected_line;
};

std::ostream& operator<<(std::ostream& out, const calibration_case& c) { return out << c.name; }

const calibration_case CALIBRATIONS[] = {
    {"three_ghz_drops_trailing_zeros", 3000000000, 3000000000.0F, "CPU frequency is... 3 GHz\n\n"},
    {"rate_rounded_to_float", 123456789, 123456792.0F, "CPU frequency is... 0.123457 GHz\n\n"},
    {"six_significant_digits", 2893456789, 2893456896.0F, "CPU frequency is... 2.89346 GHz\n\n"},
    {"no_ticks", 0, 0.0F, "CPU frequency is... 0 GHz\n\n"},
};

class calibration : public testing::TestWithParam<calibration_case> {};

TEST_P(calibration, counts_ticks_across_one_second_of_sleep) {
    const calibration_case& c = GetParam();
    std::ostringstream output;
    std::string written_before_sleep;
    fake::script plan;
    plan.first_tick = 0xFFFFFFFF00000000;
    plan.ticks_per_sleep = c.ticks_across_sleep;
    plan.on_sleep = [&] { written_before_sleep = output.str(); };
    fake::reset(plan);
    std::streambuf* const saved = std::cout.rdbuf(output.rdbuf());
    const float rate = calibrate_clock();
    std::cout.rdbuf(saved);

    EXPECT_EQ(rate, c.expected_rate);
    EXPECT_EQ(output.str(), c.expected_line);
    EXPECT_EQ(written_before_sleep, "CPU frequency is... ");
    EXPECT_EQ(fake::summary(), (std::vector<std::string>{"timed{sleep_milliseconds(1000)}"}));
}

INSTANTIATE_TEST_SUITE_P(cases, calibration, testing::ValuesIn(CALIBRATIONS),
                         [](const testing::TestParamInfo<calibration_case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
