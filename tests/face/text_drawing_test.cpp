#include "face/text_drawing.hpp"

#include "font_fixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace kd {
namespace {

using test::test_font;

// White on the little-endian buffers of every test.
const ShadeTable WHITE = shade_table(PixelBuffer{}, Rgb{255, 255, 255});

// Rows and columns that hold any ink, as half-open ranges, and how many runs of inked rows
// there are (the lines of a text).
struct InkBox {
    int top = -1, bottom = -1, left = -1, right = -1, row_runs = 0;
    bool empty() const { return top < 0; }
};

InkBox inked(const PixelBuffer& buffer)
{
    InkBox box;
    for (std::uint32_t y = 0; y < buffer.height; ++y) {
        const int yi = static_cast<int>(y);
        const bool after_gap = box.bottom != yi;
        for (std::uint32_t x = 0; x < buffer.width; ++x) {
            if (pixel_at(buffer, x, y) == Rgb{}) continue;
            const int xi = static_cast<int>(x);
            if (box.empty()) box = InkBox{yi, yi, xi, xi + 1};
            box.row_runs += after_gap && box.bottom != yi + 1;
            box.bottom = yi + 1;
            box.left = std::min(box.left, xi);
            box.right = std::max(box.right, xi + 1);
        }
    }
    return box;
}

// Every test lays its texts out in a scratch of its own.
struct TextDrawing : ::testing::Test {
    TextScratch scratch;
};

// Nothing is laid out for an empty text or at a size that cannot be drawn; blanks have no ink.
TEST_F(TextDrawing, NothingToLayOutGivesNothing)
{
    for (const auto& [text, size] : {std::pair<std::string_view, float>{"", 20.0f},
                                     {"ABC", 0.0f},
                                     {"ABC", -5.0f},
                                     {"ABC", std::numeric_limits<float>::quiet_NaN()},
                                     {"ABC", std::numeric_limits<float>::infinity()}}) {
        EXPECT_EQ(text_width(test_font(), scratch, text, size), 0.0f) << size;
        EXPECT_FALSE(ink_extent(test_font(), scratch, text, size).has_value()) << size;
        PixelBuffer buffer = make_pixel_buffer(32, 32, true);
        draw_text(buffer, test_font(), scratch, text, size, 0, 0, 32, TextAlign::Left, WHITE);
        EXPECT_TRUE(inked(buffer).empty()) << size;
    }
    EXPECT_FALSE(ink_extent(test_font(), scratch, "   ", 20.0f).has_value());
    EXPECT_GT(text_width(test_font(), scratch, "   A", 20.0f), 0.0f);
}

TEST_F(TextDrawing, LeadingBlankAddsItsAdvance)
{
    const float size = 40.0f;
    // DejaVu Sans Mono: every advance is 1233 of 2048 units.
    const float blank_advance = 1233.0f * size / 2048.0f;
    const float difference =
        text_width(test_font(), scratch, " A", size) - text_width(test_font(), scratch, "A", size);
    EXPECT_NEAR(difference, blank_advance, 0.5f);
    // A trailing blank counts by its position only, which is where the letter's box ends.
    EXPECT_NEAR(text_width(test_font(), scratch, "A ", size),
                text_width(test_font(), scratch, "A", size), 1.0f);
}

// Each scratch sets its own size on the font for each call, and follows the font it is given.
TEST_F(TextDrawing, ScratchesKeepToThemselves)
{
    TextScratch other;
    const float small = text_width(test_font(), scratch, "Kestrel", 20.0f);
    const float large = text_width(test_font(), other, "Kestrel", 40.0f);
    EXPECT_GT(large, 1.9f * small);
    EXPECT_EQ(text_width(test_font(), scratch, "Kestrel", 20.0f), small);
    const float sans = text_width(test::proportional_test_font(), other, "Kestrel", 20.0f);
    EXPECT_NE(sans, small);
    EXPECT_EQ(text_width(test::proportional_test_font(), scratch, "Kestrel", 20.0f), sans);
}

struct DrawCase {
    std::string text;
    float size;
};

class DrawnInk : public TextDrawing, public ::testing::WithParamInterface<DrawCase> {};

// What is drawn must agree with what was measured: the face centres texts by these numbers.
TEST_P(DrawnInk, AgreesWithTheMeasurements)
{
    const auto& [text, size] = GetParam();
    const float y = 10.0f;
    const auto extent = ink_extent(test_font(), scratch, text, size);
    ASSERT_TRUE(extent.has_value());
    const float width = text_width(test_font(), scratch, text, size);
    PixelBuffer buffer =
        make_pixel_buffer(static_cast<std::uint32_t>(width) + 20,
                          static_cast<std::uint32_t>(y + extent->bottom) + 20, true);
    draw_text(buffer, test_font(), scratch, text, size, 0, y, 10000.0f, TextAlign::Left, WHITE);
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
                                           DrawCase{"09:05:07 PM", 18.0f},
                                           DrawCase{"(+5:30)", 15.0f}, DrawCase{"Wgjy", 33.0f},
                                           DrawCase{"31", 264.0f}));

TEST_F(TextDrawing, BaselineSitsAtTheAscent)
{
    // "H" stands on the baseline: its ink ends at ascent * size / units per em.
    const float size = 100.0f;
    const auto extent = ink_extent(test_font(), scratch, "H", size);
    ASSERT_TRUE(extent.has_value());
    EXPECT_NEAR(extent->bottom, 1901.0f * size / 2048.0f, 1.0f);
}

