#include "face/text_drawing.hpp"

#include "font_fixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace kd {
namespace {

using test::test_font;

constexpr Rgb WHITE{255, 255, 255};

// Rows and columns that hold any ink, as half-open ranges.
struct InkBox {
    int top = -1, bottom = -1, left = -1, right = -1;
    bool empty() const { return top < 0; }
};

InkBox inked(const PixelBuffer& buffer)
{
    InkBox box;
    for (std::uint32_t y = 0; y < buffer.height; ++y)
        for (std::uint32_t x = 0; x < buffer.width; ++x) {
            if (pixel_at(buffer, x, y) == Rgb{}) continue;
            const int xi = static_cast<int>(x), yi = static_cast<int>(y);
            if (box.empty()) box = InkBox{yi, yi + 1, xi, xi + 1};
            box.top = std::min(box.top, yi);
            box.bottom = std::max(box.bottom, yi + 1);
            box.left = std::min(box.left, xi);
            box.right = std::max(box.right, xi + 1);
        }
    return box;
}

int inked_row_runs(const PixelBuffer& buffer)
{
    int runs = 0;
    bool previous = false;
    for (std::uint32_t y = 0; y < buffer.height; ++y) {
        bool any = false;
        for (std::uint32_t x = 0; x < buffer.width && !any; ++x) any = pixel_at(buffer, x, y) != Rgb{};
        if (any && !previous) ++runs;
        previous = any;
    }
    return runs;
}

TEST(TextMeasure, EmptyAndBlankTexts)
{
    EXPECT_EQ(text_width(test_font(), "", 20.0f), 0.0f);
    EXPECT_FALSE(ink_extent(test_font(), "", 20.0f).has_value());
    EXPECT_FALSE(ink_extent(test_font(), "   ", 20.0f).has_value());
    EXPECT_GT(text_width(test_font(), "   A", 20.0f), 0.0f);
}

TEST(TextMeasure, LeadingBlankAddsItsAdvance)
{
    const float size = 40.0f;
    // DejaVu Sans Mono: every advance is 1233 of 2048 units.
    const float blank_advance = 1233.0f * size / 2048.0f;
    const float difference = text_width(test_font(), " A", size) - text_width(test_font(), "A", size);
    EXPECT_NEAR(difference, blank_advance, 0.5f);
    // A trailing blank counts by its position only, which is where the letter's box ends.
    EXPECT_NEAR(text_width(test_font(), "A ", size), text_width(test_font(), "A", size), 1.0f);
}

TEST(TextMeasure, UnusableSizesLayOutNothing)
{
    for (const float size : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(text_width(test_font(), "ABC", size), 0.0f) << size;
        EXPECT_FALSE(ink_extent(test_font(), "ABC", size).has_value()) << size;
        PixelBuffer buffer = make_pixel_buffer(32, 32, true);
        draw_text(buffer, test_font(), "ABC", size, 0, 0, 32, TextAlign::Left, WHITE);
        EXPECT_TRUE(inked(buffer).empty()) << size;
    }
}

struct DrawCase {
    std::string text;
    float size;
};

class DrawnInk : public ::testing::TestWithParam<DrawCase> {};

// What is drawn must agree with what was measured: the face centres texts by these numbers.
TEST_P(DrawnInk, AgreesWithTheMeasurements)
{
    const auto& [text, size] = GetParam();
    const float y = 10.0f;
    const auto extent = ink_extent(test_font(), text, size);
    ASSERT_TRUE(extent.has_value());
    const float width = text_width(test_font(), text, size);
    PixelBuffer buffer = make_pixel_buffer(static_cast<std::uint32_t>(width) + 20,
                                           static_cast<std::uint32_t>(y + extent->bottom) + 20, true);
    draw_text(buffer, test_font(), text, size, 0, y, 10000.0f, TextAlign::Left, WHITE);
    const InkBox box = inked(buffer);
    ASSERT_FALSE(box.empty());
    EXPECT_GE(box.top, static_cast<int>(y + extent->top));
    EXPECT_LE(box.top, static_cast<int>(y + extent->top) + 1);
    EXPECT_LE(box.bottom, static_cast<int>(std::ceil(y + extent->bottom)));
    EXPECT_GE(box.bottom, static_cast<int>(std::ceil(y + extent->bottom)) - 2);
    EXPECT_LE(box.right, static_cast<int>(std::ceil(width)));
    EXPECT_GE(box.right, static_cast<int>(width) - 2);
}

INSTANTIATE_TEST_SUITE_P(Texts, DrawnInk,
                         ::testing::Values(DrawCase{"TUESDAY", 13.5f}, DrawCase{"DECEMBER", 11.25f},
                                           DrawCase{"8", 24.75f}, DrawCase{"21:05", 21.0f},
                                           DrawCase{"09:05:07 PM", 18.0f}, DrawCase{"(+5:30)", 15.0f},
                                           DrawCase{"Wgjy", 33.0f}, DrawCase{"31", 264.0f}));

TEST(DrawText, BaselineSitsAtTheAscent)
{
    // "H" stands on the baseline: its ink ends at ascent * size / units per em.
    const float size = 100.0f;
    const auto extent = ink_extent(test_font(), "H", size);
    ASSERT_TRUE(extent.has_value());
    EXPECT_NEAR(extent->bottom, 1901.0f * size / 2048.0f, 1.0f);
}

TEST(DrawText, WrapsWordsThatDoNotFit)
{
    PixelBuffer one_line = make_pixel_buffer(300, 200, true);
    draw_text(one_line, test_font(), "MON TUE WED", 20.0f, 0, 0, 300.0f, TextAlign::Left, WHITE);
    EXPECT_EQ(inked_row_runs(one_line), 1);

    PixelBuffer wrapped = make_pixel_buffer(300, 200, true);
    draw_text(wrapped, test_font(), "MON TUE WED", 20.0f, 0, 0, 80.0f, TextAlign::Left, WHITE);
    EXPECT_EQ(inked_row_runs(wrapped), 3);
    EXPECT_LE(inked(wrapped).right, 80);
}

TEST(DrawText, HonoursHardLineBreaks)
{
    PixelBuffer buffer = make_pixel_buffer(300, 200, true);
    draw_text(buffer, test_font(), "AB\nCD", 20.0f, 0, 0, 300.0f, TextAlign::Left, WHITE);
    EXPECT_EQ(inked_row_runs(buffer), 2);
}

TEST(DrawText, CentresEachLineWithinTheWidth)
{
    PixelBuffer buffer = make_pixel_buffer(200, 60, true);
    draw_text(buffer, test_font(), "HH", 30.0f, 20.0f, 0, 160.0f, TextAlign::Center, WHITE);
    const InkBox box = inked(buffer);
    ASSERT_FALSE(box.empty());
    EXPECT_NEAR((box.left + box.right) / 2.0, 100.0, 2.0);
}

TEST(DrawText, ClipsAtTheBufferEdges)
{
    PixelBuffer buffer = make_pixel_buffer(40, 40, true);
    draw_text(buffer, test_font(), "MM", 60.0f, -20.0f, -10.0f, 100.0f, TextAlign::Left, WHITE);
    const InkBox box = inked(buffer);
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, 40);
}

TEST(DrawText, MissingCharactersShowTheFontsOwnGlyph)
{
    // DejaVu Sans Mono has no CJK; glyph 0 is drawn in its place.
    const auto extent = ink_extent(test_font(), "\xE4\xB8\xAD", 30.0f);
    ASSERT_TRUE(extent.has_value());
    EXPECT_GT(text_width(test_font(), "\xE4\xB8\xAD", 30.0f), 0.0f);
}

} // namespace
} // namespace kd
