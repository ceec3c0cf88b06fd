// Reads a report back into its parts and says where it leaves the report's grammar, so tests can
// check the shape of reports whose figures they cannot predict (a real GPU's) or whose failure
// points they sweep.
//
//   report  := banner frequency count ( error-line | device* "Done" )
//   device  := "GPU " index ": " name "\n\n" ( error | step* [ error ] )
//
// The steps of a device are its allocation messages, their "OK"s, the six headings and their
// average lines, in the fixed order. An error (the error line and an empty line) may only stand
// in place of an "OK" or an average line, straight after the device line, after the average line
// of test 4 (the releases before the page-locked tests) or of test 6 (the final releases), and
// after the heading of test 5 (the page-locked allocation); the device's block ends with it.
#pragma once

#include <string>
#include <vector>

namespace report_grammar {

struct device_block {
    int index = -1;
    std::string name;
    int steps = 0;                      // how many of the device's steps were written
    std::vector<std::string> averages;  // the figure of each average line, as written
    std::string error;                  // the error line without its line ends, or ""
    bool complete() const;
};

struct report {
    std::string problem;  // where and how the text leaves the grammar; "" when it follows it
    std::string credit;   // the banner lines after the version line
    std::string frequency;
    std::string count;
    std::string count_error;
    std::vector<device_block> devices;
    bool done = false;
};

// The number of steps in a complete device block.
constexpr int DEVICE_STEPS = 20;

report parse(const std::string& text);

}  // namespace report_grammar
