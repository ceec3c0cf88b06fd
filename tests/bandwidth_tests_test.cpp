// The timed loop's arithmetic and the device plan's calls, read from the fake's journal.

#include "bandwidth_tests.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_platform.hpp"
#include "report_capture.hpp"

namespace {

void* const FAKE_DESTINATION = reinterpret_cast<void*>(std::uintptr_t{0x1000});
void* const FAKE_SOURCE = reinterpret_cast<void*>(std::uintptr_t{0x2000});

cudaError_t fake_copy() {
    return cudaMemcpy(FAKE_DESTINATION, FAKE_SOURCE, BLOCK_SIZE_BYTES, cudaMemcpyDeviceToDevice);
}

struct loop_case {
    const char* name;
    std::vector<std::uint64_t> ticks_per_copy;
    const char* expected_average;
};

std::ostream& operator<<(std::ostream& out, const loop_case& c) { return out << c.name; }

std::vector<std::uint64_t> slow_first_copy() {
    std::vector<std::uint64_t> ticks(REPETITIONS, 60000000);
    ticks[0] = 600000000;
    return ticks;
}

const loop_case LOOPS[] = {
    {"worked_figure", {60000000}, "4.88281"},
    {"equal_readings_give_infinity", {0}, "inf"},
    {"mean_of_rates_not_bytes_over_time", {30000000, 90000000}, "6.51042"},
    {"first_copy_is_counted", slow_first_copy(), "4.83887"},
    // 60000092 / 3e9 is 0.0200000307 in double precision but 0.0200000312 in single, which
    // moves the sixth digit: seconds must be a float.
    {"seconds_in_single_precision", {60000092}, "4.8828"},
};

class timed_loop : public testing::TestWithParam<loop_case> {};

TEST_P(timed_loop, prints_the_mean_of_the_per_copy_rates) {
    const loop_case& c = GetParam();
    fake::script plan;
    plan.first_tick = 0xFFFFFFFFF0000000;  // the counter wraps during the loop
    plan.ticks_per_copy = c.ticks_per_copy;
    fake::reset(plan);
    bool completed = false;
    const std::string output = capture_output(
        [&] { completed = time_copies("Heading\n", fake_copy, false, 3000000000.0F); });

    EXPECT_TRUE(completed);
    EXPECT_EQ(output,
              std::string("Heading\nAverage bandwidth = ") + c.expected_average + " GB/s\n\n");
    EXPECT_EQ(fake::summary(),
              (std::vector<std::string>{"100 x timed{cudaMemcpy(unknown@0x1000, unknown@0x2000, "
                                        "104857600, 3)}"}));
}

INSTANTIATE_TEST_SUITE_P(cases, timed_loop, testing::ValuesIn(LOOPS),
                         [](const testing::TestParamInfo<loop_case>& info) {
                             return std::string(info.param.name);
                         });

TEST(timed_loop, failed_copy_ends_the_loop_after_the_counter_is_read) {
    fake::script plan;
    plan.failures = {{"cudaMemcpy", 37, cudaErrorLaunchFailure}};
    fake::reset(plan);
    bool completed = true;
    const std::string output = capture_output(
        [&] { completed = time_copies("Heading\n", fake_copy, true, 3000000000.0F); });

    EXPECT_FALSE(completed);
    EXPECT_EQ(output, "Heading\nError occured: unspecified launch failure (719)\n\n");
    EXPECT_EQ(fake::summary(),
              (std::vector<std::string>{
                  "36 x timed{cudaMemcpy(unknown@0x1000, unknown@0x2000, 104857600, 3); "
                  "cudaDeviceSynchronize()}",
                  "timed{cudaMemcpy(unknown@0x1000, unknown@0x2000, 104857600, 3) -> error 719; "
                  "cudaDeviceSynchronize()}",
                  "cudaGetErrorString(719)"}));
}

// One device's whole plan: allocation order, each copy's destination, source, size and kind,
// which tests wait for the device, 100 copies per test with nothing else inside the timed spans,
// and the releases.
TEST(device_plan, makes_exactly_these_calls_in_this_order) {
    fake::script plan;
    plan.device_names = {"Alpha"};
    capture_report(plan);
    EXPECT_EQ(fake::summary(),
              (std::vector<std::string>{
                  "timed{sleep_milliseconds(1000)}",
                  "cudaGetDeviceCount()",
                  "cudaGetLastError()",
                  "cudaSetDevice(0)",
                  "cudaGetDeviceProperties(0)",
                  "malloc(104857600) -> host1",
                  "fill(host1, 104857600)",
                  "cudaMalloc(104857600) -> dev1",
                  "100 x timed{cudaMemcpy(dev1, host1, 104857600, 1)}",
                  "100 x timed{cudaMemcpy(host1, dev1, 104857600, 2)}",
                  "malloc(104857600) -> host2",
                  "fill(host2, 104857600)",
                  "100 x timed{memcpy(host1, host2, 104857600)}",
                  "cudaMalloc(104857600) -> dev2",
                  "100 x timed{cudaMemcpy(dev1, dev2, 104857600, 3); cudaDeviceSynchronize()}",
                  "free(host1)",
                  "free(host2)",
                  "cudaFree(dev2)",
                  "cudaMallocHost(104857600) -> pinned1",
                  "100 x timed{cudaMemcpy(dev1, pinned1, 104857600, 1); cudaDeviceSynchronize()}",
                  "100 x timed{cudaMemcpy(pinned1, dev1, 104857600, 2); cudaDeviceSynchronize()}",
                  "cudaFreeHost(pinned1)",
                  "cudaFree(dev1)",
              }));
}

// Each pageable block is written once, after "RAM allocating... " and before its "OK", so the
// write lies outside every timed span and no copy reads a page that was never written.
TEST(device_plan, writes_each_pageable_block_between_its_allocation_and_its_ok) {
    fake::script plan;
    plan.device_names = {"Alpha"};
    const captured_run run = capture_report(plan);

    std::vector<std::string> filled;
    const std::vector<fake::call>& calls = fake::journal();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].function != "fill") {
            continue;
        }
        filled.push_back(calls[i].text);
        ASSERT_GT(i, 0U);
        EXPECT_EQ(calls[i - 1].function, "malloc") << "the fill does not follow its allocation";
        // The report around the fill: its allocation message before it, the "OK" after it.
        const std::string prompt = "RAM allocating... ";
        const std::size_t at = calls[i].output_position;
        ASSERT_GE(at, prompt.size()) << calls[i].text;
        EXPECT_EQ(run.report.substr(at - prompt.size(), prompt.size() + 2), prompt + "OK")
            << calls[i].text;
    }
    EXPECT_EQ(filled,
              (std::vector<std::string>{"fill(host1, 104857600)", "fill(host2, 104857600)"}));
}

