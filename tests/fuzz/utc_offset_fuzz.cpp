// Any text as a UTC offset: what is accepted is a valid offset, and the text the writer and
// the dialogue show for it reads back as the same offset. The first four bytes, taken as a
// number, also check the other direction for every valid offset the fuzzer reaches.

#include "fuzz_check.hpp"

#include "settings/value_syntax.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using kd::fuzz::require;

void check_valid_offset(std::int32_t offset)
{
    const std::string shown = kd::offset_text(offset);
    require(!shown.empty() && (shown[0] == '+' || shown[0] == '-'), "shown offset has a sign");
    require(kd::offset_indicator(offset) == "(" + shown + ")",
            "indicator is the shown offset in parentheses");
    require(kd::parse_utc_offset(shown) == offset, "shown offset reads back", shown);
    require(kd::parse_utc_offset(" UTC" + shown + " ") == offset, "UTC prefix and blanks read back",
            shown);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = kd::fuzz::as_text(data, size);
    if (const auto offset = kd::parse_utc_offset(text)) {
        require(*offset >= -kd::MAX_UTC_OFFSET && *offset <= kd::MAX_UTC_OFFSET,
                "accepted offset within +-18 hours", text);
        require(*offset % 60 == 0, "accepted offset in whole minutes", text);
        check_valid_offset(*offset);
    }

    if (size >= 4) {
        std::int32_t number = 0;
        std::memcpy(&number, data, sizeof number);
        const std::int32_t offset = (number % (kd::MAX_UTC_OFFSET / 60 + 1)) * 60;
        check_valid_offset(offset);
    }
    return 0;
}
