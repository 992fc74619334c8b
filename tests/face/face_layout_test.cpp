#include "face/face_layout.hpp"

#include "face/text_drawing.hpp"
#include "font_fixture.hpp"
#include "scoped_zone.hpp"
#include "settings/value_syntax.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace kd {
namespace {

using test::test_font;

// Tuesday 8 December 2026, 21:05:07 UTC.
constexpr Instant EVENING{1796763907, 0};

Clock fixed_clock(Instant instant)
{
    return [instant] { return instant; };
}

PixelBuffer painted(std::uint32_t size, const Settings& settings, bool lsb_first = true,
                    const std::optional<ChannelTables>& channels = std::nullopt,
                    const Font& font = test_font())
{
    test::ScopedZone zone("UTC0");
    PixelBuffer buffer = make_pixel_buffer(size, size, lsb_first, channels);
    TextScratch scratch;
    paint_face(buffer, font, scratch, settings, fixed_clock(EVENING));
    return buffer;
}

struct SeparatorCase {
    std::uint32_t size;
    std::uint32_t first_row;
    std::uint32_t second_row;
    std::uint32_t first_column;
    std::uint32_t last_column;
};

class Separators : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(Separators, RunInTheDimColourBetweenTheInsets)
{
    const SeparatorCase& c = GetParam();
    const PixelBuffer buffer = painted(c.size, Settings{});
    for (const std::uint32_t row : {c.first_row, c.second_row}) {
        for (std::uint32_t x = c.first_column; x <= c.last_column; ++x)
            ASSERT_EQ(pixel_at(buffer, x, row), DEFAULT_DIM_COLOR)
                << "row " << row << " column " << x;
        EXPECT_EQ(pixel_at(buffer, c.first_column - 1, row), Rgb{}) << row;
        EXPECT_EQ(pixel_at(buffer, c.last_column + 1, row), Rgb{}) << row;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Separators,
                         ::testing::Values(SeparatorCase{96, 18, 66, 6, 89},
                                           SeparatorCase{128, 24, 88, 8, 119},
                                           SeparatorCase{200, 37, 137, 12, 187},
                                           SeparatorCase{1024, 192, 704, 64, 959}));

struct BevelCase {
    const char* name;
    std::optional<std::string> theme;
    std::vector<Rgb> dark;  // top and left, ring 0 to 3
    std::vector<Rgb> light; // bottom and right
};

class Bevel : public ::testing::TestWithParam<BevelCase> {};

const std::vector<Rgb> DEFAULT_DARK{{30, 30, 30}, {38, 38, 38}, {46, 46, 46}, {55, 55, 55}};
const std::vector<Rgb> DEFAULT_LIGHT{
    {160, 160, 160}, {146, 146, 146}, {133, 133, 133}, {120, 120, 120}};
const std::vector<Rgb> ZENBURN_DARK{{35, 32, 28}, {43, 39, 34}, {51, 47, 41}, {60, 55, 48}};
const std::vector<Rgb> ZENBURN_LIGHT{
    {160, 145, 125}, {150, 136, 116}, {140, 127, 108}, {130, 118, 100}};

TEST_P(Bevel, RingsFadeInwardsAndCornersTakeTheLightColour)
{
    const BevelCase& c = GetParam();
    Settings settings;
    settings.theme = c.theme;
    for (const std::uint32_t size : {96u, 131u}) {
        const PixelBuffer buffer = painted(size, settings);
        const std::uint32_t last = size - 1;
        for (std::uint32_t j = 0; j < 4; ++j) {
            const std::uint32_t middle = size / 2;
            EXPECT_EQ(pixel_at(buffer, middle, j), c.dark[j]) << "top ring " << j;
            EXPECT_EQ(pixel_at(buffer, j, middle), c.dark[j]) << "left ring " << j;
            EXPECT_EQ(pixel_at(buffer, j, j), c.dark[j]) << "top-left corner " << j;
            EXPECT_EQ(pixel_at(buffer, middle, last - j), c.light[j]) << "bottom ring " << j;
            EXPECT_EQ(pixel_at(buffer, last - j, middle), c.light[j]) << "right ring " << j;
            EXPECT_EQ(pixel_at(buffer, last - j, j), c.light[j]) << "top-right corner " << j;
            EXPECT_EQ(pixel_at(buffer, j, last - j), c.light[j]) << "bottom-left corner " << j;
            EXPECT_EQ(pixel_at(buffer, last - j, last - j), c.light[j])
                << "bottom-right corner " << j;
        }
        // Inside the bevel the face is black away from texts and separators.
        EXPECT_EQ(pixel_at(buffer, 4, size / 2), Rgb{});
        EXPECT_EQ(pixel_at(buffer, last - 4, 4), Rgb{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Themes, Bevel,
    ::testing::Values(BevelCase{"no_theme", std::nullopt, DEFAULT_DARK, DEFAULT_LIGHT},
                      BevelCase{"zenburn", "zenburn", ZENBURN_DARK, ZENBURN_LIGHT},
                      BevelCase{"zenburn_capitals", "ZENBURN", ZENBURN_DARK, ZENBURN_LIGHT},
                      BevelCase{"zenburn2", "zenburn2", DEFAULT_DARK, DEFAULT_LIGHT},
                      BevelCase{"zen", "zen", DEFAULT_DARK, DEFAULT_LIGHT}),
    [](const ::testing::TestParamInfo<BevelCase>& test_case) {
        return std::string(test_case.param.name);
    });

// Every server format shows the same face: in either byte order, with the painter's own 8-bit
// channels (the top byte 0) or through the channel tables of another layout (30 bits, red and
// blue swapped), pixel for pixel what converting the little-endian 8-bit face gives.
TEST(PaintFace, EveryPixelFormatShowsTheSameFace)
{
    Settings settings;
    settings.seconds = true;
    settings.label = "Home";
    settings.theme = "zenburn";
    apply_theme(settings, false, false);
    const PixelBuffer face = painted(131, settings);
    std::size_t inked = 0;
    for (const bool lsb_first : {true, false})
        for (const auto& channels :
             {std::optional<ChannelTables>{}, channel_tables(0x3ff00000, 0xffc00, 0x3ff),
              channel_tables(0xff, 0xff00, 0xff0000)}) {
            const PixelBuffer shown = painted(131, settings, lsb_first, channels);
            for (std::uint32_t y = 0; y < 131; ++y)
                for (std::uint32_t x = 0; x < 131; ++x) {
                    const Rgb c = pixel_at(face, x, y);
                    inked += c != Rgb{};
                    const std::uint32_t value =
                        channels
                            ? channels->red[c.red] | channels->green[c.green] |
                                  channels->blue[c.blue]
                            : std::uint32_t{c.red} << 16 | std::uint32_t{c.green} << 8 | c.blue;
                    const std::uint8_t* pixel = &shown.bytes[(std::size_t{y} * 131 + x) * 4];
                    for (std::size_t k = 0; k < 4; ++k)
                        ASSERT_EQ(pixel[k],
                                  static_cast<std::uint8_t>(value >> 8 * (lsb_first ? k : 3 - k)))
                            << x << "," << y;
                }
        }
    EXPECT_GT(inked, 6u * 1000u);
}

// Rows [top, bottom) of the texts' ink within a band of rows, ignoring the bevel columns.
struct RowSpan {
    int top = -1, bottom = -1;
};

RowSpan ink_rows(const PixelBuffer& buffer, Rgb color, int from, int to)
{
    RowSpan span;
    for (int y = from; y < to; ++y)
        for (std::uint32_t x = 4; x + 4 < buffer.width; ++x) {
            const Rgb p = pixel_at(buffer, x, static_cast<std::uint32_t>(y));
            // Glyph pixels are colour x coverage: same hue, never the pure separator colour row.
            const bool ours =
                p != Rgb{} && p.green == 0 && p.blue == 0 && p.red > 0 && color.red > 0;
            const bool theirs =
                p != Rgb{} && p.red == 0 && p.green == 0 && p.blue > 0 && color.blue > 0;
            if (ours || theirs) {
                if (span.top < 0) span.top = y;
                span.bottom = y + 1;
                break;
            }
        }
    return span;
}

constexpr Rgb RED{255, 0, 0};
constexpr Rgb BLUE{0, 0, 255};

struct BandCase {
    std::uint32_t size;
    bool seconds;
    bool twelve_hour;
    bool short_month;
    std::optional<std::string> label;
};

class Bands : public ::testing::TestWithParam<BandCase> {};

// Every text is inked inside its band, roughly centred, and the suffix in the dim colour.
TEST_P(Bands, InkStaysInsideEachBand)
{
    const BandCase& c = GetParam();
    Settings settings;
    settings.seconds = c.seconds;
    settings.format = c.twelve_hour ? TimeFormat::Hours12 : TimeFormat::Hours24;
    settings.short_month = c.short_month;
    settings.label = c.label;
    settings.color = RED;
    settings.dim_color = BLUE;
    const PixelBuffer buffer = painted(c.size, settings);
    const float unit = static_cast<float>(c.size) / 128.0f;
    const int first = static_cast<int>(24.0f * unit);
    const int second = static_cast<int>(88.0f * unit);
    const int bottom = static_cast<int>(c.size) - 4;

    const struct {
        int from, to;
    } bands[] = {{4, first}, {first + 1, second}, {second + 1, bottom}};
    for (const auto& band : bands) {
        // Look a row beyond each edge: nothing of the texts may be there.
        const RowSpan span = ink_rows(buffer, RED, band.from - 1, band.to + 1);
        ASSERT_GE(span.top, band.from) << band.from;
        EXPECT_LE(span.bottom, band.to) << band.from;
        const int above = span.top - band.from, below = band.to - span.bottom;
        EXPECT_LE(std::abs(above - below), 3) << "band from " << band.from;
    }
    const RowSpan suffix = ink_rows(buffer, BLUE, second + 1, bottom);
    EXPECT_EQ(suffix.top >= 0, c.label.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Faces, Bands,
    ::testing::Values(BandCase{96, false, false, false, std::nullopt},
                      BandCase{96, true, true, true, std::string("Tokyo")},
                      BandCase{128, true, false, false, std::nullopt},
                      BandCase{128, false, true, false, std::string("Far far away")},
                      BandCase{512, true, true, true, std::string("(+5:30)")},
                      BandCase{1024, false, false, false, std::string("UTC")}));

// Columns [left, right) holding pixels of exactly one hue in the time band.
struct ColumnSpan {
    int left = -1, right = -1;
};

ColumnSpan ink_columns(const PixelBuffer& buffer, bool red, int from, int to)
{
    ColumnSpan span;
    for (std::uint32_t x = 4; x + 4 < buffer.width; ++x)
        for (int y = from; y < to; ++y) {
            const Rgb p = pixel_at(buffer, x, static_cast<std::uint32_t>(y));
            if (red ? (p.red > 0 && p.blue == 0) : (p.blue > 0 && p.red == 0)) {
                if (span.left < 0) span.left = static_cast<int>(x);
                span.right = static_cast<int>(x) + 1;
                break;
            }
        }
    return span;
}

TEST(PaintFace, SuffixFollowsTheTimeOnOneLine)
{
    Settings settings;
    settings.color = RED;
    settings.dim_color = BLUE;
    settings.label = "An unusually long harbour label";
    const PixelBuffer buffer = painted(128, settings);
    const ColumnSpan time = ink_columns(buffer, true, 89, 124);
    const ColumnSpan suffix = ink_columns(buffer, false, 89, 124);
    ASSERT_GE(time.left, 0);
    ASSERT_GE(suffix.left, 0);
    EXPECT_GE(time.left, 6);
    EXPECT_LT(time.right, suffix.left + 1);
    EXPECT_LE(suffix.right, 124);
    // One line only: the suffix shrank instead of wrapping.
    const RowSpan rows = ink_rows(buffer, BLUE, 89, 124);
    EXPECT_LT(rows.bottom - rows.top, 16);
}

TEST(PaintFace, ShortSuffixKeepsTheTimeAtItsTableSize)
{
    Settings plain;
    plain.color = RED;
    plain.dim_color = BLUE;
    Settings labelled = plain;
    labelled.label = "X";
    const PixelBuffer without = painted(256, plain);
    const PixelBuffer with = painted(256, labelled);
    const RowSpan time_alone = ink_rows(without, RED, 177, 252);
    const RowSpan time_beside = ink_rows(with, RED, 177, 252);
    EXPECT_EQ(time_alone.bottom - time_alone.top, time_beside.bottom - time_beside.top);
    // The pair is centred, so the time moves left of where it stood alone.
    EXPECT_LT(ink_columns(with, true, 177, 252).left, ink_columns(without, true, 177, 252).left);
}

struct LabelFaceCase {
    const char* name;
    std::uint32_t size;
    std::string label;
    std::string drawn_as; // a label without direction controls that shows the same face
};

class LabelFace : public ::testing::TestWithParam<LabelFaceCase> {};

// The label's own controls steer the label alone: the blank and the brackets keep their place
// and their unmirrored glyphs, as with a plain label read in the order shown. Past what the
// window shows, a label is cut and its closing bracket stays. DejaVu Sans has the Hebrew.
TEST_P(LabelFace, ShowsWhatAPlainLabelShows)
{
    const LabelFaceCase& c = GetParam();
    Settings settings;
    settings.label = c.label;
    Settings plain;
    plain.label = c.drawn_as;
    const Font& font = test::proportional_test_font();
    EXPECT_TRUE(painted(c.size, settings, true, std::nullopt, font).bytes ==
                painted(c.size, plain, true, std::nullopt, font).bytes);
}

const std::string HEBREW = "\u05E9\u05DC\u05D5\u05DD";

INSTANTIATE_TEST_SUITE_P(
    Labels, LabelFace,
    ::testing::Values(
        LabelFaceCase{"override_left_open", 128, "\u202Eabc", "cba"},
        LabelFaceCase{"override_in_the_middle", 128, "ab\u202Ecd", "abdc"},
        LabelFaceCase{"right_to_left_isolate_left_open", 128, "\u2067abc", "abc"},
        LabelFaceCase{"right_to_left_embedding_left_open", 128, "\u202Babc", "abc"},
        LabelFaceCase{"hebrew_in_an_open_isolate", 256, "\u2067" + HEBREW + " 123",
                      HEBREW + " 123"},
        LabelFaceCase{"a_stray_isolate_end_closes_nothing", 128, "\u2069\u202Eabc", "cba"},
        LabelFaceCase{"own_parentheses", 128, "(\u202Eabc)", "cba"},
        LabelFaceCase{"closed_forms", 128, "x\u202Aabc\u202Cy", "xabcy"},
        LabelFaceCase{"zero_width_characters", 96, test::repeated("\u200B", 1534), ""},
        LabelFaceCase{"a_megabyte", 96, std::string(1 << 20, 'x'), std::string(32, 'x')},
        LabelFaceCase{"a_megabyte_in_parentheses", 1024, "(" + std::string(1 << 20, 'x') + ")",
                      std::string(102, 'x')}),
    [](const ::testing::TestParamInfo<LabelFaceCase>& test_case) {
        return std::string(test_case.param.name);
    });

// Widths proportional to the size make the fitting easy to follow.
struct FitCase {
    const char* name;
    float unit;
    float table_size;
    float available;
    float time_per_px;
    float suffix_per_px;
    TimeLineSizes expected;
};

class FitTimeLine : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitTimeLine, ShrinksTimeThenSuffixThenBoth)
{
    const FitCase& c = GetParam();
    const TimeLineSizes sizes = fit_time_line(
        c.table_size, c.unit, c.available, [&](float s) { return s * c.time_per_px; },
        [&](float s) { return s * c.suffix_per_px; });
    EXPECT_NEAR(sizes.time, c.expected.time, 1e-3f);
    EXPECT_NEAR(sizes.suffix, c.expected.suffix, 1e-3f);
    EXPECT_LE(sizes.time * c.time_per_px + sizes.suffix * c.suffix_per_px, c.available + 1e-3f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitTimeLine,
    ::testing::Values(
        // 28*3 + 15*1 = 99 <= 116: nothing changes.
        FitCase{"fits_at_once", 1.0f, 28.0f, 116.0f, 3.0f, 1.0f, {28.0f, 15.0f}},
        // 3t + 15 <= 90 first at t = 25.
        FitCase{"time_shrinks_first", 1.0f, 28.0f, 90.0f, 3.0f, 1.0f, {25.0f, 15.0f}},
        // Time stops at 13 (39), then 39 + 4s <= 80 at s = 10.
        FitCase{"then_the_suffix", 1.0f, 28.0f, 80.0f, 3.0f, 4.0f, {13.0f, 10.0f}},
        // Floors reached (13*3 + 10*4 = 79 > 70): both scale by 70/79.
        FitCase{"then_both_together",
                1.0f,
                28.0f,
                70.0f,
                3.0f,
                4.0f,
                {13.0f * 70.0f / 79.0f, 10.0f * 70.0f / 79.0f}},
        // The suffix alone (90 at 15) overflows: both reach their floors, then 39 + 60 scale by
        // 50/99.
        FitCase{"suffix_alone_too_wide",
                1.0f,
                28.0f,
                50.0f,
                3.0f,
                6.0f,
                {13.0f * 50.0f / 99.0f, 10.0f * 50.0f / 99.0f}},
        // A table size already at the floor is left alone before the suffix shrinks.
        FitCase{"time_at_floor", 1.0f, 13.0f, 60.0f, 2.0f, 3.0f, {13.0f, 11.0f}},
        // Unit 0.75 (size 96): 21 -> 20.25 -> 19.5; 2t + 11.25 <= 50.25 first at t = 19.5.
        FitCase{"small_unit", 0.75f, 21.0f, 50.25f, 2.0f, 1.0f, {19.5f, 11.25f}}),
    [](const ::testing::TestParamInfo<FitCase>& test_case) {
        return std::string(test_case.param.name);
    });

} // namespace
} // namespace kd
