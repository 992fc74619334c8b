#include "main/write_mode.hpp"

#include "base/arguments.hpp"
#include "base/utf8.hpp"
#include "settings/config_file.hpp"
#include "settings/config_writer.hpp"
#include "settings/value_syntax.hpp"

#include <sys/stat.h>

namespace kd {

namespace {

std::string yes_no(bool current)
{
    return current ? "Y/n" : "y/N";
}

std::string bracketed(const std::optional<std::string>& value)
{
    return value ? " [" + *value + "]" : "";
}

void ask_yes_no(std::string_view question, bool& field, std::istream& in, std::ostream& err)
{
    const std::string answer =
        prompt_line(std::string(question) + " [" + yes_no(field) + "]: ", in, err);
    if (!answer.empty()) field = is_yes(answer);
}

// A text answer that the file could not hold faithfully is refused here, at its question,
// rather than refusing the whole file after the last one.
void take_text(const std::string& answer, std::optional<std::string>& field, std::ostream& err)
{
    if (answer.empty()) return;
    if (!is_valid_utf8(answer))
        err << "  Invalid text (not UTF-8), keeping current\n" << std::flush;
    else if (answer.find_first_of("\n\r") != std::string::npos)
        err << "  Invalid text (line break), keeping current\n" << std::flush;
    else
        field = answer;
}

void ask_text(std::string_view question, std::optional<std::string>& field, std::istream& in,
              std::ostream& err)
{
    take_text(prompt_line(std::string(question) + bracketed(field) + ": ", in, err), field, err);
}

void ask_color(std::string_view question, Rgb& field, std::istream& in, std::ostream& err)
{
    const std::string answer =
        prompt_line(std::string(question) + " [" + format_color(field) + "]: ", in, err);
    if (answer.empty()) return;
    if (const auto color = parse_color(answer))
        field = *color;
    else
        err << "  Invalid color, keeping current\n" << std::flush;
}

// The path after the first --write-config, unless it is missing or looks like an option.
std::optional<std::string> explicit_target(const Arguments& args)
{
    const auto next = value_after_first(after_program_name(args), "--write-config");
    if (!next || next->starts_with("--")) return std::nullopt;
    return std::string(*next);
}

} // namespace

std::string prompt_line(std::string_view prompt, std::istream& in, std::ostream& err)
{
    err << prompt << std::flush;
    std::string line;
    // A last line without a line feed still counts; end of input or a failed read is "".
    if (!std::getline(in, line)) return "";
    return std::string(trim(line));
}

bool is_yes(std::string_view answer)
{
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

Settings run_configure(Settings settings, std::istream& in, std::ostream& err,
                       const FontDetector& detect_font)
{
    err << "kestrelDial: interactive configuration\n\n" << std::flush;

    const std::string format = prompt_line(
        std::string("Time format (12h, 24h) [") + time_format_name(settings.format) + "]: ", in,
        err);
    if (!format.empty())
        settings.format = format == "12h" ? TimeFormat::Hours12 : TimeFormat::Hours24;

    ask_yes_no("Show seconds?", settings.seconds, in, err);
    ask_yes_no("Short month name?", settings.short_month, in, err);

    const std::string offset = prompt_line(
        "Timezone offset (e.g. +4, -5, +5:30; Enter for local) [" +
            (settings.timezone ? offset_text(*settings.timezone) : std::string("local")) + "]: ",
        in, err);
    if (equals_ignoring_ascii_case(offset, "local")) {
        settings.timezone.reset();
    } else if (!offset.empty()) {
        if (const auto parsed = parse_utc_offset(offset))
            settings.timezone = parsed;
        else
            err << "  Invalid offset, keeping current\n" << std::flush;
    }

    ask_text("Custom indicator label (Enter for none/auto)", settings.label, in, err);

    const std::string size =
        prompt_line("Window size (96-1024) [" + std::to_string(settings.size) + "]: ", in, err);
    if (const auto number = parse_unsigned(size)) {
        if (*number >= MIN_SIZE && *number <= MAX_SIZE)
            settings.size = *number;
        else
            err << "  Invalid size, keeping " << settings.size << "\n" << std::flush;
    }

    std::string font_hint = bracketed(settings.font);
    if (!settings.font && detect_font) {
        if (const auto detected = detect_font(); detected && !detected->empty())
            font_hint = " [auto: " + replace_invalid_utf8(*detected) + "]";
    }
    take_text(prompt_line("Font path (Enter for auto-detect)" + font_hint + ": ", in, err),
              settings.font, err);

    ask_color("Main color R,G,B", settings.color, in, err);
    ask_color("Dim color R,G,B", settings.dim_color, in, err);
    ask_text("Left click command", settings.left_click, in, err);
    ask_text("Middle click command", settings.middle_click, in, err);
    ask_text("Right click command", settings.right_click, in, err);
    ask_yes_no("Run in the background?", settings.background, in, err);
    return settings;
}

std::expected<int, Error> run_write_mode(const Arguments& args, const Environment& env,
                                         std::istream& in, std::ostream& err,
                                         const FontDetector& detect_font)
{
    Settings settings = load_settings(args, env);
    apply_command_line(settings, args, err);
    if (has_argument(after_program_name(args), "--configure"))
        settings = run_configure(settings, in, err, detect_font);

    std::optional<std::string> target = explicit_target(args);
    if (!target) target = config_path(args, env);
    if (!target) {
        err << "Cannot determine config path (HOME not set)\n" << std::flush;
        return 1;
    }
    const std::string shown_path = replace_invalid_utf8(*target);

    // Refused before the overwrite question, so nobody agrees to a write that cannot happen.
    if (auto writable = check_writable(settings); !writable)
        return std::unexpected(writable.error());

    struct stat status{};
    if (::stat(target->c_str(), &status) == 0) {
        const std::string answer =
            prompt_line("Config already exists at " + shown_path + ". Overwrite? [y/N] ", in, err);
        if (!is_yes(answer)) {
            err << "Aborted.\n" << std::flush;
            return 0;
        }
    }

    if (auto written = write_config(*target, settings); !written)
        return std::unexpected(written.error());
    err << "Config written to " << shown_path << "\n" << std::flush;
    return 0;
}

} // namespace kd
