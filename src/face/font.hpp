#pragma once
// Reading and parsing a font file into the FreeType objects that draw it.

#include "base/error.hpp"

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kd {

inline constexpr std::uint64_t MAX_FONT_FILE_SIZE = 10485760;

// The whole file, or the reason it could not be read ("No such file or directory (os error
// 2)", "Font file too large (...)", "Not a regular file" for FIFOs and devices, which could
// block or never end). At most MAX_FONT_FILE_SIZE + 1 bytes are ever read.
std::expected<std::vector<std::uint8_t>, Error> read_font_file(const std::string& path);

struct FontData; // FreeType library and face, owned

// A parsed font. Move-only; owns its bytes and its FreeType objects. Drawing changes nothing of
// it but the face's active size and glyph slot, which every drawing call sets up for itself:
// one thread at a time.
struct Font {
    std::unique_ptr<FontData> data;
    int units_per_em = 0;
    std::optional<int> ascender; // font units, when the font has horizontal line metrics

    Font();
    Font(Font&&) noexcept;
    Font& operator=(Font&&) noexcept;
    ~Font();
};

// "Failed to parse font: {reason}" on failure.
std::expected<Font, Error> load_font(std::vector<std::uint8_t> bytes);

} // namespace kd
