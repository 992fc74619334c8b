#include "face/text_drawing.hpp"

#include "face/text_scratch.hpp"

#include <hb-ft.h>

#include <cmath>
#include <utility>

namespace kd {

TextScratch::TextScratch() = default;
TextScratch::TextScratch(TextScratch&&) noexcept = default;
TextScratch& TextScratch::operator=(TextScratch&&) noexcept = default;
TextScratch::~TextScratch() = default;

namespace {

// Makes the scratch's size and shaper for the face, dropping those of any other.
bool bind_to_face(ScratchData& data, FT_Face face)
{
    data.size.reset();
    data.shaper.reset();
    data.face = nullptr;
    data.char_size = 0;
    if (!data.buffer) data.buffer.reset(hb_buffer_create());
    if (!hb_buffer_allocation_successful(data.buffer.get())) return false;
    HarfBuzzFont shaper(hb_ft_font_create_referenced(face));
    FT_Size size = nullptr;
    if (FT_New_Size(face, &size) != 0) return false;
    data.shaper = std::move(shaper);
    data.size.reset(size);
    hb_ft_font_set_load_flags(data.shaper.get(), GLYPH_LOAD_FLAGS);
    data.face = face;
    return true;
}

// The scratch ready to lay text out in the font at the size, its own size active on the face;
// nullptr for a size that cannot be drawn. FreeType and HarfBuzz are only told of a size when
// it changes.
ScratchData* sized_scratch(const Font& font, TextScratch& scratch, float size)
{
    if (!(size > 0) || !std::isfinite(size) || size > 1.0e6f) return nullptr;
    const long char_size = std::lround(static_cast<double>(size) * 64.0);
    if (char_size < 1) return nullptr;
    const FT_Face face = font.data->face.get();
    if (!scratch.data) scratch.data = std::make_unique<ScratchData>();
    ScratchData& data = *scratch.data;
    if (data.face != face && !bind_to_face(data, face)) return nullptr;
    if (FT_Activate_Size(data.size.get()) != 0) return nullptr;
    if (char_size != data.char_size) {
        data.char_size = 0;
        if (FT_Set_Char_Size(face, 0, char_size, 72, 72) != 0) return nullptr;
        hb_ft_font_changed(data.shaper.get());
        data.char_size = char_size;
    }
    return &data;
}

// The line metrics of the face at its current size.
LineMetrics line_metrics(FT_Face face, float size)
{
    const float scale = size / static_cast<float>(face->units_per_EM);
    return LineMetrics{static_cast<float>(face->ascender) * scale,
                       static_cast<float>(face->height) * scale};
}

// The text laid out in the scratch; nothing for an empty text or a size that cannot be drawn.
ScratchData* laid_out(const Font& font, TextScratch& scratch, std::string_view text, float size,
                      const LayoutBox& box)
{
    if (text.empty()) return nullptr;
    ScratchData* data = sized_scratch(font, scratch, size);
    if (data == nullptr) return nullptr;
    lay_out_lines(data->lines, data->shaper.get(), data->buffer.get(), text, box,
                  line_metrics(data->face, size));
    return data;
}

} // namespace

float text_width(const Font& font, TextScratch& scratch, std::string_view text, float size)
{
    ScratchData* data = laid_out(font, scratch, text, size, LayoutBox{});
    if (data == nullptr) return 0;
    return glyph_bounds(data->face, data->raster, data->lines.placed).right;
}

std::optional<InkExtent> ink_extent(const Font& font, TextScratch& scratch, std::string_view text,
                                    float size)
{
    ScratchData* data = laid_out(font, scratch, text, size, LayoutBox{});
    if (data == nullptr) return std::nullopt;
    return glyph_bounds(data->face, data->raster, data->lines.placed).ink;
}

void draw_text(PixelBuffer& buffer, const Font& font, TextScratch& scratch, std::string_view text,
               float size, float x, float y, float max_width, TextAlign align,
               const ShadeTable& shades)
{
    ScratchData* data =
        laid_out(font, scratch, text, size, LayoutBox{x, y, max_width, true, align});
    if (data == nullptr) return;
    draw_glyphs(buffer, data->face, data->raster, data->lines.placed, shades);
}

} // namespace kd
