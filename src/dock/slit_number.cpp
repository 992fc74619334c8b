#include "dock/dock_window.hpp"

#include <limits>

namespace kd {

std::optional<std::uint32_t> slit_number(const Arguments& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--dock") continue;
        // Only the first --dock counts, even when its value does not read.
        if (i + 1 >= args.size()) return std::nullopt;
        std::string_view text = args[i + 1];
        if (!text.empty() && text.front() == '+') text.remove_prefix(1);
        if (text.empty()) return std::nullopt;
        std::uint64_t value = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        }
        return static_cast<std::uint32_t>(value);
    }
    return std::nullopt;
}

} // namespace kd
