// Arbitrary labels through measuring, cutting and drawing, left to right and within a
// right-to-left line: no crash, no hang, no write outside the 96x96 buffer, and measurements
// that make sense. The first four bytes choose the size, the position, the wrapping width,
// the alignment and the byte order; the rest is the text.

#include "fuzz_check.hpp"

#include "base/utf8.hpp"
#include "face/font.hpp"
#include "face/label_text.hpp"
#include "face/pixel_buffer.hpp"
#include "face/text_drawing.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using kd::fuzz::require;

constexpr std::uint32_t BUFFER_SIZE = 96;

kd::Font& dejavu_sans_mono()
{
    static kd::Font font = [] {
        auto bytes = kd::read_font_file(KD_FUZZ_FONT);
        if (!bytes) {
            std::fprintf(stderr, "cannot read %s: %s\n", KD_FUZZ_FONT, bytes.error().text.c_str());
            std::exit(1);
        }
        auto parsed = kd::load_font(std::move(*bytes));
        if (!parsed) {
            std::fprintf(stderr, "cannot parse %s: %s\n", KD_FUZZ_FONT,
                         parsed.error().text.c_str());
            std::exit(1);
        }
        return std::move(*parsed);
    }();
    return font;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return 0;
    const kd::Font& font = dejavu_sans_mono();
    // One scratch for every input, as the face keeps one; made after the font, released before.
    static kd::TextScratch scratch;

    // 1 to 272 px in quarter pixels: the face uses 13.5 px at size 96 up to 264 px at 1024.
    const float text_size = 1.0f + static_cast<float>(data[0]) * (271.0f / 255.0f) +
                            static_cast<float>(data[1] & 3) * 0.25f;
    const float x = static_cast<float>(static_cast<int>(data[1] >> 2) - 32) * 3.0f;
    const float y = static_cast<float>(static_cast<int>(data[2] & 0x7f) - 32) * 2.0f;
    const float max_width = 1.0f + static_cast<float>(data[3] & 0x7f) * 2.0f;
    const kd::TextAlign align = (data[2] & 0x80) ? kd::TextAlign::Center : kd::TextAlign::Left;
    const bool lsb_first = (data[3] & 0x80) != 0;
    const std::string_view text = kd::fuzz::as_text(data + 4, size - 4);

    const float width = kd::text_width(font, scratch, text, text_size);
    require(std::isfinite(width) && width >= 0.0f, "text width is finite and not negative", text);
    if (text.empty()) require(width == 0.0f, "an empty text has no width");

    if (const auto ink = kd::ink_extent(font, scratch, text, text_size)) {
        require(std::isfinite(ink->top) && std::isfinite(ink->bottom), "ink extent is finite",
                text);
        require(ink->top < ink->bottom, "ink has a height", text);
    }

    // The text as it is, and after a Hebrew letter, which sends every line through the
    // bidirectional runs, mirrored brackets and reordering included.
    const std::string right_to_left = "\xD7\x90" + std::string(text);
    for (const std::string_view drawn : {text, std::string_view(right_to_left)}) {
        kd::PixelBuffer buffer = kd::make_pixel_buffer(BUFFER_SIZE, BUFFER_SIZE, lsb_first);
        kd::draw_text(buffer, font, scratch, drawn, text_size, x, y, max_width, align,
                      kd::shade_table(buffer, kd::Rgb{255, 255, 255}));
        require(buffer.width == BUFFER_SIZE && buffer.height == BUFFER_SIZE &&
                    buffer.bytes.size() == 4u * BUFFER_SIZE * BUFFER_SIZE,
                "drawing leaves the buffer's size alone");
        const std::size_t unused_byte = lsb_first ? 3 : 0;
        for (std::size_t i = unused_byte; i < buffer.bytes.size(); i += 4)
            require(buffer.bytes[i] == 0, "the unused byte of every pixel stays 0", drawn);
    }
    const float right_to_left_width = kd::text_width(font, scratch, right_to_left, text_size);
    require(std::isfinite(right_to_left_width) && right_to_left_width >= 0.0f,
            "a right-to-left width is finite and not negative", right_to_left);

    // The cut keeps a start of the text that ends where a character ends.
    const std::string_view kept =
        kd::utf8_prefix(text, kd::shown_label_characters(static_cast<std::uint32_t>(max_width)));
    require(kept.data() == text.data() && kept.size() <= text.size(), "the cut keeps a start",
            text);
    std::size_t boundary = 0;
    while (boundary < kept.size())
        boundary += kd::decode_utf8_at(text, boundary).length;
    require(boundary == kept.size(), "the cut falls between characters", text);
    return 0;
}
