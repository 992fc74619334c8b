#pragma once
// The process environment behind a seam, so tests can choose HOME, XDG_CONFIG_HOME, PATH
// without touching the real one.

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
Environment process_environment();

// A fixed set of variables (tests).
Environment fixed_environment(std::vector<std::pair<std::string, std::string>> variables);

} // namespace kd
