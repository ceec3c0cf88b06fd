#include "report_grammar.hpp"

#include <array>

namespace report_grammar {
namespace {

constexpr const char* AVERAGE = nullptr;  // marks a step that is an average line

struct step {
    const char* text;
    bool error_may_follow;
};

const std::array<step, DEVICE_STEPS> STEPS = {{
    {"RAM allocating... ", true},
    {"OK\n", false},
    {"GPU global RAM allocating... ", true},
    {"OK\n\n", false},
    {"Copying Host -> Device\n", true},
    {AVERAGE, false},
    {"Copying Device -> Host\n", true},
    {AVERAGE, false},
    {"RAM allocating... ", true},
    {"OK\n\n", false},
    {"Copying Host -> Host\n", true},
    {AVERAGE, false},
    {"GPU global RAM allocating... ", true},
    {"OK\n\n", false},
    {"Copying Device -> Device\n", true},
    {AVERAGE, true},
    {"Copying Host -> Device (using page-locked)\n", true},
    {AVERAGE, false},
    {"Copying Device -> Host (using page-locked)\n", true},
    {AVERAGE, true},
}};

constexpr const char* ERROR_START = "Error occured: ";

struct reader {
    const std::string& text;
    std::size_t at = 0;

    bool take(const std::string& expected) {
        if (text.compare(at, expected.size(), expected) != 0) {
            return false;
        }
        at += expected.size();
        return true;
    }
    bool looking_at(const std::string& expected) const {
        return text.compare(at, expected.size(), expected) == 0;
    }
    // Everything up to the terminator, which is consumed; false when it never comes.
    bool take_until(const std::string& terminator, std::string& taken) {
        const std::size_t end = text.find(terminator, at);
        if (end == std::string::npos) {
            return false;
        }
        taken = text.substr(at, end - at);
        at = end + terminator.size();
        return true;
    }
    std::string where() const { return "at offset " + std::to_string(at); }
};

bool is_error_line(const std::string& line) {
    const std::size_t open = line.rfind(" (");
    if (line.rfind(ERROR_START, 0) != 0 || open == std::string::npos || line.back() != ')') {
        return false;
    }
    const std::string code = line.substr(open + 2, line.size() - open - 3);
    return !code.empty() && code.find_first_not_of("-0123456789") == std::string::npos;
}

bool parse_device(reader& in, device_block& device, std::string& problem) {
    std::string index;
    if (!in.take("GPU ") || !in.take_until(": ", index) || !in.take_until("\n\n", device.name)) {
        problem = "device line expected " + in.where();
        return false;
    }
    device.index = std::stoi(index);
    bool error_may_follow = true;
    while (true) {
        if (in.looking_at(ERROR_START)) {
            if (!error_may_follow) {
                problem = "error line out of place " + in.where();
                return false;
            }
            if (!in.take_until("\n\n", device.error) || !is_error_line(device.error)) {
                problem = "malformed error line " + in.where();
                return false;
            }
            return true;
        }
        if (device.steps == DEVICE_STEPS) {
            return true;
        }
        const step& next = STEPS[static_cast<std::size_t>(device.steps)];
        if (next.text == AVERAGE) {
            std::string figure;
            if (!in.take("Average bandwidth = ") || !in.take_until(" GB/s\n\n", figure) ||
                figure.empty() || figure.find_first_of(" \n") != std::string::npos) {
                problem = "average line expected " + in.where();
                return false;
            }
            device.averages.push_back(figure);
        } else if (!in.take(next.text)) {
            problem = std::string("expected \"") + next.text + "\" " + in.where();
            return false;
        }
        error_may_follow = next.error_may_follow;
        ++device.steps;
    }
}

}  // namespace

bool device_block::complete() const { return steps == DEVICE_STEPS && error.empty(); }

report parse(const std::string& text) {
    report result;
    reader in{text};
    std::string count_line;
    if (!in.take("CUDA memory bandwidth test (block size = 100 MB)\nv 1.1\n") ||
        !in.take_until("\n\n", result.credit) || !in.take("CPU frequency is... ") ||
        !in.take_until(" GHz\n\n", result.frequency) ||
        !in.take_until(" CUDA device(s) found\n\n", result.count)) {
        result.problem = "banner, frequency or count line malformed " + in.where();
        return result;
    }
    if (in.looking_at(ERROR_START)) {
        result.count_error = text.substr(in.at);
        if (!is_error_line(result.count_error)) {
            result.problem = "malformed count error line " + in.where();
        }
        return result;
    }
    while (in.looking_at("GPU ")) {
        device_block device;
        if (!parse_device(in, device, result.problem)) {
            return result;
        }
        result.devices.push_back(device);
    }
    if (!in.take("Done")) {
        result.problem = "\"Done\" expected " + in.where();
    } else if (in.at != text.size()) {
        result.problem = "text after \"Done\" " + in.where();
    } else {
        result.done = true;
    }
    return result;
}

}  // namespace report_grammar
