#include "face/glyph_raster.hpp"

#include <algorithm>
#include <bitset>
#include <cstdlib>

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
                 const std::vector<PlacedGlyph>& placed, Rgb color)
{
    start_call(raster);
    // Glyph edges repeat the same few coverage values over and over: each one's pixel is
    // worked out once per call, not once per pixel.
    std::array<StoredPixel, 256> shades{};
    std::bitset<256> shaded;
    for (const PlacedGlyph& glyph : placed) {
        const GlyphBoxMemo* memo = rendered_glyph(face, raster, glyph.glyph);
        if (memo == nullptr) continue;
        const std::int32_t left = pixel_index(glyph.origin_x + static_cast<float>(memo->left));
        const std::int32_t top = pixel_index(glyph.baseline_y - static_cast<float>(memo->top));
        for (unsigned r = 0; r < memo->rows; ++r) {
            const unsigned char* row =
                raster.coverage.data() + memo->coverage + std::size_t{r} * memo->width;
            const std::int64_t pixel_y = static_cast<std::int64_t>(top) + r;
            if (pixel_y < 0 || pixel_y >= buffer.height) continue;
            for (unsigned c = 0; c < memo->width; ++c) {
                const unsigned char coverage = row[c];
                if (coverage == 0) continue;
                const std::int64_t pixel_x = static_cast<std::int64_t>(left) + c;
                if (pixel_x < 0 || pixel_x >= buffer.width) continue;
                if (!shaded[coverage]) {
                    shades[coverage] =
                        stored_pixel(buffer, color, static_cast<float>(coverage) / 255.0f);
                    shaded.set(coverage);
                }
                store_pixel(buffer, static_cast<std::uint32_t>(pixel_x),
                            static_cast<std::uint32_t>(pixel_y), shades[coverage]);
            }
        }
    }
}

} // namespace kd
