#include "face/pixel_buffer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kd {
namespace {

struct ByteOrderCase {
    bool lsb_first;
    StoredPixel solid;    // 1, 2, 3 at full intensity
    StoredPixel half_ink; // 255, 200, 0 at coverage 128
};

class ByteOrder : public ::testing::TestWithParam<ByteOrderCase> {};

TEST_P(ByteOrder, PixelsAreWrittenInTheServersOrder)
{
    PixelBuffer buffer = make_pixel_buffer(3, 2, GetParam().lsb_first);
    EXPECT_EQ(stored_pixel(buffer, Rgb{1, 2, 3}), GetParam().solid);
    EXPECT_EQ(shade_table(buffer, Rgb{255, 200, 0})[128], GetParam().half_ink);
    fill_row(buffer, 1, 2, 2, stored_pixel(buffer, Rgb{1, 2, 3}));
    EXPECT_EQ(pixel_at(buffer, 2, 1), (Rgb{1, 2, 3}));
    EXPECT_EQ(std::count(buffer.bytes.begin(), buffer.bytes.end(), 0), 24 - 3);
}

INSTANTIATE_TEST_SUITE_P(Orders, ByteOrder,
                         ::testing::Values(ByteOrderCase{true, {3, 2, 1, 0}, {0, 100, 128, 0}},
                                           ByteOrderCase{false, {0, 1, 2, 3}, {0, 128, 100, 0}}));

// Integer shading gives the very bytes of the float product, for every pair.
TEST(Shade, IsTheTruncatedProductOfComponentAndCoverageOver255)
{
    for (unsigned component = 0; component < 256; ++component)
        for (unsigned coverage = 0; coverage < 256; ++coverage) {
            const float product =
                static_cast<float>(component) * (static_cast<float>(coverage) / 255.0f);
            ASSERT_EQ(
                shade(static_cast<std::uint8_t>(component), static_cast<std::uint8_t>(coverage)),
                static_cast<std::uint8_t>(product))
                << component << " x " << coverage;
        }
}

struct FillCase {
    bool row;
    std::int32_t at, first, last;
    int written; // pixels of the 4 x 3 buffer
};

class Fill : public ::testing::TestWithParam<FillCase> {};

TEST_P(Fill, WritesOnlyWhatLiesInsideTheBuffer)
{
    const FillCase& c = GetParam();
    PixelBuffer buffer = make_pixel_buffer(4, 3, true);
    (c.row ? fill_row : fill_column)(buffer, c.at, c.first, c.last, StoredPixel{9, 9, 9, 0});
    EXPECT_EQ(std::count(buffer.bytes.begin(), buffer.bytes.end(), 9), 3 * c.written);
}

constexpr std::int32_t LOWEST = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t HIGHEST = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Ranges, Fill,
    ::testing::Values(FillCase{true, 0, 1, 2, 2}, FillCase{true, 2, -5, 9, 4},
                      FillCase{true, 3, 0, 3, 0}, FillCase{true, -1, 0, 3, 0},
                      FillCase{true, 1, 4, 9, 0}, FillCase{true, 1, LOWEST, HIGHEST, 4},
                      FillCase{true, 1, 2, 1, 0}, FillCase{false, 3, -1, 1, 2},
                      FillCase{false, 4, 0, 2, 0}, FillCase{false, LOWEST, 0, 2, 0},
                      FillCase{false, 0, LOWEST, HIGHEST, 3}, FillCase{false, HIGHEST, 0, 2, 0}));

TEST(ChannelTables, OnlyAnotherLayoutThanThePaintersHasThem)
{
    // The painter's own layout, and visuals without colour masks, need none.
    EXPECT_FALSE(channel_tables(0xff0000, 0xff00, 0xff));
    EXPECT_FALSE(channel_tables(0, 0, 0));
    EXPECT_FALSE(channel_tables(0xf0f000, 0xf00, 0xff));
    EXPECT_FALSE(channel_tables(0xffff00, 0xff00, 0xff));

    // 10 bits each: 255 fills the channel, and each value is the nearest of the 1024 steps
    // (|c / 1023 - v / 255| at most half a step).
    const auto deep = channel_tables(0x3ff00000, 0xffc00, 0x3ff).value_or(ChannelTables{});
    EXPECT_EQ(deep.red[255], 0x3ff00000u);
    EXPECT_EQ(deep.green[255], 0xffc00u);
    EXPECT_EQ(deep.red[0] | deep.green[0] | deep.blue[0], 0u);
    for (std::size_t value = 0; value < 256; ++value) {
        const long off = 255L * deep.blue[value] - 1023L * static_cast<long>(value);
        EXPECT_LE(2 * std::labs(off), 255) << value;
    }

    // Blue and red swapped places.
    const auto swapped = channel_tables(0xff, 0xff00, 0xff0000).value_or(ChannelTables{});
    EXPECT_EQ(swapped.red[0x12] | swapped.green[0x34] | swapped.blue[0x56], 0x563412u);
}

TEST(PixelBuffer, ClearingZeroesEveryByteInPlace)
{
    PixelBuffer buffer = make_pixel_buffer(5, 5, false);
    fill_row(buffer, 2, 0, 4, stored_pixel(buffer, Rgb{255, 255, 255}));
    const std::uint8_t* storage = buffer.bytes.data();
    clear_pixels(buffer);
    EXPECT_EQ(buffer.bytes.data(), storage); // never reallocated
    EXPECT_EQ(std::count(buffer.bytes.begin(), buffer.bytes.end(), 0), 100);
}

struct IndexCase {
    float position;
    std::int32_t expected;
};

class PixelIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(PixelIndex, TruncatesTowardZeroAndSaturates)
{
    EXPECT_EQ(pixel_index(GetParam().position), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, PixelIndex,
    ::testing::Values(IndexCase{18.9f, 18}, IndexCase{-0.5f, 0}, IndexCase{-1.5f, -1},
                      IndexCase{std::numeric_limits<float>::quiet_NaN(), 0},
                      IndexCase{1e20f, std::numeric_limits<std::int32_t>::max()},
                      IndexCase{-1e20f, std::numeric_limits<std::int32_t>::min()},
                      IndexCase{-std::numeric_limits<float>::infinity(),
                                std::numeric_limits<std::int32_t>::min()}));

} // namespace
} // namespace kd
