// Any bytes as a config file: reading never fails, keeps every invariant of Settings, and
// what the writer makes of the result reads back as the same settings.

#include "fuzz_check.hpp"

#include "settings/config_file.hpp"
#include "settings/config_writer.hpp"
#include "settings/value_syntax.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

using kd::fuzz::require;

bool present_and_empty(const std::optional<std::string>& text)
{
    return text && text->empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = kd::fuzz::as_text(data, size);
    const kd::Settings settings = kd::settings_from_text(text);

    require(settings.size >= kd::MIN_SIZE && settings.size <= kd::MAX_SIZE, "size within 96..1024");
    if (settings.timezone) {
        require(*settings.timezone >= -kd::MAX_UTC_OFFSET &&
                    *settings.timezone <= kd::MAX_UTC_OFFSET,
                "timezone within +-18 hours");
        require(*settings.timezone % 60 == 0, "timezone in whole minutes");
    }
    for (const auto* optional_text :
         {&settings.label, &settings.font, &settings.theme, &settings.left_click,
          &settings.middle_click, &settings.right_click})
        require(!present_and_empty(*optional_text), "texts read from a file are never empty");

    const std::string written = kd::render_config(settings);
    require(std::count(written.begin(), written.end(), '\n') == 54,
            "the written file has 54 lines");
    require(written.ends_with('\n'), "the written file ends with a line feed");

    kd::Settings expected = settings;
    expected.verbose = false; // never written as active lines
    expected.quiet = false;
    require(kd::settings_from_text(written) == expected, "written settings read back unchanged",
            text);
    return 0;
}