struct cleanup_case {
    const char* name;
    fake::failure failure;
    std::vector<std::string> releases;  // every release after the failure, in order
};

std::ostream& operator<<(std::ostream& out, const cleanup_case& c) { return out << c.name; }

const cleanup_case CLEANUPS[] = {
    {"first_host_block_missing", {"malloc", 1, cudaErrorMemoryAllocation}, {}},
    {"first_device_block_missing", {"cudaMalloc", 1, cudaErrorMemoryAllocation}, {"free(host1)"}},
    {"during_test_2",
     {"cudaMemcpy", 150, cudaErrorLaunchFailure},
     {"free(host1)", "cudaFree(dev1)"}},
    {"second_host_block_missing",
     {"malloc", 2, cudaErrorMemoryAllocation},
     {"free(host1)", "cudaFree(dev1)"}},
    {"during_test_4",
     {"cudaDeviceSynchronize", 1, cudaErrorLaunchFailure},
     {"free(host1)", "free(host2)", "cudaFree(dev1)", "cudaFree(dev2)"}},
    {"releasing_before_page_locked_tests",
     {"cudaFree", 1, cudaErrorLaunchFailure},
     {"cudaFree(dev1)"}},
    {"page_locked_block_missing",
     {"cudaMallocHost", 1, cudaErrorMemoryAllocation},
     {"cudaFree(dev1)"}},
    {"during_test_6",
     {"cudaMemcpy", 450, cudaErrorLaunchFailure},
     {"cudaFreeHost(pinned1)", "cudaFree(dev1)"}},
    {"final_page_locked_release", {"cudaFreeHost", 1, cudaErrorLaunchFailure}, {"cudaFree(dev1)"}},
};

class device_plan_cleanup : public testing::TestWithParam<cleanup_case> {};

TEST_P(device_plan_cleanup, releases_what_is_held_once_and_through_the_right_call) {
    const cleanup_case& c = GetParam();
    fake::script plan;
    plan.device_names = {"Alpha"};
    plan.failures = {c.failure};
    capture_report(plan);

    std::vector<std::string> releases;
    bool failed = false;
    int uses = 0;
    for (const fake::call& call : fake::journal()) {
        if (call.function == c.failure.function && ++uses == c.failure.nth) {
            failed = true;
            continue;
        }
        const bool release = call.function == "free" || call.function == "cudaFree" ||
                             call.function == "cudaFreeHost";
        if (failed && release) {
            releases.push_back(call.text);
        }
        EXPECT_FALSE(failed && (call.function == "cudaMemcpy" || call.function == "memcpy" ||
                                call.function == "malloc" || call.function == "cudaMalloc"))
            << "the plan went on after the failure: " << call.text;
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(releases, c.releases);
    EXPECT_TRUE(fake::held_blocks().empty());
    EXPECT_TRUE(fake::misuse().empty()) << testing::PrintToString(fake::misuse());
}

INSTANTIATE_TEST_SUITE_P(failures, device_plan_cleanup, testing::ValuesIn(CLEANUPS),
                         [](const testing::TestParamInfo<cleanup_case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
