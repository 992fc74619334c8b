#include "base/arguments.hpp"

#include <algorithm>

namespace kd {

std::span<const std::string> after_program_name(const Arguments& args)
{
    return std::span<const std::string>(args).subspan(args.empty() ? 0 : 1);
}

bool has_argument(std::span<const std::string> args, std::string_view name)
{
    return std::ranges::find(args, name) != args.end();
}

std::optional<std::string_view> value_after_first(std::span<const std::string> args,
                                                  std::string_view name)
{
    const auto found = std::ranges::find(args, name);
    if (found == args.end() || found + 1 == args.end()) return std::nullopt;
    return *(found + 1);
}

std::vector<std::string_view> values_after_each(std::span<const std::string> args,
                                                std::string_view name)
{
    std::vector<std::string_view> values;
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == name) values.emplace_back(args[i + 1]);
    return values;
}

std::optional<std::string_view> first_unknown_option(std::span<const std::string> args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        // Stray words and single-dash arguments are no options and pass silently.
        if (!args[i].starts_with("--")) continue;
        const auto known = std::ranges::find(OPTIONS, args[i], &Option::name);
        if (known == OPTIONS.end()) return args[i];
        if (!known->value_name.empty()) ++i;
    }
    return std::nullopt;
}

} // namespace kd
