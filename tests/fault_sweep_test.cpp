// Fails every runtime call and host allocation of a clean two-device run, one position at a time,
// and checks that each report still says exactly what happened and that nothing is left held.

#include <gtest/gtest.h>

#include <cstddef>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "fake_platform.hpp"
#include "report_capture.hpp"
#include "report_grammar.hpp"

namespace {

// A code that the runtime really returns from each call that can fail.
const std::map<std::string, cudaError_t> REALISTIC_CODES = {
    {"cudaGetDeviceCount", cudaErrorInsufficientDriver},
    {"cudaGetLastError", cudaErrorNoDevice},
    {"cudaSetDevice", cudaErrorDevicesUnavailable},
    {"cudaGetDeviceProperties", cudaErrorInvalidDevice},
    {"malloc", cudaErrorMemoryAllocation},
    {"cudaMalloc", cudaErrorMemoryAllocation},
    {"cudaMallocHost", cudaErrorMemoryAllocation},
    {"cudaMemcpy", cudaErrorInvalidValue},
    {"cudaDeviceSynchronize", cudaErrorLaunchFailure},
    {"cudaFree", cudaErrorLaunchFailure},
    {"cudaFreeHost", cudaErrorLaunchFailure},
};

struct position {
    fake::failure failure;
    std::size_t written_before;  // how much of the clean report existed at the call
    std::size_t written_after;   // and at the next call that found more written
    int device;                  // the device selected at the call, -1 before the first
};

fake::script two_devices() {
    fake::script plan;
    plan.device_names = {"Alpha", "Beta"};
    return plan;
}

// Returns "" when the faulty report holds, else what went wrong.
std::string check_position(const position& at, const std::string& clean) {
    fake::script plan = two_devices();
    plan.failures = {at.failure};
    const captured_run run = capture_report(plan);
    const std::string& text = run.report;
    const report_grammar::report parsed = report_grammar::parse(text);

    if (run.status != 0) {
        return "exit status " + std::to_string(run.status);
    }
    if (!parsed.problem.empty()) {
        return "grammar: " + parsed.problem;
    }
    if (!fake::held_blocks().empty() || !fake::misuse().empty()) {
        return "blocks left held or released wrongly";
    }
    for (const std::string& held : fake::held_at_set_device()) {
        if (!held.empty()) {
            return "blocks held at cudaSetDevice: " + held;
        }
    }
    const std::size_t error_at = text.find("Error occured: ");
    if (error_at == std::string::npos ||
        text.find("Error occured: ", error_at + 1) != std::string::npos) {
        return "not exactly one error line";
    }
    if (error_at < at.written_before || error_at > at.written_after) {
        return "error line at offset " + std::to_string(error_at) + ", not where the call was made";
    }
    if (text.compare(0, at.written_before, clean, 0, at.written_before) != 0) {
        return "the report before the failing call differs from the clean one";
    }
    const bool count_failed =
        at.failure.function == "cudaGetDeviceCount" || at.failure.function == "cudaGetLastError";
    if (count_failed) {
        return parsed.count_error.empty() || parsed.done || !parsed.devices.empty()
                   ? "count failure not reported as the last line"
                   : "";
    }
    if (!parsed.done || parsed.devices.size() != 2) {
        return "report does not reach \"Done\" through both devices";
    }
    int complete = 0;
    for (const report_grammar::device_block& device : parsed.devices) {
        complete += device.complete() ? 1 : 0;
        for (const std::string& figure : device.averages) {
            if (figure != "4.88281") {
                return "average " + figure + " is not a measured one";
            }
        }
    }
    if (complete != 1) {
        return "the other device's block is not complete";
    }
    // After the error line the report goes on exactly as the clean one does from the next device.
    const std::size_t second_device = clean.find("GPU 1: ");
    const std::string expected_rest = at.device == 0 ? clean.substr(second_device) : "Done";
    if (text.substr(text.find("\n\n", error_at) + 2) != expected_rest) {
        return "the report after the error line is not the rest of the clean one";
    }
    return "";
}

TEST(fault_sweep, every_failure_position_holds) {
    const captured_run clean = capture_report(two_devices());
    ASSERT_EQ(report_grammar::parse(clean.report).problem, "");

    std::vector<position> positions;
    std::map<std::string, int> uses;
    const std::vector<fake::call> calls = fake::journal();
    int device = -1;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        device += calls[i].function == "cudaSetDevice" ? 1 : 0;
        const auto code = REALISTIC_CODES.find(calls[i].function);
        if (code == REALISTIC_CODES.end()) {
            continue;
        }
        std::size_t after = clean.report.size();
        for (std::size_t j = i + 1; j < calls.size(); ++j) {
            if (calls[j].output_position > calls[i].output_position) {
                after = calls[j].output_position;
                break;
            }
        }
        positions.push_back({{calls[i].function, ++uses[calls[i].function], code->second},
                             calls[i].output_position,
                             after,
                             device});
    }

    int held = 0;
    for (const position& at : positions) {
        const std::string problem = check_position(at, clean.report);
        if (problem.empty()) {
            ++held;
        } else {
            ADD_FAILURE() << at.failure.function << " #" << at.failure.nth << ": " << problem;
        }
    }
    std::cout << "fault sweep: " << positions.size() << " fault positions tried, " << held
              << " held\n";
    EXPECT_EQ(held, static_cast<int>(positions.size()));
    EXPECT_GT(positions.size(), 1600U);
}

}  // namespace
