#pragma once
// The running clock: events, reloads, repaints when the shown text changes, computed waits.

#include "base/arguments.hpp"
#include "base/environment.hpp"
#include "base/error.hpp"
#include "dock/dock_event.hpp"
#include "dock/dock_window.hpp"
#include "face/clock.hpp"
#include "face/font.hpp"
#include "face/pixel_buffer.hpp"
#include "settings/settings.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <expected>
#include <functional>
#include <ostream>

namespace kd {

// Set by SIGHUP, consumed by the loop with one exchange. The program's only global.
extern std::atomic<bool> reload_requested;

// The SIGHUP handler: stores true into reload_requested, nothing else.
void on_hangup(int signal_number);
void install_hangup_handler();

using MonotonicTime = std::chrono::steady_clock::time_point;

inline MonotonicTime monotonic_now()
{
    return std::chrono::steady_clock::now();
}

// The wall clock, the monotonic clock and the wait behind seams, so tests can drive time.
struct LoopSeams {
    Clock clock = system_now;
    std::function<MonotonicTime()> monotonic = monotonic_now;
    std::function<std::expected<DockWait, Error>(DockWindow&, MonotonicTime)> wait =
        wait_for_dock_event;
};

// What the face showed at the last change-driven repaint: its date, hour, minute and (in
// seconds mode) second. 61 lies outside the time fields, so the first pass always repaints.
struct RepaintMarks {
    int last_year = 61; // years since 1900, as std::tm counts them
    int last_day = 61;  // of the year
    int last_hour = 61;
    int last_minute = 61;
    int last_second = 61;

    bool operator==(const RepaintMarks&) const = default;
};

// True when the shown time (to the second in seconds mode, else to the minute) differs from
// the marks, or force is set; the marks then move to it. shown is in the zone the face shows.
bool take_repaint_turn(RepaintMarks& marks, bool seconds_mode, const std::tm& shown, bool force);

// How long to wait after a pass that read second_of_minute (of the shown zone) and the
// sub-second nanosecond.
std::chrono::nanoseconds pass_wait(bool seconds_mode, int second_of_minute,
                                   std::int32_t nanosecond);

// Clicks are taken at the pace of a hand: a burst of up to CLICK_BURST at once, then one every
// CLICK_INTERVAL. Presses beyond that (thousands queued by another client, or by XTEST) are
// dropped, so a flood costs ten commands a second at most instead of a shell per press.
inline constexpr int CLICK_BURST = 20;
inline constexpr std::chrono::milliseconds CLICK_INTERVAL{100};

struct ClickPace {
    // When the clicks taken so far are paid for, at one per CLICK_INTERVAL.
    MonotonicTime paid_until = MonotonicTime::min();
};

// Whether a click at `now` is taken; a taken click is paid for.
bool take_click(ClickPace& pace, MonotonicTime now);

// A missing config file is first written with the running settings (unless a file appears
// meanwhile); then defaults, the file and the command line are laid anew.
Settings reload_configuration(const Settings& current, const Arguments& args,
                              const Environment& env, std::ostream& err);

// Runs until a close request (0), the window's destruction (0) or an error.
std::expected<int, Error> run_main_loop(DockWindow& window, const Font& font, PixelBuffer& buffer,
                                        Settings settings, const Arguments& args,
                                        const Environment& env, std::ostream& err,
                                        const LoopSeams& seams = {});

} // namespace kd
