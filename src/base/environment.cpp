#include "base/environment.hpp"

#include <cstdlib>
#include <string>

namespace kd {

Environment process_environment()
{
    return Environment{[](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    }};
}

Environment fixed_environment(std::vector<std::pair<std::string, std::string>> variables)
{
    return Environment{
        [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
            for (const auto& [key, value] : variables)
                if (key == name) return value;
            return std::nullopt;
        }};
}

} // namespace kd
