#pragma once
// Glyphs as pixels: their bitmap boxes, their coverage, and writing them into the buffer.
// Part of the text drawing; not of the face's public interface.

#include "face/font_data.hpp"
#include "face/line_breaking.hpp"
#include "face/pixel_buffer.hpp"
#include "face/text_drawing.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kd {

// A glyph's bitmap box at the face's current size, as loading the glyph sets it up.
struct GlyphBoxMemo {
    std::uint32_t glyph = 0;
    std::uint32_t layout = 0; // the call it was worked out in; 0 for none
    bool drawable = false;    // loaded as an outline and, when drawing, rendered
    FT_Int left = 0;
    FT_Int top = 0;
    unsigned width = 0;
    unsigned rows = 0;
    std::size_t coverage = 0; // when drawing: where its rendered rows start in `coverage`
};

// The glyphs met in one measuring or drawing call, so that a glyph that recurs in a long text
// is loaded and rendered once; a slot counts only when its call is the current one.
struct GlyphRaster {
    std::array<GlyphBoxMemo, 256> boxes{};
    std::uint32_t layout_serial = 0;
    std::vector<unsigned char> coverage; // rendered rows, top down, width bytes each
};

// What the placed glyphs' boxes span.
struct GlyphBounds {
    float right = 0;              // the largest x + width, at least 0
    std::optional<InkExtent> ink; // over the boxes that have pixels
};

// Loads each glyph at the face's current size for its box.
GlyphBounds glyph_bounds(FT_Face face, GlyphRaster& raster, const std::vector<PlacedGlyph>& placed);

// Renders each glyph at the face's current size and overwrites every pixel it covers with
// the shade of its coverage; pixels outside the buffer are skipped.
void draw_glyphs(PixelBuffer& buffer, FT_Face face, GlyphRaster& raster,
                 const std::vector<PlacedGlyph>& placed, const ShadeTable& shades);

} // namespace kd
