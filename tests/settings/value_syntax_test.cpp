#include "settings/value_syntax.hpp"

#include <gtest/gtest.h>

namespace kd {
namespace {

// A text, and the value it reads as or nothing when it is rejected.
template <typename T> struct ParseCase {
    std::string text;
    std::optional<T> expected;
};

template <typename T> class Parses : public testing::TestWithParam<ParseCase<T>> {
  protected:
    void check(std::optional<T> (*parse)(std::string_view))
    {
        EXPECT_EQ(parse(this->GetParam().text), this->GetParam().expected) << this->GetParam().text;
    }
};

using ColorCase = ParseCase<Rgb>;
using ParseColor = Parses<Rgb>;

TEST_P(ParseColor, ReadsOrRejects)
{
    check(parse_color);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseColor,
    testing::Values(ColorCase{"0, 255, 0", Rgb{0, 255, 0}}, ColorCase{"0,255,0", Rgb{0, 255, 0}},
                    ColorCase{"  0 ,\t255 , +0 ", Rgb{0, 255, 0}},
                    ColorCase{"+10, 20, 30", Rgb{10, 20, 30}}, ColorCase{"007, 0, 0", Rgb{7, 0, 0}},
                    ColorCase{"0, 255", std::nullopt}, ColorCase{"0, 255, 0,", std::nullopt},
                    ColorCase{"1, 2, 3, 4", std::nullopt}, ColorCase{"256, 0, 0", std::nullopt},
                    ColorCase{"-1, 0, 0", std::nullopt}, ColorCase{"1 0, 0, 0", std::nullopt},
                    ColorCase{"#00FF00", std::nullopt}, ColorCase{"0x10, 0, 0", std::nullopt},
                    ColorCase{"+, 0, 0", std::nullopt}, ColorCase{", , ", std::nullopt},
                    ColorCase{"", std::nullopt},
                    ColorCase{"99999999999999999999999, 0, 0", std::nullopt}));

TEST(FormatColor, WritesCommaAndBlank)
{
    EXPECT_EQ(format_color(Rgb{220, 193, 153}), "220, 193, 153");
    EXPECT_EQ(format_color(Rgb{0, 7, 255}), "0, 7, 255");
}

using OffsetCase = ParseCase<std::int32_t>;
using ParseUtcOffset = Parses<std::int32_t>;

TEST_P(ParseUtcOffset, ReadsOrRejects)
{
    check(parse_utc_offset);
}

constexpr std::int32_t hours(int h, int m = 0)
{
    return h * 3600 + m * 60;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseUtcOffset,
    testing::Values(OffsetCase{"+4", hours(4)}, OffsetCase{"4", hours(4)},
                    OffsetCase{"UTC+4", hours(4)}, OffsetCase{"utc +4", hours(4)},
                    OffsetCase{"GMT+4", hours(4)}, OffsetCase{" +04 ", hours(4)},
                    OffsetCase{"Utc+4", std::nullopt}, OffsetCase{"-5", -hours(5)},
                    OffsetCase{"+5:30", hours(5, 30)}, OffsetCase{"+0530", hours(5, 30)},
                    OffsetCase{"UTC+05:30", hours(5, 30)}, OffsetCase{"-9:30", -hours(9, 30)},
                    OffsetCase{"+530", std::nullopt}, OffsetCase{"-0", 0},
                    OffsetCase{"+18", hours(18)}, OffsetCase{"-18:00", -hours(18)},
                    OffsetCase{"+18:01", std::nullopt}, OffsetCase{"+19", std::nullopt},
                    OffsetCase{"+5:60", std::nullopt}, OffsetCase{"+5:", std::nullopt},
                    OffsetCase{":30", std::nullopt}, OffsetCase{"+", std::nullopt},
                    OffsetCase{"-", std::nullopt}, OffsetCase{"", std::nullopt},
                    OffsetCase{"UTC", std::nullopt}, OffsetCase{"+ 5", std::nullopt},
                    OffsetCase{"+5:-30", std::nullopt}, OffsetCase{"+-5", std::nullopt},
                    OffsetCase{"+2147483647", std::nullopt},
                    OffsetCase{"+99999999999", std::nullopt}, OffsetCase{"+1:2:3", std::nullopt},
                    OffsetCase{"+5.5", std::nullopt}));

TEST(OffsetIndicator, WrapsSignHoursAndMinutes)
{
    for (const auto& [offset, indicator] :
         {std::pair{hours(4), "(+4)"}, std::pair{-hours(5), "(-5)"},
          std::pair{hours(5, 30), "(+5:30)"}, std::pair{hours(5, 45), "(+5:45)"},
          std::pair{-hours(9, 30), "(-9:30)"}, std::pair{0, "(+0)"}, std::pair{hours(18), "(+18)"},
          std::pair{hours(5, 3), "(+5:03)"}}) {
        EXPECT_EQ(offset_indicator(offset), indicator);
        EXPECT_EQ("(" + offset_text(offset) + ")", indicator);
    }
}

TEST(FaceIndicator, LabelWinsAndIsWrappedUnlessAlreadyParenthesised)
{
    Settings settings;
    EXPECT_EQ(face_indicator(settings), std::nullopt);
    settings.timezone = hours(4);
    EXPECT_EQ(face_indicator(settings), "(+4)");
    settings.label = "Tokyo";
    EXPECT_EQ(face_indicator(settings), "(Tokyo)");
    settings.label = "(Tokyo)";
    EXPECT_EQ(face_indicator(settings), "(Tokyo)");
    settings.label = "";
    EXPECT_EQ(face_indicator(settings), "()");
    settings.label = ")";
    EXPECT_EQ(face_indicator(settings), "())");
}

using SizeCase = ParseCase<std::uint64_t>;
using ParseSize = Parses<std::uint64_t>;

TEST_P(ParseSize, KeepsOnlyNinetySixToTenTwentyFour)
{
    check(parse_size);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseSize,
    testing::Values(SizeCase{"96", 96}, SizeCase{"1024", 1024}, SizeCase{"+200", 200},
                    SizeCase{"0128", 128}, SizeCase{"95", std::nullopt},
                    SizeCase{"1025", std::nullopt}, SizeCase{"-200", std::nullopt},
                    SizeCase{"+", std::nullopt}, SizeCase{"-", std::nullopt},
                    SizeCase{"++128", std::nullopt}, SizeCase{" 128", std::nullopt},
                    SizeCase{"128 # big", std::nullopt}, SizeCase{"", std::nullopt},
                    SizeCase{"18446744073709551616", std::nullopt}));

TEST(ParseUnsigned, AcceptsTheWholeSixtyFourBitRange)
{
    EXPECT_EQ(parse_unsigned("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(parse_unsigned("18446744073709551616"), std::nullopt);
    EXPECT_EQ(parse_unsigned("+0"), 0u);
}

TEST(Trim, RemovesUnicodeWhiteSpaceOnly)
{
    EXPECT_EQ(trim(" \t\r\n a b \xC2\xA0\xE3\x80\x80"), "a b"); // NBSP, ideographic space
    EXPECT_EQ(trim("\xC2\xA0"), "");
    EXPECT_EQ(trim("x\xE2\x80\x8B"), "x\xE2\x80\x8B"); // zero-width space is not white space
    EXPECT_EQ(trim(" \xFF "), "\xFF");                 // malformed bytes are kept
}

TEST(Theme, NameMatchesInAnyAsciiCase)
{
    EXPECT_TRUE(is_zenburn("zenburn"));
    EXPECT_TRUE(is_zenburn("ZenBurn"));
    EXPECT_FALSE(is_zenburn("zenburn "));
    EXPECT_FALSE(is_zenburn("solarized"));
}

} // namespace
} // namespace kd
