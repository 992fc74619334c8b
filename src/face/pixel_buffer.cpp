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

StoredPixel in_byte_order(const PixelBuffer& buffer, std::uint8_t red, std::uint8_t green,
                          std::uint8_t blue)
{
    if (buffer.lsb_first) return StoredPixel{blue, green, red, 0};
    return StoredPixel{0, red, green, blue};
}

} // namespace

StoredPixel stored_pixel(const PixelBuffer& buffer, Rgb color)
{
    return in_byte_order(buffer, color.red, color.green, color.blue);
}

ShadeTable shade_table(const PixelBuffer& buffer, Rgb color)
{
    ShadeTable table;
    for (unsigned coverage = 0; coverage < table.size(); ++coverage) {
        const auto level = static_cast<std::uint8_t>(coverage);
        table[coverage] = in_byte_order(buffer, shade(color.red, level), shade(color.green, level),
                                        shade(color.blue, level));
    }
    return table;
}

void fill_row(PixelBuffer& buffer, std::int32_t y, std::int32_t first, std::int32_t last,
              const StoredPixel& pixel)
{
    if (y < 0 || static_cast<std::uint32_t>(y) >= buffer.height) return;
    const std::int64_t from = std::max<std::int64_t>(first, 0);
    const std::int64_t to = std::min<std::int64_t>(last, std::int64_t{buffer.width} - 1);
    std::uint8_t* row = buffer.bytes.data() + std::size_t(y) * buffer.width * 4;
    for (std::int64_t x = from; x <= to; ++x)
        std::memcpy(row + x * 4, pixel.data(), pixel.size());
}

void fill_column(PixelBuffer& buffer, std::int32_t x, std::int32_t first, std::int32_t last,
                 const StoredPixel& pixel)
{
    if (x < 0 || static_cast<std::uint32_t>(x) >= buffer.width) return;
    const std::int64_t from = std::max<std::int64_t>(first, 0);
    const std::int64_t to = std::min<std::int64_t>(last, std::int64_t{buffer.height} - 1);
    const std::size_t stride = std::size_t{buffer.width} * 4;
    std::uint8_t* column = buffer.bytes.data() + std::size_t(x) * 4;
    for (std::int64_t y = from; y <= to; ++y)
        std::memcpy(column + static_cast<std::size_t>(y) * stride, pixel.data(), pixel.size());
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
