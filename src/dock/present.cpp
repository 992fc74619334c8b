#include "dock/present.hpp"

#include "dock/dock_connection.hpp"

namespace kd {

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
    xcb_connection_t* connection = dock_xcb_connection(window);
    const auto side = static_cast<std::uint16_t>(window.size);
    // Large requests go out straight from the buffer; libxcb switches to BIG-REQUESTS itself.
    xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window.face_window, window.gc, side, side, 0, 0, 0,
                  window.depth, static_cast<std::uint32_t>(buffer.bytes.size()), buffer.bytes.data());
    xcb_flush(connection);
    // A request too long for the server shuts the connection down rather than failing alone.
    if (auto lost = connection_error(connection)) return std::unexpected(*lost);
    return {};
}

} // namespace kd
