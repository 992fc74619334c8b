#include "main/main_loop.hpp"

#include "dock/dock_event.hpp"
#include "dock/present.hpp"
#include "face/face_layout.hpp"
#include "face/face_texts.hpp"
#include "main/process.hpp"
#include "settings/config_file.hpp"
#include "settings/config_writer.hpp"

#include <algorithm>
#include <csignal>
#include <optional>
#include <string_view>
#include <sys/stat.h>

namespace kd {

std::atomic<bool> reload_requested{false};

void on_hangup(int)
{
    reload_requested.store(true);
}

void install_hangup_handler()
{
    struct sigaction action{};
    action.sa_handler = on_hangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
}

bool take_repaint_turn(RepaintMarks& marks, bool seconds_mode, const std::tm& shown, bool force)
{
    // The date and the hour count too: a changed zone or a clock set by a whole hour or day
    // moves them while the minute stays.
    const RepaintMarks now{shown.tm_year, shown.tm_yday, shown.tm_hour, shown.tm_min,
                           seconds_mode ? shown.tm_sec : RepaintMarks{}.last_second};
    if (now == marks && !force) return false;
    marks = now;
    return true;
}

std::chrono::nanoseconds pass_wait(bool seconds_mode, int second_of_minute, std::int32_t nanosecond)
{
    using namespace std::chrono_literals;
    if (seconds_mode) {
        // Just past the next boundary, so that the wall clock running a little slower than the
        // monotonic one does not wake the loop on the old second; should it, 10 ms more.
        constexpr auto past_boundary = 2ms;
        constexpr auto retry = 10ms;
        return std::max(1s - std::chrono::nanoseconds(nanosecond) + past_boundary,
                        std::chrono::nanoseconds(retry));
    }
    const int millisecond = nanosecond / 1000000;
    const int to_minute = std::max(60000 - 1000 * second_of_minute - millisecond - 100, 0);
    return std::chrono::milliseconds(std::clamp(to_minute, 100, 1000));
}

Settings reload_configuration(const Settings& current, const Arguments& args,
                              const Environment& env, std::ostream& err)
{
    if (const auto path = config_path(args, env)) {
        struct stat status{};
        if (stat(path->c_str(), &status) != 0) {
            // An editor that saves by moving the old file away may write the new one at any
            // moment: the running settings go only where no file is, and the user's file wins.
            if (auto written = write_new_config(*path, current); !written) {
                err << "kestrelDial: failed to write config: " << written.error().text << "\n";
            } else if (*written && !current.quiet) {
                err << "kestrelDial: wrote default config to " << *path << "\n";
            }
        }
    }
    Settings fresh = load_settings(args, env);
    apply_command_line(fresh, args, err);
    return fresh;
}

namespace {

// At most this many events are taken in one pass, so that the face keeps its second and a
// close request is served whatever another client has queued: a pass then does its timed
// work and the next one takes the rest.
constexpr int EVENTS_PER_PASS = 1024;

// What the loop holds for its whole run, besides its timing.
struct LoopContext {
    DockWindow& window;
    const Font& font;
    PixelBuffer& buffer;
    Settings settings;
    const Arguments& args;
    const Environment& env;
    std::ostream& err;
    const LoopSeams& seams;
    ClickPace clicks;
    StartedCommands commands;
    TextScratch text_scratch; // the text drawing's working memory, reused by every frame
};

// What the events of one pass leave for its timed work.
struct Drained {
    bool reloaded = false;
    // Any number of exposures in one pass make at most one repaint after it.
    bool exposed = false;
    // Set by a close request or the window's destruction.
    std::optional<int> exit_status;
};

void reload(LoopContext& loop, std::string_view status_line)
{
    loop.settings = reload_configuration(loop.settings, loop.args, loop.env, loop.err);
    if (!loop.settings.quiet) loop.err << status_line;
}

void take_button(LoopContext& loop, std::uint8_t button, Drained& drained)
{
    const Settings& settings = loop.settings;
    const std::optional<std::string>& command = button == 1   ? settings.left_click
                                                : button == 2 ? settings.middle_click
                                                              : settings.right_click;
    const bool reloads = button == 2 && !command;
    if (!command && !reloads) return;
    if (!take_click(loop.clicks, loop.seams.monotonic())) return;
    if (reloads) {
        // Repainted by the very pass that this click woke: the user sees the reload at once.
        reload(loop, "kestrelDial: config reloaded\n");
        drained.reloaded = true;
    } else {
        run_click_command(command, loop.env, loop.commands);
    }
}

std::expected<Drained, Error> drain_events(LoopContext& loop)
{
    using Kind = DockEvent::Kind;
    Drained drained;
    for (int taken = 0; taken < EVENTS_PER_PASS; ++taken) {
        const auto event = next_dock_event(loop.window);
        if (!event) return std::unexpected(event.error());
        switch (event->kind) {
        case Kind::NothingPending: return drained;
        case Kind::Click: take_button(loop, event->button, drained); break;
        case Kind::CloseRequest:
            if (!loop.settings.quiet) loop.err << "kestrelDial: exiting\n";
            drained.exit_status = 0;
            return drained;
        case Kind::WindowDestroyed: drained.exit_status = 0; return drained;
        case Kind::Exposed: drained.exposed = true; break;
        case Kind::Ignored: break;
        }
    }
    return drained;
}

// The shortest time from a frame to one that answers an exposure. A window uncovered now and
// then is repainted at once; a neighbour that exposes it in a loop (ClearArea after ClearArea)
// gets twenty frames a second, not one for each exposure.
constexpr std::chrono::milliseconds EXPOSURE_GAP{50};

// When the loop repaints and how long it waits.
struct LoopTiming {
    RepaintMarks marks;
    // Where the current wait ends; a pass woken by an event before then waits on to it. A
    // deadline in the past makes the next pass plan a new one.
    MonotonicTime deadline = MonotonicTime::min();
    MonotonicTime painted_at = MonotonicTime::min();
    bool exposure_owed = false;
};

// Whether the pass that read `now` (and `read_at` on the monotonic clock) repaints: for the
// time, for force, or for an exposure. Plans the deadline of the wait after it.
bool plan_pass(LoopTiming& timing, const Settings& settings, Instant now, MonotonicTime read_at,
               bool force, bool exposed)
{
    // The zone the face shows, which a fixed offset or a TZ with seconds sets apart from the
    // local one.
    const std::tm shown = shown_time(settings, now);
    const bool turn = take_repaint_turn(timing.marks, settings.seconds, shown, force);
    // A click or an exposure does not move the next wake-up; a repaint (a new second, a
    // reload, which may also have switched seconds on or off) plans it afresh, and an exposure
    // held back by the gap brings it forward to the gap's end.
    if (turn || read_at >= timing.deadline) {
        timing.deadline = read_at + pass_wait(settings.seconds, shown.tm_sec % 60, now.nanoseconds);
    }
    timing.exposure_owed = timing.exposure_owed || exposed;
    const MonotonicTime exposure_due = timing.painted_at + EXPOSURE_GAP;
    if (!turn && !(timing.exposure_owed && read_at >= exposure_due)) {
        if (timing.exposure_owed) timing.deadline = std::min(timing.deadline, exposure_due);
        return false;
    }
    timing.painted_at = read_at;
    timing.exposure_owed = false;
    return true;
}

std::expected<void, Error> repaint(LoopContext& loop)
{
    paint_face(loop.buffer, loop.font, loop.text_scratch, loop.settings, loop.seams.clock);
    return present_frame(loop.window, loop.buffer);
}

} // namespace

bool take_click(ClickPace& pace, MonotonicTime now)
{
    const MonotonicTime from = std::max(pace.paid_until, now);
    if (from - now > (CLICK_BURST - 1) * CLICK_INTERVAL) return false;
    pace.paid_until = from + CLICK_INTERVAL;
    return true;
}

std::expected<int, Error> run_main_loop(DockWindow& window, const Font& font, PixelBuffer& buffer,
                                        Settings settings, const Arguments& args,
                                        const Environment& env, std::ostream& err,
                                        const LoopSeams& seams)
{
    LoopContext loop{window, font, buffer, std::move(settings), args, env, err, seams, {}, {}, {}};
    LoopTiming timing;
    // Whether there may be events to take: at the start (the mapping's exposure, for one) and
    // after a wait that an event ended. A wait that ran out has just seen the connection empty,
    // so reading it again would be a wasted system call on every idle wake-up.
    bool woken = true;
    for (;;) {
        Drained drained;
        if (woken) {
            auto taken = drain_events(loop);
            if (!taken) return std::unexpected(taken.error());
            drained = *taken;
            if (drained.exit_status) return *drained.exit_status;
        }
        if (reload_requested.exchange(false)) {
            reload(loop, "kestrelDial: config reloaded (SIGHUP)\n");
            drained.reloaded = true;
        }
        reap_finished_children(loop.commands);

        const Instant now = seams.clock();
        const MonotonicTime read_at = seams.monotonic();
        if (plan_pass(timing, loop.settings, now, read_at, drained.reloaded, drained.exposed)) {
            if (auto shown = repaint(loop); !shown) return std::unexpected(shown.error());
        }

        const auto waited = seams.wait(window, timing.deadline);
        if (!waited) return std::unexpected(waited.error());
        woken = *waited == DockWait::Ready;
        if (!woken) timing.deadline = MonotonicTime::min();
    }
}

} // namespace kd
