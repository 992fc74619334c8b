#include "face/text_drawing.hpp"

#include "face/font_data.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>

namespace kd {

namespace {

// Where the layout engine breaks lines: ordinary blanks only.
bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Puts the face at the size; FreeType and HarfBuzz are only told when it changes.
bool set_size(FontData& data, float size)
{
    if (!(size > 0) || !std::isfinite(size) || size > 1.0e6f) return false;
    const long char_size = std::lround(static_cast<double>(size) * 64.0);
    if (char_size < 1) return false;
    if (char_size == data.current_char_size) return true;
    data.current_char_size = 0;
    if (FT_Set_Char_Size(data.face.get(), 0, char_size, 72, 72) != 0) return false;
    hb_ft_font_changed(data.shaper.get());
    data.current_char_size = char_size;
    return true;
}

struct LayoutBox {
    float x = 0;
    float y = 0;
    float max_width = 0;
    bool wraps = false;
    TextAlign align = TextAlign::Left;
};

// Places one hard line (text[start, start + length)), wrapping greedily at blanks by shaped
// advance. Returns how many visual lines it took.
int place_line(FontData& data, std::string_view text, std::size_t start, std::size_t length,
               const LayoutBox& box, float ascent, float line_height, int first_line)
{
    hb_buffer_t* buffer = data.shaping_buffer.get();
    hb_buffer_clear_contents(buffer);
    hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()),
                       static_cast<unsigned>(start), static_cast<int>(length));
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(data.shaper.get(), buffer, nullptr, 0);

    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    if (count == 0) return 1;

    std::vector<float>& pens = data.pens;
    pens.resize(count + 1);
    pens[0] = 0;
    for (unsigned i = 0; i < count; ++i)
        pens[i + 1] = pens[i] + static_cast<float>(positions[i].x_advance) / 64.0f;
    const auto blank = [&](std::size_t i) {
        const std::size_t cluster = infos[i].cluster;
        return cluster < text.size() && is_blank(text[cluster]);
    };

    int lines = 0;
    std::size_t begin = 0;
    while (begin < count || lines == 0) {
        std::size_t end = begin;
        std::size_t next = begin;
        bool has_word = false;
        while (next < count) {
            std::size_t word = next;
            while (word < count && blank(word)) ++word;
            std::size_t word_end = word;
            while (word_end < count && !blank(word_end)) ++word_end;
            if (word_end == word) { // only blanks left: they stay on this line
                end = next = count;
                break;
            }
            if (box.wraps && has_word && pens[word_end] - pens[begin] > box.max_width) break;
            end = next = word_end;
            has_word = true;
        }

        const float advance = pens[end] - pens[begin];
        float line_x = box.x;
        if (box.align == TextAlign::Center && box.wraps) line_x += (box.max_width - advance) * 0.5f;
        const float baseline =
            box.y + static_cast<float>(first_line + lines) * line_height + ascent;
        for (std::size_t i = begin; i < end; ++i) {
            data.placed.push_back(PlacedGlyph{
                infos[i].codepoint,
                line_x + (pens[i] - pens[begin]) + static_cast<float>(positions[i].x_offset) / 64.0f,
                baseline - static_cast<float>(positions[i].y_offset) / 64.0f});
        }
        ++lines;
        begin = next;
        while (begin < count && blank(begin)) ++begin; // the blanks at a wrap vanish
        if (next >= count) break;
    }
    return lines;
}

// Fills data.placed with every glyph of the text; nothing for a size that cannot be drawn.
void lay_out(FontData& data, std::string_view text, float size, const LayoutBox& box)
{
    data.placed.clear();
    if (text.empty() || !set_size(data, size)) return;
    const FT_Face face = data.face.get();
    const float scale = size / static_cast<float>(face->units_per_EM);
    const float ascent = static_cast<float>(face->ascender) * scale;
    const float line_height = static_cast<float>(face->height) * scale;

    int line = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t newline = text.find('\n', start);
        std::size_t length = (newline == std::string_view::npos ? text.size() : newline) - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;
        line += place_line(data, text, start, length, box, ascent, line_height, line);
        if (newline == std::string_view::npos) break;
        start = newline + 1;
    }
}

