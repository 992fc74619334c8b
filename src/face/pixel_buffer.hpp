#pragma once
// The one image the program paints into and sends to the X server.

#include "settings/settings.hpp"

#include <cstdint>
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

// Overwrites one pixel with colour x intensity; outside the buffer nothing happens.
void put_pixel(PixelBuffer& buffer, std::int32_t x, std::int32_t y, Rgb color, float intensity);

// A float position turned into a pixel index: truncated toward zero, saturating at the
// 32-bit limits, NaN giving 0.
std::int32_t pixel_index(float position);

// The colour stored at (x, y), for tests and tools; black outside the buffer.
Rgb pixel_at(const PixelBuffer& buffer, std::uint32_t x, std::uint32_t y);

} // namespace kd
