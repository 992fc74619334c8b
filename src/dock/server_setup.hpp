#pragma once
// The connection set-up that the X server sent, read only within its own length. libxcb takes
// the counts in it on trust, and so do its iterators: a server that announces more screens,
// depths, visuals or formats than it sends would have them read past the end of the buffer.

#include "base/error.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

namespace kd {

struct PixmapFormat {
    std::uint8_t depth = 0;
    std::uint8_t bits_per_pixel = 0;
};

struct VisualMasks {
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
};

struct SetupScreen {
    std::uint32_t root = 0;
    std::uint32_t black_pixel = 0;
    std::uint32_t root_visual = 0;
    std::uint8_t root_depth = 0;
    // From the first visual of the root visual's id among the screen's depths; nothing when
    // no depth lists it.
    std::optional<VisualMasks> root_visual_masks;
};

struct ServerSetup {
    bool lsb_first = true;
    std::vector<PixmapFormat> pixmap_formats;
    std::vector<SetupScreen> screens;
};

// A set-up reply of status Success, from its first byte to the end that its length field
// gives. The error says what lies past that end or breaks the protocol's promises (a longest
// request under 16384 bytes, an image byte order that is neither, no screen at all).
std::expected<ServerSetup, Error> read_server_setup(std::span<const std::uint8_t> bytes);

} // namespace kd
