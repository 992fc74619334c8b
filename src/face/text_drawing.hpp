#pragma once
// Measuring and drawing one run of text with the font. Every call lays the text out in the
// font's own scratch (its size, shaping buffer and glyph slot), so the font is lent mutably.

#include "face/font.hpp"
#include "face/pixel_buffer.hpp"

#include <optional>
#include <string_view>

namespace kd {

enum class TextAlign { Left, Center };

struct InkExtent {
    float top = 0;
    float bottom = 0;
};

// The largest x + width of the laid-out glyph boxes; 0 for an empty text.
float text_width(Font& font, std::string_view text, float size);

// Where ink begins and ends vertically, for a layout whose top is at y = 0.
std::optional<InkExtent> ink_extent(Font& font, std::string_view text, float size);

// The start of the text that could be seen when all of it is drawn on one line no wider than
// max_width pixels, at whatever size that takes; the rest is cut off at a character boundary.
// Costs in proportion to what it keeps, however long the text.
std::string_view legible_prefix(Font& font, std::string_view text, float max_width);

// Lays the text out with its box's top-left at (x, y), wrapping at word boundaries within
// max_width, and overwrites each covered pixel with colour x coverage.
void draw_text(PixelBuffer& buffer, Font& font, std::string_view text, float size, float x, float y,
               float max_width, TextAlign align, Rgb color);

} // namespace kd
