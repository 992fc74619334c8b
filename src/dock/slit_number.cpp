#include "dock/dock_window.hpp"

#include "base/arguments.hpp"
#include "settings/value_syntax.hpp"

#include <limits>

namespace kd {

std::optional<std::uint32_t> slit_number(const Arguments& args)
{
    // Only the first --dock counts, even when its value does not read.
    const auto text = value_after_first(args, "--dock");
    const auto number = text ? parse_unsigned(*text) : std::nullopt;
    if (!number || *number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

} // namespace kd
