#pragma once
// The font every benchmark paints with, parsed once.

#include "face/clock.hpp"
#include "face/font.hpp"

#include <stdexcept>

namespace kd::bench {

inline const Font& bench_font()
{
    static Font font = [] {
        auto bytes = read_font_file(KD_TEST_FONT);
        if (!bytes) throw std::runtime_error(bytes.error().text);
        auto parsed = load_font(std::move(*bytes));
        if (!parsed) throw std::runtime_error(parsed.error().text);
        return std::move(*parsed);
    }();
    return font;
}

// A fixed instant keeps the texts, and so the work, the same on every run.
inline Instant bench_instant()
{
    return Instant{1796763907, 0};
}

} // namespace kd::bench
