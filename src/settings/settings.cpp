#include "settings/settings.hpp"

namespace kd {

const char* time_format_name(TimeFormat format)
{
    return format == TimeFormat::Hours12 ? "12h" : "24h";
}

} // namespace kd
