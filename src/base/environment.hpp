#pragma once
// The process environment behind a seam, so tests can choose HOME, XDG_CONFIG_HOME, PATH
// without touching the real one.

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kd {

struct Environment {
    // Gives the value of a variable, or nothing when it is unset.
    std::function<std::optional<std::string>(std::string_view name)> get;
};

// Reads the real process environment.
inline Environment process_environment()
{
    return Environment{[](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    }};
}

// A fixed set of variables (tests).
inline Environment fixed_environment(std::vector<std::pair<std::string, std::string>> variables)
{
    return Environment{
        [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
            for (const auto& [key, value] : variables)
                if (key == name) return value;
            return std::nullopt;
        }};
}

} // namespace kd
