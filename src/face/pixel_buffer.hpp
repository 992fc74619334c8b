#pragma once
// The one image the program paints into and sends to the X server.

#include "settings/settings.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kd {

// size x size pixels of 4 bytes, 0x00RRGGBB in the server's image byte order, rows packed.
struct PixelBuffer {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool lsb_first = true; // bytes B, G, R, 0 when true; 0, R, G, B when false
    std::vector<std::uint8_t> bytes;
};

// Zero-filled.
PixelBuffer make_pixel_buffer(std::uint32_t width, std::uint32_t height, bool lsb_first);

// Every byte 0 (black).
void clear_pixels(PixelBuffer& buffer);

// One pixel's four bytes as the buffer stores them: colour x intensity in its byte order.
using StoredPixel = std::array<std::uint8_t, 4>;
StoredPixel stored_pixel(const PixelBuffer& buffer, Rgb color, float intensity);

// Overwrites the pixel at (column, row), which the caller has checked lies inside the buffer.
inline void store_pixel(PixelBuffer& buffer, std::uint32_t column, std::uint32_t row,
                        const StoredPixel& pixel)
{
    std::memcpy(buffer.bytes.data() + (static_cast<std::size_t>(row) * buffer.width + column) * 4,
                pixel.data(), pixel.size());
}

// Overwrites one pixel with a converted value; outside the buffer nothing happens.
inline void put_stored_pixel(PixelBuffer& buffer, std::int32_t x, std::int32_t y,
                             const StoredPixel& pixel)
{
    if (x < 0 || y < 0) return;
    const auto column = static_cast<std::uint32_t>(x);
    const auto row = static_cast<std::uint32_t>(y);
    if (column >= buffer.width || row >= buffer.height) return;
    store_pixel(buffer, column, row, pixel);
}

// A float position turned into a pixel index: truncated toward zero, saturating at the
// 32-bit limits, NaN giving 0.
std::int32_t pixel_index(float position);

// The colour stored at (x, y), for tests and tools; black outside the buffer.
Rgb pixel_at(const PixelBuffer& buffer, std::uint32_t x, std::uint32_t y);

} // namespace kd
