#include "face/font_discovery.hpp"

#include "base/child_process.hpp"
#include "base/utf8.hpp"
#include "settings/value_syntax.hpp"

#include <chrono>

namespace kd {

namespace {

// Font discovery must not hold up start-up: a matcher that talks too much or takes too long
// is killed and counts as no answer.
constexpr std::size_t MAX_MATCHER_OUTPUT = std::size_t{64} * 1024;
constexpr auto MATCHER_DEADLINE = std::chrono::seconds(10);

} // namespace

std::optional<std::string> fc_match_monospace(const Environment& env)
{
    const std::optional<std::string> output =
        captured_output({"fc-match", "--format", "%{file}", "monospace"}, env.get("PATH"),
                        MAX_MATCHER_OUTPUT, MATCHER_DEADLINE);
    if (!output) return std::nullopt;
    const std::string decoded = replace_invalid_utf8(*output);
    const std::string_view trimmed = trim(decoded);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

FontSources system_font_sources(const Environment& env)
{
    FontSources sources;
    sources.font_matcher = [env] { return fc_match_monospace(env); };
    sources.candidates.assign(FALLBACK_FONTS.begin(), FALLBACK_FONTS.end());
    return sources;
}

std::expected<FoundFont, Error> find_font(const std::optional<std::string>& configured,
                                          const FontSources& sources,
                                          const std::function<void(const std::string&)>& chosen)
{
    const auto announce = [&](const std::string& path) {
        if (chosen) chosen(path);
    };
    if (configured) {
        auto bytes = read_font_file(*configured);
        if (!bytes)
            return std::unexpected(
                program_message("Cannot read font '" + *configured + "': " + bytes.error().text));
        announce(*configured);
        auto font = load_font(std::move(*bytes));
        if (!font) return std::unexpected(font.error());
        return FoundFont{*configured, std::move(*font)};
    }

    std::optional<std::string> first_failure;
    const auto usable = [&](const std::string& path) -> std::optional<FoundFont> {
        auto bytes = read_font_file(path);
        if (!bytes) return std::nullopt;
        auto font = load_font(std::move(*bytes));
        if (!font) {
            if (!first_failure) first_failure = font.error().text + " in '" + path + "'";
            return std::nullopt;
        }
        announce(path);
        return FoundFont{path, std::move(*font)};
    };
    if (sources.font_matcher) {
        if (const std::optional<std::string> matched = sources.font_matcher()) {
            if (auto found = usable(*matched)) return std::move(*found);
        }
    }
    for (const std::string& candidate : sources.candidates) {
        if (auto found = usable(candidate)) return std::move(*found);
    }
    if (first_failure)
        return std::unexpected(
            program_message(*first_failure + ". Use --font <path> to choose a font"));
    return std::unexpected(
        program_message("No font found. Install a monospace font or use --font <path>"));
}

} // namespace kd
