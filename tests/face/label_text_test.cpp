#include "face/label_text.hpp"

#include "font_fixture.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kd {
namespace {

using test::repeated;

struct SuffixCase {
    const char* name;
    std::string suffix;
    std::uint32_t width;
    std::string shown;
};

class ShownSuffix : public ::testing::TestWithParam<SuffixCase> {};

TEST_P(ShownSuffix, KeepsTheBracketsAndIsolatesTheLabelsStart)
{
    const SuffixCase& c = GetParam();
    EXPECT_EQ(shown_suffix(c.suffix, c.width), c.shown);
}

const std::string LRI = "\u2066";
const std::string PDI = "\u2069";
const std::string X40 = repeated("x", 40);

// Up to 32 characters, or one per ten pixels of width, are kept, however many bytes or marks.
INSTANTIATE_TEST_SUITE_P(
    Suffixes, ShownSuffix,
    ::testing::Values(
        SuffixCase{"plain_label", " (Tokyo)", 96, " (Tokyo)"},
        SuffixCase{"offset", " (+5:30)", 96, " (+5:30)"},
        SuffixCase{"empty_label", " ()", 96, " ()"},
        SuffixCase{"right_to_left_label", " (\u05E9\u05DC\u05D5\u05DD 123)", 96,
                   " (\u05E9\u05DC\u05D5\u05DD 123)"},
        SuffixCase{"cut_at_32", " (" + X40 + ")", 96, " (" + repeated("x", 32) + ")"},
        SuffixCase{"one_per_ten_pixels", " (" + repeated("x", 200) + ")", 1024,
                   " (" + repeated("x", 102) + ")"},
        SuffixCase{"characters_not_bytes", " (" + repeated("\u20AC", 40) + ")", 128,
                   " (" + repeated("\u20AC", 32) + ")"},
        SuffixCase{"marks_count", " (e" + repeated("\u0301", 3000) + ")", 96,
                   " (e" + repeated("\u0301", 31) + ")"},
        SuffixCase{"zero_width_count", " (" + repeated("\u200B", 1534) + ")", 96,
                   " (" + repeated("\u200B", 32) + ")"},
        SuffixCase{"override_ended", " (\u202Eabc)", 96, " (" + LRI + "\u202Eabc" + PDI + ")"},
        SuffixCase{"closed_forms_isolated_too", " (x\u202Aa\u202Cy)", 96,
                   " (" + LRI + "x\u202Aa\u202Cy" + PDI + ")"},
        SuffixCase{"open_isolates_closed", " (\u2067a\u2068b\u2069c)", 96,
                   " (" + LRI + "\u2067a\u2068b\u2069c" + PDI + PDI + ")"},
        SuffixCase{"stray_isolate_end_dropped", " (\u2069a\u202Eb)", 96,
                   " (" + LRI + "a\u202Eb" + PDI + ")"},
        SuffixCase{"each_paragraph_alone", " (\u202Ea\r\n\u2069b\u2029)", 96,
                   " (" + LRI + "\u202Ea" + PDI + "\r\n" + LRI + "b" + PDI + "\u2029)"},
        // The controls added count: 32 characters in all.
        SuffixCase{"room_for_the_closing_controls", " (\u2067" + X40 + ")", 96,
                   " (" + LRI + "\u2067" + repeated("x", 28) + PDI + PDI + ")"},
        SuffixCase{"nested_isolates_leave_room_to_close", " (" + repeated("a\u2067", 20) + ")", 96,
                   " (" + LRI + repeated("a\u2067", 10) + repeated(PDI, 11) + ")"}),
    [](const ::testing::TestParamInfo<SuffixCase>& test_case) {
        return std::string(test_case.param.name);
    });

} // namespace
} // namespace kd
