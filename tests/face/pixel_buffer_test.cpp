#include "face/pixel_buffer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace kd {
namespace {

struct ByteOrderCase {
    bool lsb_first;
    std::vector<std::uint8_t> bytes;
};

class PutPixelByteOrder : public ::testing::TestWithParam<ByteOrderCase> {};

TEST_P(PutPixelByteOrder, WritesTheServersOrder)
{
    PixelBuffer buffer = make_pixel_buffer(3, 2, GetParam().lsb_first);
    put_stored_pixel(buffer, 2, 1, stored_pixel(buffer, Rgb{1, 2, 3}, 1.0f));
    const std::size_t offset = 4 * (1 * 3 + 2);
    EXPECT_EQ(
        std::vector<std::uint8_t>(buffer.bytes.begin() + offset, buffer.bytes.begin() + offset + 4),
        GetParam().bytes);
    EXPECT_EQ(pixel_at(buffer, 2, 1), (Rgb{1, 2, 3}));
    EXPECT_EQ(std::count(buffer.bytes.begin(), buffer.bytes.end(), 0), 24 - 3);
}

INSTANTIATE_TEST_SUITE_P(Orders, PutPixelByteOrder,
                         ::testing::Values(ByteOrderCase{true, {3, 2, 1, 0}},
                                           ByteOrderCase{false, {0, 1, 2, 3}}));

struct IntensityCase {
    Rgb color;
    float intensity;
    Rgb expected;
};

class PutPixelIntensity : public ::testing::TestWithParam<IntensityCase> {};

TEST_P(PutPixelIntensity, ScalesClampsAndTruncates)
{
    PixelBuffer buffer = make_pixel_buffer(1, 1, true);
    put_stored_pixel(buffer, 0, 0, stored_pixel(buffer, GetParam().color, GetParam().intensity));
    EXPECT_EQ(pixel_at(buffer, 0, 0), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PutPixelIntensity,
    ::testing::Values(
        IntensityCase{{255, 200, 0}, 0.5f, {127, 100, 0}},
        IntensityCase{{255, 255, 255}, 0.999f, {254, 254, 254}},
        IntensityCase{{100, 200, 255}, 2.0f, {200, 255, 255}},
        IntensityCase{{100, 200, 255}, -1.0f, {0, 0, 0}},
        IntensityCase{{100, 200, 255}, std::numeric_limits<float>::quiet_NaN(), {0, 0, 0}},
        IntensityCase{{100, 200, 255}, std::numeric_limits<float>::infinity(), {255, 255, 255}}));

struct OutsideCase {
    std::int32_t x;
    std::int32_t y;
};

class PutPixelOutside : public ::testing::TestWithParam<OutsideCase> {};

TEST_P(PutPixelOutside, ChangesNothing)
{
    PixelBuffer buffer = make_pixel_buffer(4, 3, true);
    put_stored_pixel(buffer, GetParam().x, GetParam().y, stored_pixel(buffer, Rgb{9, 9, 9}, 1.0f));
    EXPECT_TRUE(
        std::all_of(buffer.bytes.begin(), buffer.bytes.end(), [](auto b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Positions, PutPixelOutside,
    ::testing::Values(OutsideCase{4, 0}, OutsideCase{0, 3}, OutsideCase{-1, 0}, OutsideCase{0, -1},
                      OutsideCase{std::numeric_limits<std::int32_t>::min(), 0},
                      OutsideCase{0, std::numeric_limits<std::int32_t>::max()}));

TEST(PixelBuffer, ClearingZeroesEveryByte)
{
    PixelBuffer buffer = make_pixel_buffer(5, 5, false);
    for (std::int32_t i = 0; i < 5; ++i)
        put_stored_pixel(buffer, i, i, stored_pixel(buffer, Rgb{255, 255, 255}, 1.0f));
    const std::uint8_t* storage = buffer.bytes.data();
    clear_pixels(buffer);
    EXPECT_EQ(buffer.bytes.size(), 100u);
    EXPECT_EQ(buffer.bytes.data(), storage); // cleared in place, never reallocated
    EXPECT_TRUE(
        std::all_of(buffer.bytes.begin(), buffer.bytes.end(), [](auto b) { return b == 0; }));
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
