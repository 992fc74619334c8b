#include "face/pixel_buffer.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kd {

PixelBuffer make_pixel_buffer(std::uint32_t width, std::uint32_t height, bool lsb_first)
{
    PixelBuffer buffer;
    buffer.width = width;
    buffer.height = height;
    buffer.lsb_first = lsb_first;
    buffer.bytes.assign(static_cast<std::size_t>(width) * height * 4, 0);
    return buffer;
}

void clear_pixels(PixelBuffer& buffer)
{
    if (!buffer.bytes.empty()) std::memset(buffer.bytes.data(), 0, buffer.bytes.size());
}

std::int32_t pixel_index(float position)
{
    if (std::isnan(position)) return 0;
    // Compare in float against the first values that no longer fit.
    if (position >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (position <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(position);
}

namespace {

std::uint8_t scaled_component(std::uint8_t component, float intensity)
{
    const float value = std::clamp(static_cast<float>(component) * intensity, 0.0f, 255.0f);
    // NaN survives clamp; it must not reach the integer conversion.
    if (std::isnan(value)) return 0;
    return static_cast<std::uint8_t>(value);
}

} // namespace

StoredPixel stored_pixel(const PixelBuffer& buffer, Rgb color, float intensity)
{
    const std::uint8_t red = scaled_component(color.red, intensity);
    const std::uint8_t green = scaled_component(color.green, intensity);
    const std::uint8_t blue = scaled_component(color.blue, intensity);
    if (buffer.lsb_first) return StoredPixel{blue, green, red, 0};
    return StoredPixel{0, red, green, blue};
}

Rgb pixel_at(const PixelBuffer& buffer, std::uint32_t x, std::uint32_t y)
{
    if (x >= buffer.width || y >= buffer.height) return Rgb{};
    const std::uint8_t* pixel =
        buffer.bytes.data() + (static_cast<std::size_t>(y) * buffer.width + x) * 4;
    if (buffer.lsb_first) return Rgb{pixel[2], pixel[1], pixel[0]};
    return Rgb{pixel[1], pixel[2], pixel[3]};
}

} // namespace kd
