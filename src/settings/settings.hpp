#pragma once
// Every user choice of the program, filled from defaults, the config file and the command line.

#include <cstdint>
#include <optional>
#include <string>

namespace kd {

enum class TimeFormat { Hours24, Hours12 };

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

inline constexpr std::uint64_t MIN_SIZE = 96;
inline constexpr std::uint64_t MAX_SIZE = 1024;
inline constexpr Rgb DEFAULT_COLOR{0, 255, 0};
inline constexpr Rgb DEFAULT_DIM_COLOR{0, 200, 0};

// Field order is the order of the written config file.
struct Settings {
    TimeFormat format = TimeFormat::Hours24;
    bool seconds = false;
    bool short_month = false;
    std::optional<std::int32_t> timezone; // seconds east of UTC
    std::optional<std::string> label;
    std::uint64_t size = MIN_SIZE;
    std::optional<std::string> font;
    std::optional<std::string> theme;
    Rgb color = DEFAULT_COLOR;
    Rgb dim_color = DEFAULT_DIM_COLOR;
    std::optional<std::string> left_click;
    std::optional<std::string> middle_click;
    std::optional<std::string> right_click;
    bool background = false;
    bool verbose = false;
    bool quiet = false;

    bool operator==(const Settings&) const = default;
};

// "12h" or "24h".
inline const char* time_format_name(TimeFormat format)
{
    return format == TimeFormat::Hours12 ? "12h" : "24h";
}

} // namespace kd
