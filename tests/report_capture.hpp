// Runs the whole report in-process, with standard output and standard input swapped for string
// streams for the length of the run.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

#include "benchmark.hpp"
#include "fake_platform.hpp"

// What the given code writes to std::cout.
template <typename Code>
std::string capture_output(Code&& code) {
    std::ostringstream output;
    std::streambuf* const saved = std::cout.rdbuf(output.rdbuf());
    code();
    std::cout.rdbuf(saved);
    return output.str();
}

struct captured_run {
    std::string report;
    int status;
    std::string unread_input;
};

// The whole report, with std::cout writing into output and std::cin reading input, against
// whatever platform the test links.
inline captured_run run_report(std::ostringstream& output, const std::string& input = "") {
    std::istringstream keyboard(input);
    std::streambuf* const saved_output = std::cout.rdbuf(output.rdbuf());
    std::streambuf* const saved_input = std::cin.rdbuf(keyboard.rdbuf());
    const int status = run_benchmark();
    std::cout.rdbuf(saved_output);
    std::cin.rdbuf(saved_input);
    std::cin.clear();
    std::string unread;
    std::getline(keyboard, unread, '\0');
    return {output.str(), status, unread};
}

// The whole report against the fake platform, reset to the plan; the journal records how much of
// the report had been written at each call.
inline captured_run capture_report(fake::script plan, const std::string& input = "") {
    std::ostringstream output;
    plan.output_position = [&output] { return static_cast<std::size_t>(output.tellp()); };
    fake::reset(plan);
    return run_report(output, input);
}
