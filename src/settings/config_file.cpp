#include "settings/config_file.hpp"

#include "base/arguments.hpp"
#include "base/file_reading.hpp"
#include "base/utf8.hpp"
#include "settings/value_syntax.hpp"

namespace kd {

namespace {

std::string join_path(const std::string& base, std::string_view tail)
{
    if (base.empty()) return std::string(tail);
    if (base.ends_with('/')) return base + std::string(tail);
    return base + "/" + std::string(tail);
}

bool is_boolean_true(std::string_view value)
{
    return value == "true";
}

// The keys that switch a setting on with "true" and off with anything else.
bool* switch_field(Settings& settings, std::string_view key)
{
    if (key == "seconds") return &settings.seconds;
    if (key == "short_month") return &settings.short_month;
    if (key == "background") return &settings.background;
    if (key == "verbose") return &settings.verbose;
    if (key == "quiet") return &settings.quiet;
    return nullptr;
}

// The keys whose value is kept as written; an empty one leaves the setting alone.
std::optional<std::string>* text_field(Settings& settings, std::string_view key)
{
    if (key == "label") return &settings.label;
    if (key == "font") return &settings.font;
    if (key == "theme") return &settings.theme;
    if (key == "left_click") return &settings.left_click;
    if (key == "middle_click") return &settings.middle_click;
    if (key == "right_click") return &settings.right_click;
    return nullptr;
}

// Applies one "key = value" pair; gives false when the value was rejected.
bool apply_setting(Settings& settings, std::string_view key, std::string_view value)
{
    if (bool* field = switch_field(settings, key)) {
        *field = is_boolean_true(value);
        return true;
    }
    if (std::optional<std::string>* field = text_field(settings, key)) {
        if (!value.empty()) *field = std::string(value);
        return true;
    }
    if (key == "format") {
        settings.format = value == "12h" ? TimeFormat::Hours12 : TimeFormat::Hours24;
        return true;
    }
    if (key == "timezone") {
        const std::optional<std::int32_t> offset = parse_utc_offset(value);
        if (offset) settings.timezone = offset;
        return offset.has_value();
    }
    if (key == "size") {
        const std::optional<std::uint64_t> size = parse_size(value);
        if (size) settings.size = *size;
        return size.has_value();
    }
    if (key == "color" || key == "dim_color") {
        const std::optional<Rgb> color = parse_color(value);
        if (color) (key == "color" ? settings.color : settings.dim_color) = *color;
        return color.has_value();
    }
    return false;
}

} // namespace

std::optional<std::string> config_path(const Arguments& args, const Environment& env)
{
    // Only the first --config counts, even when its value is unusable.
    const auto given = value_after_first(after_program_name(args), "--config");
    if (given && !given->empty()) return std::string(*given);
    if (const auto xdg = env.get("XDG_CONFIG_HOME"); xdg && !xdg->empty() && is_valid_utf8(*xdg))
        return join_path(*xdg, "kestrelDial/config");
    if (const auto home = env.get("HOME"); home && is_valid_utf8(*home))
        return join_path(join_path(*home, ".config"), "kestrelDial/config");
    return std::nullopt;
}

std::expected<std::string, Error> read_config_text(const std::string& path)
{
    auto bytes = read_whole_file(path, ReadLimit{MAX_CONFIG_FILE_SIZE, "Config file"});
    if (!bytes) return std::unexpected(bytes.error());
    std::string text(bytes->begin(), bytes->end());
    if (!is_valid_utf8(text)) return std::unexpected(program_message("Config file is not UTF-8"));
    return text;
}

Settings settings_from_text(std::string_view text)
{
    Settings settings;
    bool color_set = false;
    bool dim_color_set = false;
    while (!text.empty()) {
        const std::size_t line_end = text.find('\n');
        const std::string_view line = trim(text.substr(0, line_end));
        text.remove_prefix(line_end == std::string_view::npos ? text.size() : line_end + 1);

        if (line.empty() || line.front() == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        if (!apply_setting(settings, key, value)) continue;
        if (key == "color") color_set = true;
        if (key == "dim_color") dim_color_set = true;
    }
    apply_theme(settings, color_set, dim_color_set);
    return settings;
}

Settings load_settings(const Arguments& args, const Environment& env)
{
    const std::optional<std::string> path = config_path(args, env);
    if (!path) return Settings{};
    // An unreadable file counts as no file: nothing is said about it.
    const auto text = read_config_text(*path);
    if (!text) return Settings{};
    return settings_from_text(*text);
}

void apply_command_line(Settings& settings, const Arguments& args, std::ostream& err)
{
    // A switch counts wherever it stands, even as another option's value, and only turns on.
    if (has_argument(args, "--background")) settings.background = true;
    if (has_argument(args, "--verbose")) settings.verbose = true;
    if (has_argument(args, "--quiet")) settings.quiet = true;
    if (has_argument(args, "--12h")) settings.format = TimeFormat::Hours12;
    if (has_argument(args, "--seconds")) settings.seconds = true;
    if (has_argument(args, "--short-month")) settings.short_month = true;

    // Every value is applied in turn, so the last one that reads wins.
    for (const std::string_view value : values_after_each(args, "--timezone")) {
        if (const auto offset = parse_utc_offset(value))
            settings.timezone = offset;
        else
            err << "kestrelDial: invalid --timezone '" << replace_invalid_utf8(value)
                << "' (use e.g. +4, -5, +5:30)\n"
                << std::flush;
    }
    for (const std::string_view value : values_after_each(args, "--label"))
        settings.label = std::string(value);
    for (const std::string_view value : values_after_each(args, "--theme")) {
        settings.theme = std::string(value);
        if (is_zenburn(value)) {
            settings.color = ZENBURN_COLOR;
            settings.dim_color = ZENBURN_DIM_COLOR;
        }
    }
    for (const std::string_view value : values_after_each(args, "--size"))
        if (const auto size = parse_size(value)) settings.size = *size;
    for (const std::string_view value : values_after_each(args, "--font"))
        settings.font = std::string(value);
}

} // namespace kd
