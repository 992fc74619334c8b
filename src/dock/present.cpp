#include "dock/present.hpp"

#include "dock/dock_connection.hpp"

namespace kd {

namespace {

// The painted frame, 0x00RRGGBB, into the server's own layout; both in its byte order.
void convert_frame(const ChannelTables& tables, bool lsb_first, const std::vector<std::uint8_t>& painted,
                   std::vector<std::uint8_t>& out)
{
    const std::uint8_t* from = painted.data();
    std::uint8_t* to = out.data();
    const std::size_t length = painted.size();
    if (lsb_first) {
        for (std::size_t i = 0; i < length; i += 4) {
            const std::uint32_t value = tables.red[from[i + 2]] | tables.green[from[i + 1]] | tables.blue[from[i]];
            to[i] = static_cast<std::uint8_t>(value);
            to[i + 1] = static_cast<std::uint8_t>(value >> 8);
            to[i + 2] = static_cast<std::uint8_t>(value >> 16);
            to[i + 3] = static_cast<std::uint8_t>(value >> 24);
        }
    } else {
        for (std::size_t i = 0; i < length; i += 4) {
            const std::uint32_t value =
                tables.red[from[i + 1]] | tables.green[from[i + 2]] | tables.blue[from[i + 3]];
            to[i] = static_cast<std::uint8_t>(value >> 24);
            to[i + 1] = static_cast<std::uint8_t>(value >> 16);
            to[i + 2] = static_cast<std::uint8_t>(value >> 8);
            to[i + 3] = static_cast<std::uint8_t>(value);
        }
    }
}

} // namespace

std::expected<void, Error> present_frame(DockWindow& window, const PixelBuffer& buffer)
{
    // A buffer of another shape would make the request read past its end.
    const std::size_t expected_bytes = std::size_t{4} * window.size * window.size;
    if (buffer.width != window.size || buffer.height != window.size || buffer.bytes.size() != expected_bytes ||
        buffer.lsb_first != window.lsb_first) {
        return std::unexpected(description("frame of " + std::to_string(buffer.width) + "x" +
                                           std::to_string(buffer.height) + " pixels (" +
                                           std::to_string(buffer.bytes.size()) +
                                           " bytes) does not fit the window of " + std::to_string(window.size) +
                                           "x" + std::to_string(window.size)));
    }
    const std::uint8_t* pixels = buffer.bytes.data();
    if (window.channels) {
        convert_frame(*window.channels, window.lsb_first, buffer.bytes, window.converted);
        pixels = window.converted.data();
    }
    xcb_connection_t* connection = dock_xcb_connection(window);
    const auto side = static_cast<std::uint16_t>(window.size);
    // Large requests go out straight from the buffer; libxcb switches to BIG-REQUESTS itself.
    xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window.face_window, window.gc, side, side, 0, 0, 0,
                  window.depth, static_cast<std::uint32_t>(buffer.bytes.size()), pixels);
    xcb_flush(connection);
    // A request too long for the server shuts the connection down rather than failing alone.
    if (auto lost = connection_error(connection)) return std::unexpected(*lost);
    return {};
}

} // namespace kd