TEST_F(TextDrawing, WrapsWordsThatDoNotFitAndHonoursHardBreaks)
{
    const auto lines = [&](std::string_view text, float max_width) {
        PixelBuffer buffer = make_pixel_buffer(300, 200, true);
        draw_text(buffer, test_font(), scratch, text, 20.0f, 0, 0, max_width, TextAlign::Left,
                  WHITE);
        EXPECT_LE(inked(buffer).right, max_width) << text;
        return inked(buffer).row_runs;
    };
    EXPECT_EQ(lines("MON TUE WED", 300.0f), 1);
    EXPECT_EQ(lines("MON TUE WED", 80.0f), 3);
    EXPECT_EQ(lines("AB\nCD", 300.0f), 2);
}

TEST_F(TextDrawing, CentresEachLineWithinTheWidth)
{
    PixelBuffer buffer = make_pixel_buffer(200, 60, true);
    draw_text(buffer, test_font(), scratch, "HH", 30.0f, 20.0f, 0, 160.0f, TextAlign::Center,
              WHITE);
    const InkBox box = inked(buffer);
    ASSERT_FALSE(box.empty());
    EXPECT_NEAR((box.left + box.right) / 2.0, 100.0, 2.0);
}

TEST_F(TextDrawing, ClipsAtTheBufferEdges)
{
    PixelBuffer buffer = make_pixel_buffer(40, 40, true);
    draw_text(buffer, test_font(), scratch, "MM", 60.0f, -20.0f, -10.0f, 100.0f, TextAlign::Left,
              WHITE);
    const InkBox box = inked(buffer);
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, 40);
}

// The mono font has one advance for every glyph and no kerning: a left-to-right text must be
// exactly its characters drawn one by one, one advance apart, in reading order.
TEST_F(TextDrawing, LeftToRightTextIsItsCharactersOneAdvanceApart)
{
    const float size = 21.0f;
    const std::string text = "09:05:07 PM (Kestrel, +5:30) [x]";
    const float advance =
        text_width(test_font(), scratch, " A", size) - text_width(test_font(), scratch, "A", size);
    PixelBuffer whole = make_pixel_buffer(440, 40, true);
    PixelBuffer pieces = make_pixel_buffer(440, 40, true);
    draw_text(whole, test_font(), scratch, text, size, 3.0f, 5.0f, 1000.0f, TextAlign::Left, WHITE);
    float pen = 0;
    for (const char c : text) {
        draw_text(pieces, test_font(), scratch, std::string(1, c), size, 3.0f + pen, 5.0f, 1000.0f,
                  TextAlign::Left, WHITE);
        pen += advance;
    }
    ASSERT_GT(inked(whole).right, 400);
    EXPECT_TRUE(whole.bytes == pieces.bytes);
}

struct DisplayOrderCase {
    const char* name;
    bool proportional; // DejaVu Sans, for the Hebrew that the mono font lacks
    std::string text;
    std::string shown_as; // what must appear: the glyphs in display order, laid out left to right
    float max_width;
};

class DrawnInDisplayOrder : public TextDrawing,
                            public ::testing::WithParamInterface<DisplayOrderCase> {};

TEST_P(DrawnInDisplayOrder, LikeTheTextInThatOrder)
{
    const DisplayOrderCase& c = GetParam();
    Font& font = c.proportional ? test::proportional_test_font() : test_font();
    PixelBuffer drawn = make_pixel_buffer(300, 80, true);
    PixelBuffer expected = make_pixel_buffer(300, 80, true);
    draw_text(drawn, font, scratch, c.text, 24.0f, 4.0f, 4.0f, c.max_width, TextAlign::Left, WHITE);
    draw_text(expected, font, scratch, c.shown_as, 24.0f, 4.0f, 4.0f, 1000.0f, TextAlign::Left,
              WHITE);
    ASSERT_FALSE(inked(expected).empty());
    EXPECT_TRUE(drawn.bytes == expected.bytes);
}

// U+202D ... U+202C (left-to-right override) lays glyphs out in the order written.
INSTANTIATE_TEST_SUITE_P(
    Texts, DrawnInDisplayOrder,
    ::testing::Values(
        // The blank and the parentheses stay where they are, the Hebrew reads from the right,
        // and its number from the left.
        DisplayOrderCase{"hebrew_label", true, " (\u05E9\u05DC\u05D5\u05DD 123)",
                         "\u202D (123 \u05DD\u05D5\u05DC\u05E9)\u202C", 290.0f},
        // Lines are broken in reading order: the first word read is on the first line.
        DisplayOrderCase{
            "hebrew_wrapped", true, "\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD",
            "\u202D\u05DD\u05D5\u05DC\u05E9\u202C\n\u202D\u05DD\u05DC\u05D5\u05E2\u202C", 80.0f},
        DisplayOrderCase{"right_to_left_override", false, "\u202Eabc 12\u202C", "21 cba", 290.0f},
        DisplayOrderCase{"embedding_keeps_the_order", false, "x\u202Aabc\u202Cy", "xabcy", 290.0f}),
    [](const ::testing::TestParamInfo<DisplayOrderCase>& test_case) {
        return std::string(test_case.param.name);
    });

TEST_F(TextDrawing, MissingCharactersShowTheFontsOwnGlyph)
{
    // DejaVu Sans Mono has no CJK; glyph 0 is drawn in its place.
    const auto extent = ink_extent(test_font(), scratch, "\xE4\xB8\xAD", 30.0f);
    ASSERT_TRUE(extent.has_value());
    EXPECT_GT(text_width(test_font(), scratch, "\xE4\xB8\xAD", 30.0f), 0.0f);
}

} // namespace
} // namespace kd
