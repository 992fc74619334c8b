#include "face/glyph_raster.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kd {

namespace {

// Forgets the glyphs of the previous call: they may be of another size.
void start_call(GlyphRaster& raster)
{
    if (++raster.layout_serial == 0) {
        raster.boxes.fill(GlyphBoxMemo{});
        raster.layout_serial = 1;
    }
    raster.coverage.clear();
}

// The bitmap box of the glyph in the slot, which FreeType sets up on loading.
void remember_box(GlyphBoxMemo& memo, const FT_GlyphSlot slot)
{
    memo.drawable = true;
    memo.left = slot->bitmap_left;
    memo.top = slot->bitmap_top;
    memo.width = slot->bitmap.width;
    memo.rows = slot->bitmap.rows;
}

// The glyph loaded at the current size, once per call however often it recurs.
const GlyphBoxMemo& loaded_glyph(FT_Face face, GlyphRaster& raster, std::uint32_t glyph)
{
    GlyphBoxMemo& memo = raster.boxes[glyph % raster.boxes.size()];
    if (memo.layout != raster.layout_serial || memo.glyph != glyph) {
        memo = GlyphBoxMemo{glyph, raster.layout_serial};
        if (FT_Load_Glyph(face, glyph, GLYPH_LOAD_FLAGS) == 0 &&
            face->glyph->format == FT_GLYPH_FORMAT_OUTLINE)
            remember_box(memo, face->glyph);
    }
    return memo;
}

// The glyph rendered at the current size, once per call however often it recurs; nullptr
// when it has nothing to draw.
const GlyphBoxMemo* rendered_glyph(FT_Face face, GlyphRaster& raster, std::uint32_t glyph)
{
    GlyphBoxMemo& memo = raster.boxes[glyph % raster.boxes.size()];
    if (memo.layout == raster.layout_serial && memo.glyph == glyph)
        return memo.drawable ? &memo : nullptr;
    memo = GlyphBoxMemo{glyph, raster.layout_serial};
    if (FT_Load_Glyph(face, glyph, GLYPH_LOAD_FLAGS) != 0) return nullptr;
    const FT_GlyphSlot slot = face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return nullptr;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return nullptr;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.buffer == nullptr) return nullptr;

    remember_box(memo, slot);
    memo.coverage = raster.coverage.size();
    const std::size_t stride = static_cast<std::size_t>(std::abs(bitmap.pitch));
    for (unsigned r = 0; r < bitmap.rows; ++r) {
        // A negative pitch stores the rows bottom-up.
        const unsigned stored_row = bitmap.pitch >= 0 ? r : bitmap.rows - 1 - r;
        const unsigned char* row = bitmap.buffer + stored_row * stride;
        raster.coverage.insert(raster.coverage.end(), row, row + bitmap.width);
    }
    return &memo;
}

} // namespace

GlyphBounds glyph_bounds(FT_Face face, GlyphRaster& raster, const std::vector<PlacedGlyph>& placed)
{
    start_call(raster);
    GlyphBounds bounds;
    for (const PlacedGlyph& glyph : placed) {
        const GlyphBoxMemo& memo = loaded_glyph(face, raster, glyph.glyph);
        if (!memo.drawable) continue;
        const float x = glyph.origin_x + static_cast<float>(memo.left);
        const float y = glyph.baseline_y - static_cast<float>(memo.top);
        bounds.right = std::max(bounds.right, x + static_cast<float>(memo.width));
        if (memo.width == 0 || memo.rows == 0) continue;
        const float bottom = y + static_cast<float>(memo.rows);
        if (!bounds.ink) {
            bounds.ink = InkExtent{y, bottom};
        } else {
            bounds.ink->top = std::min(bounds.ink->top, y);
            bounds.ink->bottom = std::max(bounds.ink->bottom, bottom);
        }
    }
    return bounds;
}

void draw_glyphs(PixelBuffer& buffer, FT_Face face, GlyphRaster& raster,
                 const std::vector<PlacedGlyph>& placed, const ShadeTable& shades)
{
    start_call(raster);
    const std::size_t stride = std::size_t{buffer.width} * 4;
    for (const PlacedGlyph& glyph : placed) {
        const GlyphBoxMemo* memo = rendered_glyph(face, raster, glyph.glyph);
        if (memo == nullptr) continue;
        const std::int64_t left = pixel_index(glyph.origin_x + static_cast<float>(memo->left));
        const std::int64_t top = pixel_index(glyph.baseline_y - static_cast<float>(memo->top));
        // The rows and columns of the glyph that fall inside the buffer, worked out once.
        const std::int64_t first_row = std::max<std::int64_t>(0, -top);
        const std::int64_t end_row = std::min<std::int64_t>(memo->rows, buffer.height - top);
        const std::int64_t first_column = std::max<std::int64_t>(0, -left);
        const std::int64_t end_column = std::min<std::int64_t>(memo->width, buffer.width - left);
        if (first_row >= end_row || first_column >= end_column) continue;
        const auto columns = static_cast<std::size_t>(end_column - first_column);
        for (std::int64_t row = first_row; row < end_row; ++row) {
            const unsigned char* from = raster.coverage.data() + memo->coverage +
                                        static_cast<std::size_t>(row) * memo->width +
                                        static_cast<std::size_t>(first_column);
            std::uint8_t* to = buffer.bytes.data() + static_cast<std::size_t>(top + row) * stride +
                               static_cast<std::size_t>(left + first_column) * 4;
            for (std::size_t column = 0; column < columns; ++column) {
                // Where there is no ink the pixel keeps what is there.
                if (const unsigned char coverage = from[column]; coverage != 0)
                    std::memcpy(to + column * 4, shades[coverage].data(), 4);
            }
        }
    }
}

} // namespace kd
