#include "face/line_breaking.hpp"

#include "face/text_drawing.hpp"

namespace kd {

namespace {

// Where lines break: ordinary blanks only.
bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Appends glyphs [begin, end) of the shaped line, one visual line, to layout.placed in display
// order, the first at line_x.
void place_glyphs(LineLayout& layout, std::size_t begin, std::size_t end, float line_x,
                  float baseline)
{
    const std::vector<ShapedGlyph>& glyphs = layout.shaped.glyphs;
    float pen = 0;
    for (const FriBidiStrIndex index : display_order(layout.shaped, begin, end)) {
        const ShapedGlyph& glyph = glyphs[static_cast<std::size_t>(index)];
        layout.placed.push_back(
            PlacedGlyph{glyph.glyph, line_x + pen + glyph.x_offset, baseline - glyph.y_offset});
        pen += glyph.advance;
    }
}

// Where the visual line that starts at glyph `begin` ends (after its last word that fits, and
// always after its first), and where the search for the next line starts.
struct LineSpan {
    std::size_t end = 0;
    std::size_t next = 0;
};

template <typename Blank>
LineSpan visual_line(const std::vector<float>& pens, std::size_t begin, std::size_t count,
                     const LayoutBox& box, Blank blank)
{
    LineSpan span{begin, begin};
    bool has_word = false;
    while (span.next < count) {
        std::size_t word = span.next;
        while (word < count && blank(word))
            ++word;
        std::size_t word_end = word;
        while (word_end < count && !blank(word_end))
            ++word_end;
        if (word_end == word) return LineSpan{count, count}; // only blanks left: they stay
        if (box.wraps && has_word && pens[word_end] - pens[begin] > box.max_width) break;
        span = LineSpan{word_end, word_end};
        has_word = true;
    }
    return span;
}

// Places one hard line (text[start, start + length)), wrapping greedily at blanks by shaped
// advance in reading order. Returns how many visual lines it took.
int place_line(LineLayout& layout, hb_font_t* shaper, hb_buffer_t* buffer, std::string_view text,
               std::size_t start, std::size_t length, const LayoutBox& box,
               const LineMetrics& metrics, int first_line)
{
    shape_line(layout.shaped, shaper, buffer, text, start, length);
    const std::vector<ShapedGlyph>& glyphs = layout.shaped.glyphs;
    const std::size_t count = glyphs.size();
    if (count == 0) return 1;

    std::vector<float>& pens = layout.pens;
    pens.resize(count + 1);
    pens[0] = 0;
    for (std::size_t i = 0; i < count; ++i)
        pens[i + 1] = pens[i] + glyphs[i].advance;
    const auto blank = [&](std::size_t i) {
        const std::size_t cluster = glyphs[i].cluster;
        return cluster < text.size() && is_blank(text[cluster]);
    };

    int lines = 0;
    std::size_t begin = 0;
    while (begin < count || lines == 0) {
        const LineSpan span = visual_line(pens, begin, count, box, blank);
        const float advance = pens[span.end] - pens[begin];
        float line_x = box.x;
        if (box.align == TextAlign::Center && box.wraps) line_x += (box.max_width - advance) * 0.5f;
        const float baseline =
            box.y + static_cast<float>(first_line + lines) * metrics.line_height + metrics.ascent;
        place_glyphs(layout, begin, span.end, line_x, baseline);
        ++lines;
        begin = span.next;
        while (begin < count && blank(begin))
            ++begin; // the blanks at a wrap vanish
        if (span.next >= count) break;
    }
    return lines;
}

} // namespace

void lay_out_lines(LineLayout& layout, hb_font_t* shaper, hb_buffer_t* buffer,
                   std::string_view text, const LayoutBox& box, const LineMetrics& metrics)
{
    layout.placed.clear();
    int line = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t newline = text.find('\n', start);
        std::size_t length = (newline == std::string_view::npos ? text.size() : newline) - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;
        line += place_line(layout, shaper, buffer, text, start, length, box, metrics, line);
        if (newline == std::string_view::npos) break;
        start = newline + 1;
    }
}

} // namespace kd
