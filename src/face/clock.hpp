#pragma once
// The wall clock behind a seam, so tests can fix the instant.

#include <cstdint>
#include <ctime>
#include <functional>

namespace kd {

struct Instant {
    std::int64_t seconds = 0;     // since the Unix epoch, UTC
    std::int32_t nanoseconds = 0; // 0..999999999
};

using Clock = std::function<Instant()>;

// CLOCK_REALTIME.
inline Instant system_now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return Instant{static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

} // namespace kd
