#pragma once
// The test fonts, each parsed once for every test of the face, and long texts for them.

#include "face/font.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace kd::test {

inline Font parse_test_font(const std::string& path)
{
    auto bytes = read_font_file(path);
    if (!bytes) throw std::runtime_error("cannot read " + path + ": " + bytes.error().text);
    auto parsed = load_font(std::move(*bytes));
    if (!parsed) throw std::runtime_error(parsed.error().text);
    return std::move(*parsed);
}

inline Font& test_font()
{
    static Font font = parse_test_font(KD_TEST_FONT);
    return font;
}

// DejaVu Sans, from the same package as the mono test font: it has the Hebrew that the mono
// face lacks, and proportional advances.
inline Font& proportional_test_font()
{
    static Font font = parse_test_font("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    return font;
}

inline std::string repeated(std::string_view piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

} // namespace kd::test
