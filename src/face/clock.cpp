#include "face/clock.hpp"

#include <ctime>

namespace kd {

Instant system_now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return Instant{static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

} // namespace kd
