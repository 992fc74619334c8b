#pragma once
// Measuring and drawing one run of text with the font: the one place the face layout asks.
// Every call lays the text out afresh in a TextScratch, the working memory that it reuses.

#include "face/font.hpp"
#include "face/pixel_buffer.hpp"

#include <memory>
#include <optional>
#include <string_view>

namespace kd {

enum class TextAlign { Left, Center };

struct InkExtent {
    float top = 0;
    float bottom = 0;
};

struct ScratchData; // FreeType size, HarfBuzz font and buffer, glyph and line vectors

// What laying text out needs besides the font: a size and a shaper of its own, and the
// vectors that every layout fills. Made at the first layout (for that font, and anew if it is
// given another) and reused by every later one, so that painting a frame allocates next to
// nothing. One thread at a time; it must not outlive the font it was last used with.
struct TextScratch {
    std::unique_ptr<ScratchData> data;

    TextScratch();
    TextScratch(TextScratch&&) noexcept;
    TextScratch& operator=(TextScratch&&) noexcept;
    ~TextScratch();
};

// The largest x + width of the laid-out glyph boxes; 0 for an empty text.
float text_width(const Font& font, TextScratch& scratch, std::string_view text, float size);

// Where ink begins and ends vertically, for a layout whose top is at y = 0.
std::optional<InkExtent> ink_extent(const Font& font, TextScratch& scratch, std::string_view text,
                                    float size);

// Lays the text out with its box's top-left at (x, y), wrapping at word boundaries within
// max_width, and overwrites each covered pixel with the shade of its coverage: the colour's
// shade_table.
void draw_text(PixelBuffer& buffer, const Font& font, TextScratch& scratch, std::string_view text,
               float size, float x, float y, float max_width, TextAlign align,
               const ShadeTable& shades);

} // namespace kd
