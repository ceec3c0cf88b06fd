// The grammar checker must reject the faults it exists to catch, or the sweep proves nothing.

#include "report_grammar.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "report_texts.hpp"

namespace {

using namespace texts;

const std::string HEAD = BANNER + FREQUENCY_3_GHZ;
const std::string ERROR_LINE = "Error occured: out of memory (2)\n\n";

struct grammar_case {
    const char* name;
    std::string text;
    bool follows_grammar;
};

std::ostream& operator<<(std::ostream& out, const grammar_case& c) { return out << c.name; }

const grammar_case CASES[] = {
    {"complete_device", HEAD + count_line(1) + device_line(0, "A") + FULL_BLOCK + "Done", true},
    {"count_error", HEAD + count_line(0) + "Error occured: x (35)", true},
    {"error_in_place_of_an_ok",
     HEAD + count_line(1) + device_line(0, "A") + HOST_A + "GPU global RAM allocating... " +
         ERROR_LINE + "Done",
     true},
    {"error_after_test_4",
     HEAD + count_line(1) + device_line(0, "A") + HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B +
         TEST_3 + DEVICE_B + TEST_4 + ERROR_LINE + "Done",
     true},
    {"error_after_test_6",
     HEAD + count_line(1) + device_line(0, "A") + FULL_BLOCK + ERROR_LINE + "Done", true},
    {"error_after_an_average_that_allows_none",
     HEAD + count_line(1) + device_line(0, "A") + HOST_A + DEVICE_A + TEST_1 + ERROR_LINE + "Done",
     false},
    {"average_after_an_error",
     HEAD + count_line(1) + device_line(0, "A") + HOST_A + DEVICE_A + "Copying Host -> Device\n" +
         ERROR_LINE + AVERAGE + "Done",
     false},
    {"block_cut_short_without_error",
     HEAD + count_line(1) + device_line(0, "A") + HOST_A + DEVICE_A + TEST_1 + "Done", false},
    {"missing_done", HEAD + count_line(1) + device_line(0, "A") + FULL_BLOCK, false},
    {"text_after_done", HEAD + count_line(0) + "Done\n", false},
    {"error_line_without_code",
     HEAD + count_line(1) + device_line(0, "A") + "RAM allocating... Error occured: x\n\nDone",
     false},
};

class grammar : public testing::TestWithParam<grammar_case> {};

TEST_P(grammar, accepts_only_reports_of_the_right_shape) {
    const report_grammar::report parsed = report_grammar::parse(GetParam().text);
    EXPECT_EQ(parsed.problem.empty(), GetParam().follows_grammar) << parsed.problem;
}

INSTANTIATE_TEST_SUITE_P(cases, grammar, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<grammar_case>& info) {
                             return std::string(info.param.name);
                         });

TEST(grammar, reads_back_the_parts) {
    const report_grammar::report parsed = report_grammar::parse(
        HEAD + count_line(2) + device_line(0, "Name with: colon") + FULL_BLOCK +
        device_line(1, "B") + "RAM allocating... " + ERROR_LINE + "Done");
    ASSERT_EQ(parsed.problem, "");
    EXPECT_EQ(parsed.frequency, "3");
    EXPECT_EQ(parsed.count, "2");
    ASSERT_EQ(parsed.devices.size(), 2U);
    EXPECT_EQ(parsed.devices[0].name, "Name with: colon");
    EXPECT_TRUE(parsed.devices[0].complete());
    EXPECT_EQ(parsed.devices[0].averages.size(), 6U);
    EXPECT_EQ(parsed.devices[1].index, 1);
    EXPECT_EQ(parsed.devices[1].steps, 1);
    EXPECT_EQ(parsed.devices[1].error, "Error occured: out of memory (2)");
    EXPECT_TRUE(parsed.done);
}

}  // namespace
