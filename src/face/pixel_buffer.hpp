#pragma once
// The one image the program paints into and sends to the X server.

#include "settings/settings.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kd {

// Each 8-bit value of a channel as bits of the server's pixel, for a root visual whose
// channels are not 8 bits at 16, 8 and 0 (a 30-bit screen has 10 bits each at 20, 10 and 0).
struct ChannelTables {
    std::array<std::uint32_t, 256> red{};
    std::array<std::uint32_t, 256> green{};
    std::array<std::uint32_t, 256> blue{};
};

// The tables for a visual's colour masks, each value scaled so that 255 fills the channel;
// nothing when the masks are the painter's own 8-8-8 layout or are not three separate runs
// of bits (a visual without colour masks).
std::optional<ChannelTables> channel_tables(std::uint32_t red_mask, std::uint32_t green_mask,
                                            std::uint32_t blue_mask);

// size x size pixels of 4 bytes in the server's own format, rows packed: the 32-bit value
// 0x00RRGGBB, or the channels placed by `channels`, in the server's image byte order.
struct PixelBuffer {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool lsb_first = true; // the value's lowest byte first (B, G, R, 0) or its highest (0, R, G, B)
    std::vector<std::uint8_t> bytes;
    std::optional<ChannelTables> channels; // nothing: 8 bits a channel at 16, 8 and 0
};

// Zero-filled, which is black in every format.
PixelBuffer make_pixel_buffer(std::uint32_t width, std::uint32_t height, bool lsb_first,
                              const std::optional<ChannelTables>& channels = std::nullopt);

// Every byte 0 (black).
void clear_pixels(PixelBuffer& buffer);

// One pixel's four bytes as the buffer stores them.
using StoredPixel = std::array<std::uint8_t, 4>;

// The colour at full intensity, as the buffer stores it.
StoredPixel stored_pixel(const PixelBuffer& buffer, Rgb color);

// A component at a glyph's coverage (0 no ink, 255 full ink): component x coverage / 255,
// truncated. Integer arithmetic gives exactly the bytes of the float product
// component x (coverage / 255.0f), at half the cost.
constexpr std::uint8_t shade(std::uint8_t component, std::uint8_t coverage)
{
    return static_cast<std::uint8_t>(unsigned{component} * coverage / 255);
}

// The colour at every coverage, as the buffer stores it: what drawing text in that colour
// writes, worked out once a frame rather than once for each pixel.
using ShadeTable = std::array<StoredPixel, 256>;
ShadeTable shade_table(const PixelBuffer& buffer, Rgb color);

// Overwrites the pixels from column `first` to column `last` of row `y`, both inclusive; the
// part outside the buffer is skipped.
void fill_row(PixelBuffer& buffer, std::int32_t y, std::int32_t first, std::int32_t last,
              const StoredPixel& pixel);

// Overwrites the pixels from row `first` to row `last` of column `x`, both inclusive; the part
// outside the buffer is skipped.
void fill_column(PixelBuffer& buffer, std::int32_t x, std::int32_t first, std::int32_t last,
                 const StoredPixel& pixel);

// A float position turned into a pixel index: truncated toward zero, saturating at the
// 32-bit limits, NaN giving 0.
std::int32_t pixel_index(float position);

// The colour stored at (x, y) of a buffer without channel tables, for tests and tools; black
// outside the buffer.
Rgb pixel_at(const PixelBuffer& buffer, std::uint32_t x, std::uint32_t y);

} // namespace kd
