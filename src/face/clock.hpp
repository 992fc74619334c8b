#pragma once
// The wall clock behind a seam, so tests can fix the instant.

#include <cstdint>
#include <functional>

namespace kd {

struct Instant {
    std::int64_t seconds = 0;     // since the Unix epoch, UTC
    std::int32_t nanoseconds = 0; // 0..999999999
};

using Clock = std::function<Instant()>;

// CLOCK_REALTIME.
Instant system_now();

} // namespace kd