struct GlyphBox {
    float x = 0;
    float y = 0;
    unsigned width = 0;
    unsigned height = 0;
};

// The bitmap box of a loaded glyph; FreeType sets it up on loading, before any rendering.
GlyphBox loaded_box(const FT_GlyphSlot slot, const PlacedGlyph& glyph)
{
    return GlyphBox{glyph.origin_x + static_cast<float>(slot->bitmap_left),
                    glyph.baseline_y - static_cast<float>(slot->bitmap_top), slot->bitmap.width,
                    slot->bitmap.rows};
}

template <typename Visit> void for_each_box(FontData& data, Visit visit)
{
    const FT_Face face = data.face.get();
    for (const PlacedGlyph& glyph : data.placed) {
        if (FT_Load_Glyph(face, glyph.glyph, GLYPH_LOAD_FLAGS) != 0) continue;
        if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) continue;
        visit(loaded_box(face->glyph, glyph));
    }
}

} // namespace

float text_width(const Font& font, std::string_view text, float size)
{
    FontData& data = *font.data;
    lay_out(data, text, size, LayoutBox{});
    float width = 0;
    for_each_box(data, [&](const GlyphBox& box) {
        width = std::max(width, box.x + static_cast<float>(box.width));
    });
    return width;
}

std::optional<InkExtent> ink_extent(const Font& font, std::string_view text, float size)
{
    FontData& data = *font.data;
    lay_out(data, text, size, LayoutBox{});
    std::optional<InkExtent> extent;
    for_each_box(data, [&](const GlyphBox& box) {
        if (box.width == 0 || box.height == 0) return;
        const float bottom = box.y + static_cast<float>(box.height);
        if (!extent) {
            extent = InkExtent{box.y, bottom};
        } else {
            extent->top = std::min(extent->top, box.y);
            extent->bottom = std::max(extent->bottom, bottom);
        }
    });
    return extent;
}

void draw_text(PixelBuffer& buffer, const Font& font, std::string_view text, float size, float x,
               float y, float max_width, TextAlign align, Rgb color)
{
    FontData& data = *font.data;
    lay_out(data, text, size, LayoutBox{x, y, max_width, true, align});
    const FT_Face face = data.face.get();
    // Glyph edges repeat the same few coverage values over and over: each one's pixel is
    // worked out once per call, not once per pixel.
    std::array<StoredPixel, 256> shades{};
    std::bitset<256> shaded;
    for (const PlacedGlyph& glyph : data.placed) {
        if (FT_Load_Glyph(face, glyph.glyph, GLYPH_LOAD_FLAGS) != 0) continue;
        const FT_GlyphSlot slot = face->glyph;
        if (slot->format != FT_GLYPH_FORMAT_OUTLINE) continue;
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) continue;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.buffer == nullptr) continue;

        const GlyphBox box = loaded_box(slot, glyph);
        const std::int32_t left = pixel_index(box.x);
        const std::int32_t top = pixel_index(box.y);
        const std::size_t stride = static_cast<std::size_t>(std::abs(bitmap.pitch));
        for (unsigned r = 0; r < bitmap.rows; ++r) {
            // A negative pitch stores the rows bottom-up.
            const unsigned stored_row = bitmap.pitch >= 0 ? r : bitmap.rows - 1 - r;
            const unsigned char* row = bitmap.buffer + stored_row * stride;
            const std::int64_t pixel_y = static_cast<std::int64_t>(top) + r;
            if (pixel_y < 0 || pixel_y >= buffer.height) continue;
            for (unsigned c = 0; c < bitmap.width; ++c) {
                const unsigned char coverage = row[c];
                if (coverage == 0) continue;
                const std::int64_t pixel_x = static_cast<std::int64_t>(left) + c;
                if (pixel_x < 0 || pixel_x >= buffer.width) continue;
                if (!shaded[coverage]) {
                    shades[coverage] = stored_pixel(buffer, color, static_cast<float>(coverage) / 255.0f);
                    shaded.set(coverage);
                }
                store_pixel(buffer, static_cast<std::uint32_t>(pixel_x), static_cast<std::uint32_t>(pixel_y),
                            shades[coverage]);
            }
        }
    }
}

} // namespace kd
