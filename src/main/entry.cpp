#include "main/entry.hpp"

#include "base/arguments.hpp"
#include "base/utf8.hpp"
#include "face/font_discovery.hpp"
#include "main/startup.hpp"
#include "main/write_mode.hpp"

#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <string_view>

namespace kd {

namespace {

constexpr std::string_view HELP_HEAD = "kestrelDial - Calendar clock dockapp for the Fluxbox slit\n"
                                       "\n"
                                       "Usage: kestrelDial [OPTIONS]\n"
                                       "\n"
                                       "Options:\n";

constexpr std::string_view HELP_TAIL =
    "\n"
    "The font is a single file with no fallback; characters it lacks are\n"
    "drawn as boxes. Japanese/CJK text in the label needs a CJK-capable font,\n"
    "e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf\n"
    "  or /usr/share/fonts/droid/DroidSansFallback.ttf\n"
    "\n"
    "Config: ${XDG_CONFIG_HOME:-~/.config}/kestrelDial/config\n";

// Where every option's description starts, its second line included.
constexpr std::size_t DESCRIPTION_COLUMN = 25;

std::string help_text()
{
    std::string text(HELP_HEAD);
    for (const Option& option : OPTIONS) {
        std::string line = "  " + std::string(option.name);
        if (!option.value_name.empty()) line += " " + std::string(option.value_name);
        line.resize(DESCRIPTION_COLUMN, ' ');
        for (const char c : option.description) {
            line += c;
            if (c == '\n') line.append(DESCRIPTION_COLUMN, ' ');
        }
        text += line + "\n";
    }
    return text + std::string(HELP_TAIL);
}

int error_exit(const Error& error, std::ostream& err)
{
    err << error_line(error) << std::flush;
    return 1;
}

// The running clock must not stop for a reader of its standard error that does not read.
// Its last words may wait this long for one, and no longer: the exit must never hang.
constexpr std::chrono::milliseconds LAST_LINE_PATIENCE{1000};

std::expected<int, Error> run_mode(bool write_mode, const Arguments& args, const Environment& env,
                                   std::istream& in, std::ostream& err)
{
    try {
        if (write_mode) {
            const FontDetector detect_font = [&env] { return fc_match_monospace(env); };
            return run_write_mode(args, env, in, err, detect_font);
        }
        return run_startup(args, env, err);
    } catch (const std::bad_alloc&) {
        // Out of memory is a failure like any other, with its error line, and no core dump.
        return std::unexpected(description(os_error_text(ENOMEM)));
    }
}

} // namespace

int run_entry(const Arguments& args, const Environment& env, std::istream& in, LineWriter& lines)
{
    std::ostream err(&lines);
    const std::span<const std::string> options = after_program_name(args);
    if (has_argument(options, "--help")) {
        err << help_text() << std::flush;
        return 0;
    }

    if (const auto unknown = first_unknown_option(options)) {
        err << "kestrelDial: unknown option '" << replace_invalid_utf8(*unknown) << "'\n"
            << "Try 'kestrelDial --help' for usage information.\n"
            << std::flush;
        return 1;
    }

    const bool write_mode =
        has_argument(options, "--write-config") || has_argument(options, "--configure");
    if (!write_mode) lines.limit_waiting(std::chrono::milliseconds(0));
    const std::expected<int, Error> status = run_mode(write_mode, args, env, in, err);
    if (status) return *status;
    if (!write_mode) lines.limit_waiting(LAST_LINE_PATIENCE);
    return error_exit(status.error(), err);
}

} // namespace kd
