// Whole reports, byte for byte, for each path through the driver and the device tests.

#include "benchmark.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.hpp"
#include "report_capture.hpp"
#include "report_texts.hpp"

namespace {

using namespace texts;

const std::string OOM = "Error occured: out of memory (2)\n\n";
const std::string INVALID = "Error occured: invalid argument (1)\n\n";
const std::string LAUNCH = "Error occured: unspecified launch failure (719)\n\n";
const std::string BUSY =
    "Error occured: CUDA-capable device(s) is/are busy or unavailable (46)\n\n";
const std::string HEAD = BANNER + FREQUENCY_3_GHZ;
// Device 1 runs cleanly after whatever happened to device 0.
const std::string THEN_BETA = device_line(1, "Beta") + FULL_BLOCK + "Done";

struct scenario {
    std::string name;
    std::vector<std::string> devices;
    std::vector<fake::failure> failures;
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const scenario& s) { return out << s.name; }

const std::string NAME_255(255, 'n');
const std::string NAME_256(256, 'w');

const scenario SCENARIOS[] = {
    {"no_device", {}, {}, HEAD + count_line(0) + "Done"},
    {"count_error",
     {"Alpha"},
     {{"cudaGetDeviceCount", 1, cudaErrorInsufficientDriver}},
     HEAD + count_line(0) +
         "Error occured: CUDA driver version is insufficient for CUDA runtime version (35)"},
    {"last_error_after_count",
     {"Alpha"},
     {{"cudaGetLastError", 1, cudaErrorNoDevice}},
     HEAD + count_line(1) + "Error occured: no CUDA-capable device is detected (100)"},
    {"one_device",
     {"Alpha"},
     {},
     HEAD + count_line(1) + device_line(0, "Alpha") + FULL_BLOCK + "Done"},
    {"two_devices",
     {"Alpha", "Beta"},
     {},
     HEAD + count_line(2) + device_line(0, "Alpha") + FULL_BLOCK + THEN_BETA},
    {"long_name_printed_whole",
     {NAME_255},
     {},
     HEAD + count_line(1) + device_line(0, NAME_255) + FULL_BLOCK + "Done"},
    {"unterminated_name_stops_at_its_array",
     {NAME_256},
     {},
     HEAD + count_line(1) + device_line(0, NAME_256) + FULL_BLOCK + "Done"},
    {"stale_name_cleared_between_queries",
     {"Longer Name", "Short"},
     {},
     HEAD + count_line(2) + device_line(0, "Longer Name") + FULL_BLOCK + device_line(1, "Short") +
         FULL_BLOCK + "Done"},
    {"set_device_fails",
     {"Alpha", "Beta"},
     {{"cudaSetDevice", 1, cudaErrorDevicesUnavailable}},
     HEAD + count_line(2) + device_line(0, "Alpha") + BUSY + THEN_BETA},
    {"properties_fail",
     {"Alpha", "Beta"},
     {{"cudaGetDeviceProperties", 1, cudaErrorInvalidDevice}},
     HEAD + count_line(2) + device_line(0, "") + "Error occured: invalid device ordinal (101)\n\n" +
         THEN_BETA},
    {"set_and_properties_fail_first_is_reported",
     {"Alpha", "Beta"},
     {{"cudaSetDevice", 1, cudaErrorDevicesUnavailable},
      {"cudaGetDeviceProperties", 1, cudaErrorInvalidDevice}},
     HEAD + count_line(2) + device_line(0, "") + BUSY + THEN_BETA},
    {"first_host_allocation_fails",
     {"Alpha", "Beta"},
     {{"malloc", 1, cudaErrorMemoryAllocation}},
     HEAD + count_line(2) + device_line(0, "Alpha") + "RAM allocating... " + OOM + THEN_BETA},
    {"first_device_allocation_fails",
     {"Alpha", "Beta"},
     {{"cudaMalloc", 1, cudaErrorMemoryAllocation}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + "GPU global RAM allocating... " +
         OOM + THEN_BETA},
    {"first_copy_of_test_1_fails",
     {"Alpha", "Beta"},
     {{"cudaMemcpy", 1, cudaErrorInvalidValue}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A +
         "Copying Host -> Device\n" + INVALID + THEN_BETA},
    {"copy_in_test_2_fails",
     {"Alpha", "Beta"},
     {{"cudaMemcpy", 150, cudaErrorLaunchFailure}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 +
         "Copying Device -> Host\n" + LAUNCH + THEN_BETA},
    {"second_host_allocation_fails",
     {"Alpha", "Beta"},
     {{"malloc", 2, cudaErrorMemoryAllocation}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 +
         "RAM allocating... " + OOM + THEN_BETA},
    {"second_device_allocation_fails",
     {"Alpha", "Beta"},
     {{"cudaMalloc", 2, cudaErrorMemoryAllocation}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + "GPU global RAM allocating... " + OOM + THEN_BETA},
    {"copy_in_test_4_fails",
     {"Alpha", "Beta"},
     {{"cudaMemcpy", 201, cudaErrorIllegalAddress}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + DEVICE_B + "Copying Device -> Device\n" +
         "Error occured: an illegal memory access was encountered (700)\n\n" + THEN_BETA},
    {"wait_in_test_4_fails",
     {"Alpha", "Beta"},
     {{"cudaDeviceSynchronize", 50, cudaErrorLaunchFailure}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + DEVICE_B + "Copying Device -> Device\n" + LAUNCH + THEN_BETA},
    {"release_before_page_locked_tests_fails",
     {"Alpha", "Beta"},
     {{"cudaFree", 1, cudaErrorLaunchFailure}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + DEVICE_B + TEST_4 + LAUNCH + THEN_BETA},
    {"page_locked_allocation_fails",
     {"Alpha", "Beta"},
     {{"cudaMallocHost", 1, cudaErrorMemoryAllocation}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + DEVICE_B + TEST_4 + "Copying Host -> Device (using page-locked)\n" + OOM +
         THEN_BETA},
    {"copy_in_test_5_fails",
     {"Alpha", "Beta"},
     {{"cudaMemcpy", 400, cudaErrorInvalidValue}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + DEVICE_B + TEST_4 + "Copying Host -> Device (using page-locked)\n" + INVALID +
         THEN_BETA},
    {"wait_in_test_6_fails",
     {"Alpha", "Beta"},
     {{"cudaDeviceSynchronize", 300, cudaErrorLaunchFailure}},
     HEAD + count_line(2) + device_line(0, "Alpha") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + DEVICE_B + TEST_4 + TEST_5 + "Copying Device -> Host (using page-locked)\n" +
         LAUNCH + THEN_BETA},
    {"final_page_locked_release_fails",
     {"Alpha", "Beta"},
     {{"cudaFreeHost", 1, cudaErrorLaunchFailure}},
     HEAD + count_line(2) + device_line(0, "Alpha") + FULL_BLOCK + LAUNCH + THEN_BETA},
    {"final_device_release_fails",
     {"Alpha", "Beta"},
     {{"cudaFree", 2, cudaErrorLaunchFailure}},
     HEAD + count_line(2) + device_line(0, "Alpha") + FULL_BLOCK + LAUNCH + THEN_BETA},
    {"failure_on_the_last_device",
     {"Alpha", "Beta"},
     {{"cudaMalloc", 3, cudaErrorMemoryAllocation}},
     HEAD + count_line(2) + device_line(0, "Alpha") + FULL_BLOCK + device_line(1, "Beta") + HOST_A +
         "GPU global RAM allocating... " + OOM + "Done"},
};

class whole_report : public testing::TestWithParam<scenario> {};

TEST_P(whole_report, matches_byte_for_byte_and_releases_everything) {
    const scenario& s = GetParam();
    fake::script plan;
    plan.device_names = s.devices;
    plan.failures = s.failures;
    const captured_run run = capture_report(plan, "xy");

    EXPECT_EQ(run.report, s.expected);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.unread_input, "y") << "exactly one character is read at the end";
    EXPECT_TRUE(fake::held_blocks().empty());
    EXPECT_TRUE(fake::misuse().empty()) << testing::PrintToString(fake::misuse());
    for (const std::string& held : fake::held_at_set_device()) {
        EXPECT_EQ(held, "") << "blocks still held when the next device was selected";
    }
}

INSTANTIATE_TEST_SUITE_P(paths, whole_report, testing::ValuesIn(SCENARIOS),
                         [](const testing::TestParamInfo<scenario>& info) {
                             return info.param.name;
                         });

TEST(driver, does_not_describe_or_test_a_device_it_could_not_select) {
    fake::script plan;
    plan.device_names = {"Alpha", "Beta"};
    plan.failures = {{"cudaSetDevice", 1, cudaErrorDevicesUnavailable}};
    capture_report(plan);
    std::vector<std::string> after_first_selection;
    bool selected = false;
    for (const fake::call& c : fake::journal()) {
        if (c.function == "cudaSetDevice") {
            if (selected) {
                break;
            }
            selected = true;
        } else if (selected) {
            after_first_selection.push_back(c.text);
        }
    }
    EXPECT_EQ(after_first_selection,
              (std::vector<std::string>{"cudaGetDeviceProperties(0)", "cudaGetErrorString(46)"}));
}

TEST(driver, count_error_stops_before_any_device_is_touched) {
    fake::script plan;
    plan.device_names = {"Alpha"};
    plan.failures = {{"cudaGetDeviceCount", 1, cudaErrorInsufficientDriver}};
    capture_report(plan);
    for (const fake::call& c : fake::journal()) {
        EXPECT_NE(c.function, "cudaSetDevice");
        EXPECT_NE(c.function, "malloc");
    }
}

}  // namespace
