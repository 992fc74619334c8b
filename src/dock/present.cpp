#include "dock/present.hpp"

#include "dock/dock_connection.hpp"

#include <algorithm>

namespace kd {

namespace {

constexpr std::size_t PUT_IMAGE_HEADER = 24;
// The 32-bit length that a request over the core limit carries after its first four bytes.
constexpr std::size_t BIG_LENGTH_FIELD = 4;

// How many rows one PutImage may carry: the whole frame unless the server's request limit is
// lower (a capped BIG-REQUESTS, or none at all), then the most whole rows that fit.
std::uint32_t rows_per_request(DockWindow& window, xcb_connection_t* connection)
{
    const std::size_t row_bytes = std::size_t{4} * window.size;
    const std::size_t whole = PUT_IMAGE_HEADER + row_bytes * window.size;
    if (whole <= std::size_t{xcb_get_setup(connection)->maximum_request_length} * 4)
        return window.size;
    if (window.max_request_units == 0)
        window.max_request_units = xcb_get_maximum_request_length(connection);
    const std::size_t limit = std::size_t{window.max_request_units} * 4;
    if (whole + BIG_LENGTH_FIELD <= limit) return window.size;
    // Not even one row would fit (or the connection has just failed): one row a request, and
    // a refusal comes back as the connection's error.
    if (limit < PUT_IMAGE_HEADER + BIG_LENGTH_FIELD + row_bytes) return 1;
    return static_cast<std::uint32_t>((limit - PUT_IMAGE_HEADER - BIG_LENGTH_FIELD) / row_bytes);
}

} // namespace

std::expected<void, Error> present_frame(DockWindow& window, const PixelBuffer& buffer)
{
    // A buffer of another shape would make the request read past its end.
    const std::size_t expected_bytes = std::size_t{4} * window.size * window.size;
    if (buffer.width != window.size || buffer.height != window.size ||
        buffer.bytes.size() != expected_bytes || buffer.lsb_first != window.lsb_first ||
        buffer.channels.has_value() != window.channels.has_value()) {
        return std::unexpected(description(
            "frame of " + std::to_string(buffer.width) + "x" + std::to_string(buffer.height) +
            " pixels (" + std::to_string(buffer.bytes.size()) +
            " bytes) does not fit the window of " + std::to_string(window.size) + "x" +
            std::to_string(window.size)));
    }
    // Painted in the server's own format: the pixels go out as they are.
    const std::uint8_t* pixels = buffer.bytes.data();
    xcb_connection_t* connection = dock_xcb_connection(window);
    const auto side = static_cast<std::uint16_t>(window.size);
    const std::size_t row_bytes = std::size_t{4} * window.size;
    const std::uint32_t band = rows_per_request(window, connection);
    // Large requests go out straight from the buffer; libxcb switches to BIG-REQUESTS itself.
    for (std::uint32_t top = 0; top < window.size; top += band) {
        const std::uint32_t rows = std::min(band, window.size - top);
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window.face_window, window.gc, side,
                      static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(top), 0,
                      window.depth, static_cast<std::uint32_t>(rows * row_bytes),
                      pixels + top * row_bytes);
    }
    xcb_flush(connection);
    // A request too long for the server shuts the connection down rather than failing alone.
    if (auto alive = check_connection(connection); !alive) return std::unexpected(alive.error());
    return {};
}

} // namespace kd
