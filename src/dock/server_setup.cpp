#include "dock/server_setup.hpp"

#include <xcb/xcb.h>

#include <cstring>
#include <string>

namespace kd {

namespace {

// Every client may send requests of this many 4-byte units; a server that allows fewer
// breaks the protocol, and libxcb deadlocks on its own lock when a request does not fit.
constexpr std::uint16_t LEAST_MAXIMUM_REQUEST_UNITS = 4096;

Error malformed(const std::string& what)
{
    return description("the X server sent a malformed connection set-up: " + what);
}

// The bytes of the set-up one record after the other, each taken only when it is all there.
struct SetupCursor {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;

    // The next `length` bytes; nothing when they run past the end.
    std::optional<std::span<const std::uint8_t>> take(std::size_t length)
    {
        if (length > bytes.size() - at) return std::nullopt;
        const auto part = bytes.subspan(at, length);
        at += length;
        return part;
    }

    // The next record as the xcb struct of that layout (the set-up is in our byte order).
    template <typename Record> std::optional<Record> take_record()
    {
        const auto part = take(sizeof(Record));
        if (!part) return std::nullopt;
        Record record;
        std::memcpy(&record, part->data(), sizeof record);
        return record;
    }

    // The error for records that the set-up announces but does not hold.
    Error cannot_hold(const std::string& what, std::size_t announced) const
    {
        return malformed("its " + std::to_string(bytes.size()) + " bytes cannot hold " + what +
                         " (" + std::to_string(announced) + ")");
    }
};

std::optional<VisualMasks> masks_of(std::span<const std::uint8_t> visuals, std::uint32_t wanted)
{
    for (std::size_t at = 0; at < visuals.size(); at += sizeof(xcb_visualtype_t)) {
        xcb_visualtype_t visual;
        std::memcpy(&visual, visuals.data() + at, sizeof visual);
        if (visual.visual_id == wanted)
            return VisualMasks{visual.red_mask, visual.green_mask, visual.blue_mask};
    }
    return std::nullopt;
}

std::expected<SetupScreen, Error> read_screen(SetupCursor& cursor, std::size_t number,
                                              std::size_t count)
{
    const auto fixed = cursor.take_record<xcb_screen_t>();
    if (!fixed) {
        return std::unexpected(cursor.cannot_hold("the screens it announces", count));
    }
    const std::string of_screen = " of screen " + std::to_string(number);
    SetupScreen screen{fixed->root, fixed->black_pixel, fixed->root_visual, fixed->root_depth,
                       std::nullopt};
    for (int i = 0; i < fixed->allowed_depths_len; ++i) {
        const auto depth = cursor.take_record<xcb_depth_t>();
        if (!depth) {
            return std::unexpected(cursor.cannot_hold("the depths it announces" + of_screen,
                                                      fixed->allowed_depths_len));
        }
        const auto visuals =
            cursor.take(std::size_t{depth->visuals_len} * sizeof(xcb_visualtype_t));
        if (!visuals) {
            return std::unexpected(cursor.cannot_hold("the visuals it announces for depth " +
                                                          std::to_string(depth->depth) + of_screen,
                                                      depth->visuals_len));
        }
        if (!screen.root_visual_masks)
            screen.root_visual_masks = masks_of(*visuals, screen.root_visual);
    }
    return screen;
}

} // namespace

std::expected<ServerSetup, Error> read_server_setup(std::span<const std::uint8_t> bytes)
{
    SetupCursor cursor{bytes};
    const auto fixed = cursor.take_record<xcb_setup_t>();
    if (!fixed)
        return std::unexpected(cursor.cannot_hold("the fixed part in bytes", sizeof(xcb_setup_t)));
    if (fixed->maximum_request_length < LEAST_MAXIMUM_REQUEST_UNITS) {
        return std::unexpected(malformed("its longest request is " +
                                         std::to_string(fixed->maximum_request_length * 4) +
                                         " bytes, under the protocol's least of " +
                                         std::to_string(LEAST_MAXIMUM_REQUEST_UNITS * 4)));
    }
    if (fixed->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST &&
        fixed->image_byte_order != XCB_IMAGE_ORDER_MSB_FIRST) {
        return std::unexpected(malformed("its image byte order is " +
                                         std::to_string(fixed->image_byte_order) +
                                         ", neither LSBFirst (0) nor MSBFirst (1)"));
    }
    ServerSetup setup;
    setup.lsb_first = fixed->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;

    // The vendor's name is padded to whole 4-byte units.
    if (!cursor.take((std::size_t{fixed->vendor_len} + 3) & ~std::size_t{3})) {
        return std::unexpected(
            cursor.cannot_hold("the vendor name it announces in bytes", fixed->vendor_len));
    }
    for (int i = 0; i < fixed->pixmap_formats_len; ++i) {
        const auto format = cursor.take_record<xcb_format_t>();
        if (!format) {
            return std::unexpected(
                cursor.cannot_hold("the pixmap formats it announces", fixed->pixmap_formats_len));
        }
        setup.pixmap_formats.push_back({format->depth, format->bits_per_pixel});
    }
    if (fixed->roots_len == 0) return std::unexpected(malformed("it has no screen"));
    for (std::size_t number = 0; number < fixed->roots_len; ++number) {
        auto screen = read_screen(cursor, number, fixed->roots_len);
        if (!screen) return std::unexpected(screen.error());
        setup.screens.push_back(*screen);
    }
    return setup;
}

} // namespace kd
