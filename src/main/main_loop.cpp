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

std::expected<int, Error> run_main_loop(DockWindow& window, Font& font, PixelBuffer& buffer,
                                        Settings settings, const Arguments& args,
                                        const Environment& env, std::ostream& err,
                                        const LoopSeams& seams)
{
    TextScratch text_scratch;
    const auto repaint = [&]() -> std::expected<void, Error> {
        paint_face(buffer, font, text_scratch, settings, seams.clock);
        return present_frame(window, buffer);
    };

    RepaintMarks marks;
    // Where the current wait ends; a pass woken by an event before then waits on to it. A
    // deadline in the past makes the next pass plan a new one.
    MonotonicTime deadline = MonotonicTime::min();
    // Whether there may be events to take: at the start (the mapping's exposure, for one) and
    // after a wait that an event ended. A wait that ran out has just seen the connection empty,
    // so reading it again would be a wasted system call on every idle wake-up.
    bool woken = true;
    for (;;) {
        bool force = false;

        while (woken) {
            const auto event = next_dock_event(window);
            if (!event) return std::unexpected(event.error());
            if (event->kind == DockEvent::Kind::NothingPending) break;
            switch (event->kind) {
            case DockEvent::Kind::Click:
                if (event->button == 1) {
                    run_click_command(settings.left_click, env);
                } else if (event->button == 3) {
                    run_click_command(settings.right_click, env);
                } else if (event->button == 2) {
                    if (settings.middle_click) {
                        run_click_command(settings.middle_click, env);
                    } else {
                        // Forced, so the very pass that this click woke repaints: the user
                        // sees the reload at once.
                        settings = reload_configuration(settings, args, env, err);
                        force = true;
                        if (!settings.quiet) err << "kestrelDial: config reloaded\n";
                    }
                }
                break;
            case DockEvent::Kind::CloseRequest:
                if (!settings.quiet) err << "kestrelDial: exiting\n";
                return 0;
            case DockEvent::Kind::WindowDestroyed: return 0;
            case DockEvent::Kind::Exposed:
                if (auto shown = repaint(); !shown) return std::unexpected(shown.error());
                break;
            case DockEvent::Kind::NothingPending:
            case DockEvent::Kind::Ignored: break;
            }
        }

        if (reload_requested.exchange(false)) {
            settings = reload_configuration(settings, args, env, err);
            force = true;
            if (!settings.quiet) err << "kestrelDial: config reloaded (SIGHUP)\n";
        }

        reap_finished_children();

        const Instant now = seams.clock();
        const MonotonicTime read_at = seams.monotonic();
        // The zone the face shows, which a fixed offset or a TZ with seconds sets apart from
        // the local one.
        const std::tm face_time = shown_time(settings, now);
        const bool turn = take_repaint_turn(marks, settings.seconds, face_time, force);
        if (turn) {
            if (auto shown = repaint(); !shown) return std::unexpected(shown.error());
        }

        // A click or an exposure does not move the next wake-up; a repaint (a new second, a
        // reload, which may also have switched seconds on or off) plans it afresh.
        if (turn || read_at >= deadline) {
            deadline =
                read_at + pass_wait(settings.seconds, face_time.tm_sec % 60, now.nanoseconds);
        }
        const auto waited = seams.wait(window, deadline);
        if (!waited) return std::unexpected(waited.error());
        woken = *waited == DockWait::Ready;
        if (!woken) deadline = MonotonicTime::min();
    }
}

} // namespace kd
