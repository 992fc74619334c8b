#include "main/entry.hpp"

#include "base/utf8.hpp"
#include "face/font_discovery.hpp"
#include "main/startup.hpp"
#include "main/write_mode.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace kd {

namespace {

constexpr std::string_view HELP_TEXT =
    "kestrelDial - Calendar clock dockapp for the Fluxbox slit\n"
    "\n"
    "Usage: kestrelDial [OPTIONS]\n"
    "\n"
    "Options:\n"
    "  --12h                  Use 12-hour time format (default: 24-hour)\n"
    "  --seconds              Show seconds in time display\n"
    "  --short-month          Show abbreviated month name (default: full name)\n"
    "  --timezone OFFSET      Fixed UTC offset, e.g. +4, -5, +5:30 (default: local)\n"
    "  --label TEXT           Custom indicator beside the time (overrides timezone)\n"
    "  --size SIZE            Window size in pixels, 96-1024 (default 96)\n"
    "  --font PATH            Path to a TTF/OTF font file\n"
    "  --theme THEME          Color theme (e.g. zenburn)\n"
    "  --background           Run in background\n"
    "  --verbose              Show extra informational messages\n"
    "  --quiet                Suppress all non-error output\n"
    "  --write-config [PATH]  Write annotated config file and exit\n"
    "  --configure            Interactive configuration wizard\n"
    "  --config PATH          Load config from PATH (default:\n"
    "                         $XDG_CONFIG_HOME/kestrelDial/config)\n"
    "  --dock N               Open in slit N under Halcyon (ignored elsewhere)\n"
    "  --help                 Show this help message\n"
    "\n"
    "The font is a single file with no fallback; characters it lacks are\n"
    "drawn as boxes. Japanese/CJK text in the label needs a CJK-capable font,\n"
    "e.g. /usr/share/fonts/ja-ipafonts/ipagp.ttf\n"
    "  or /usr/share/fonts/droid/DroidSansFallback.ttf\n"
    "\n"
    "Config: ${XDG_CONFIG_HOME:-~/.config}/kestrelDial/config\n";

constexpr std::array<std::string_view, 8> SWITCHES = {
    "--12h",     "--seconds", "--short-month", "--background",
    "--verbose", "--quiet",   "--configure",   "--help",
};

constexpr std::array<std::string_view, 8> VALUE_OPTIONS = {
    "--timezone", "--label",  "--size", "--font",
    "--theme",    "--config", "--dock", "--write-config",
};

bool contains(const auto& names, std::string_view argument)
{
    return std::find(names.begin(), names.end(), argument) != names.end();
}

// Looks at the arguments after the program name; the program name itself is never an option.
bool has_argument(const Arguments& args, std::string_view wanted)
{
    return args.size() > 1 && std::find(args.begin() + 1, args.end(), wanted) != args.end();
}

// The first argument that starts like an option but is none of ours, skipping option values.
std::optional<std::string> first_unknown_option(const Arguments& args)
{
    bool skip_value = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (skip_value) {
            skip_value = false;
            continue;
        }
        if (argument.size() < 2 || !argument.starts_with("--")) continue;
        if (contains(VALUE_OPTIONS, argument))
            skip_value = true;
        else if (!contains(SWITCHES, argument))
            return argument;
    }
    return std::nullopt;
}

int error_exit(const Error& error, std::ostream& err)
{
    err << error_line(error) << std::flush;
    return 1;
}

} // namespace

int run_entry(const Arguments& args, const Environment& env, std::istream& in, std::ostream& err)
{
    if (has_argument(args, "--help")) {
        err << HELP_TEXT << std::flush;
        return 0;
    }

    if (const auto unknown = first_unknown_option(args)) {
        err << "kestrelDial: unknown option '" << replace_invalid_utf8(*unknown) << "'\n"
            << "Try 'kestrelDial --help' for usage information.\n"
            << std::flush;
        return 1;
    }

    if (has_argument(args, "--write-config") || has_argument(args, "--configure")) {
        const FontDetector detect_font = [&env] { return fc_match_monospace(env); };
        const std::expected<int, Error> status = run_write_mode(args, env, in, err, detect_font);
        return status ? *status : error_exit(status.error(), err);
    }

    const std::expected<int, Error> status = run_startup(args, env, err);
    return status ? *status : error_exit(status.error(), err);
}

} // namespace kd
