#pragma once
// The test font, parsed once for every test of the face.

#include "face/font.hpp"

#include <gtest/gtest.h>

namespace kd::test {

inline const Font& test_font()
{
    static const Font font = [] {
        auto bytes = read_font_file(KD_TEST_FONT);
        if (!bytes) throw std::runtime_error("cannot read " KD_TEST_FONT ": " + bytes.error());
        auto parsed = load_font(std::move(*bytes));
        if (!parsed) throw std::runtime_error(parsed.error().text);
        return std::move(*parsed);
    }();
    return font;
}

} // namespace kd::test
