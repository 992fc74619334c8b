#include "face/pixel_buffer.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace kd {

namespace {

struct ChannelBits {
    int shift = 0;
    int width = 0;
};

// A mask as one run of set bits; nothing for an empty or broken run.
std::optional<ChannelBits> channel_bits(std::uint32_t mask)
{
    if (mask == 0) return std::nullopt;
    const int shift = std::countr_zero(mask);
    const std::uint32_t run = mask >> shift;
    if ((run & (run + 1)) != 0) return std::nullopt;
    return ChannelBits{shift, std::popcount(run)};
}

// 0 stays 0 and 255 becomes the channel's full value; between them the nearest value.
std::array<std::uint32_t, 256> scaled_channel(ChannelBits bits)
{
    const std::uint64_t full = (std::uint64_t{1} << bits.width) - 1;
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t value = 0; value < table.size(); ++value) {
        table[value] = static_cast<std::uint32_t>(((value * full + 127) / 255) << bits.shift);
    }
    return table;
}

} // namespace

std::optional<ChannelTables> channel_tables(std::uint32_t red_mask, std::uint32_t green_mask,
                                            std::uint32_t blue_mask)
{
    if (red_mask == 0xff0000 && green_mask == 0xff00 && blue_mask == 0xff) return std::nullopt;
    const auto red = channel_bits(red_mask);
    const auto green = channel_bits(green_mask);
    const auto blue = channel_bits(blue_mask);
    if (!red || !green || !blue || (red_mask & green_mask) != 0 || (red_mask & blue_mask) != 0 ||
        (green_mask & blue_mask) != 0) {
        return std::nullopt;
    }
    return ChannelTables{scaled_channel(*red), scaled_channel(*green), scaled_channel(*blue)};
}

PixelBuffer make_pixel_buffer(std::uint32_t width, std::uint32_t height, bool lsb_first,
                              const std::optional<ChannelTables>& channels)
{
    PixelBuffer buffer;
    buffer.width = width;
    buffer.height = height;
    buffer.lsb_first = lsb_first;
    buffer.channels = channels;
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

// The pixel of the three components in the buffer's format: worked out here, once for each
// distinct value a frame writes, and never converted afterwards.
StoredPixel in_buffer_format(const PixelBuffer& buffer, std::uint8_t red, std::uint8_t green,
                             std::uint8_t blue)
{
    const std::uint32_t value = buffer.channels
                                    ? buffer.channels->red[red] | buffer.channels->green[green] |
                                          buffer.channels->blue[blue]
                                    : std::uint32_t{red} << 16 | std::uint32_t{green} << 8 | blue;
    const auto byte = [value](int shift) { return static_cast<std::uint8_t>(value >> shift); };
    if (buffer.lsb_first) return StoredPixel{byte(0), byte(8), byte(16), byte(24)};
    return StoredPixel{byte(24), byte(16), byte(8), byte(0)};
}

} // namespace

StoredPixel stored_pixel(const PixelBuffer& buffer, Rgb color)
{
    return in_buffer_format(buffer, color.red, color.green, color.blue);
}

ShadeTable shade_table(const PixelBuffer& buffer, Rgb color)
{
    ShadeTable table;
    for (unsigned coverage = 0; coverage < table.size(); ++coverage) {
        const auto level = static_cast<std::uint8_t>(coverage);
        table[coverage] = in_buffer_format(buffer, shade(color.red, level),
                                           shade(color.green, level), shade(color.blue, level));
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
