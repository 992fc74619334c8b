#include "settings/config_writer.hpp"

#include "base/file_writing.hpp"
#include "base/utf8.hpp"
#include "settings/value_syntax.hpp"

#include <utility>

namespace kd {

namespace {

std::string active_or_commented(const std::optional<std::string>& value, std::string_view key)
{
    if (value) return std::string(key) + " = " + *value + "\n";
    return "# " + std::string(key) + " =\n";
}

Error write_error(const std::string& path, const Error& system_error)
{
    return description("cannot write " + replace_invalid_utf8(path) + ": " + system_error.text);
}

} // namespace

std::string render_config(const Settings& s)
{
    std::string text;
    text += "# kestrelDial configuration\n";
    text += "# See: kestrelDial --help\n";
    text += "\n";
    text += "# Time format: 12h or 24h\n";
    text += s.format == TimeFormat::Hours12 ? "format = 12h\n" : "# format = 24h\n";
    text += "\n";
    text += "# Show seconds in time display\n";
    text += s.seconds ? "seconds = true\n" : "# seconds = false\n";
    text += "\n";
    text += "# Show abbreviated month name\n";
    text += s.short_month ? "short_month = true\n" : "# short_month = false\n";
    text += "\n";
    text += "# Fixed UTC offset, e.g. +4, -5, +5:30 (default: system local time).\n";
    text += "# When set, a compact indicator like (+4) is shown beside the time.\n";
    text += "# Note: a fixed offset does not follow daylight saving time.\n";
    text += s.timezone ? "timezone = " + offset_text(*s.timezone) + "\n" : "# timezone =\n";
    text += "\n";
    text += "# Custom text shown beside the date (overrides the timezone indicator).\n";
    text += active_or_commented(s.label, "label");
    text += "\n";
    text += "# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)\n";
    text += s.size == 96 ? "# size = 96\n" : "size = " + std::to_string(s.size) + "\n";
    text += "\n";
    text += "# Font file path (leave commented for auto-detect via fontconfig)\n";
    text += "# No fallback font: Japanese/CJK text in the label needs a CJK-capable\n";
    text += "# font, e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf\n";
    text += s.font ? "font = " + *s.font + "\n" : "# font = /path/to/font.ttf\n";
    text += "\n";
    text += "# Color theme: zenburn\n";
    text += active_or_commented(s.theme, "theme");
    text += "\n";
    text += "# Main color (R, G, B)\n";
    // A zenburn theme fills in every colour the file leaves out, so a default colour kept on
    // purpose under that theme must be written out or it would come back as zenburn's.
    const bool theme_fills_colors = s.theme && is_zenburn(*s.theme);
    text += s.color == DEFAULT_COLOR && !theme_fills_colors
                ? "# color = 0, 255, 0\n"
                : "color = " + format_color(s.color) + "\n";
    text += "\n";
    text += "# Dim color (R, G, B)\n";
    text += s.dim_color == DEFAULT_DIM_COLOR && !theme_fills_colors
                ? "# dim_color = 0, 200, 0\n"
                : "dim_color = " + format_color(s.dim_color) + "\n";
    text += "\n";
    text += "# Left click command\n";
    text += active_or_commented(s.left_click, "left_click");
    text += "\n";
    text += "# Middle click command (default: reload config)\n";
    text += active_or_commented(s.middle_click, "middle_click");
    text += "\n";
    text += "# Right click command\n";
    text += active_or_commented(s.right_click, "right_click");
    text += "\n";
    text += "# Run in the background\n";
    text += s.background ? "background = true\n" : "# background = true\n";
    text += "\n";
    text += "# Show extra informational messages\n";
    text += "# verbose = false\n";
    text += "\n";
    text += "# Suppress all non-error output\n";
    text += "# quiet = false\n";
    return text;
}

std::expected<void, Error> check_writable(const Settings& settings)
{
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"label", &settings.label},
        {"font", &settings.font},
        {"theme", &settings.theme},
        {"left_click", &settings.left_click},
        {"middle_click", &settings.middle_click},
        {"right_click", &settings.right_click},
    };
    for (const auto& [key, value] : texts) {
        if (!*value) continue;
        if ((*value)->find_first_of("\n\r") != std::string::npos)
            return std::unexpected(
                program_message(std::string(key) + " contains a line break; not written"));
        if (!is_valid_utf8(**value))
            return std::unexpected(
                program_message(std::string(key) + " is not valid UTF-8; not written"));
    }
    return {};
}

std::expected<void, Error> write_config(const std::string& path, const Settings& settings)
{
    if (auto writable = check_writable(settings); !writable) return writable;
    if (auto replaced = replace_file(path, render_config(settings)); !replaced)
        return std::unexpected(write_error(path, replaced.error()));
    return {};
}

std::expected<bool, Error> write_new_config(const std::string& path, const Settings& settings)
{
    if (auto writable = check_writable(settings); !writable)
        return std::unexpected(writable.error());
    const auto created = create_file_if_absent(path, render_config(settings));
    if (!created) return std::unexpected(write_error(path, created.error()));
    return *created;
}

} // namespace kd
