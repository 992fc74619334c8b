#pragma once
// The test fonts, each parsed once for every test of the face.

#include "face/font.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

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

} // namespace kd::test
