// Any text as a colour: an accepted colour is written the way the writer writes it and reads
// back unchanged; the first three bytes, as a colour, check the other direction.

#include "fuzz_check.hpp"

#include "settings/value_syntax.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using kd::fuzz::require;

void check_round_trip(kd::Rgb color)
{
    const std::string shown = kd::format_color(color);
    require(kd::parse_color(shown) == color, "written colour reads back", shown);
    require(shown == std::to_string(color.red) + ", " + std::to_string(color.green) + ", " +
                         std::to_string(color.blue),
            "colour written as decimal numbers separated by a comma and a blank", shown);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = kd::fuzz::as_text(data, size);
    if (const auto color = kd::parse_color(text)) {
        require(std::count(text.begin(), text.end(), ',') == 2, "accepted colour has two commas",
                text);
        check_round_trip(*color);
    }
    if (size >= 3) check_round_trip(kd::Rgb{data[0], data[1], data[2]});
    return 0;
}
