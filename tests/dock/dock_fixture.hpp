#pragma once
// What the dock tests share: a private Xvfb per suite, opening the window on it, and waiting
// for the window's events with a deadline.

#include "dock/dock_event.hpp"
#include "dock/dock_window.hpp"
#include "dock/dock_xcb.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

namespace kd::test {

inline Settings settings_of_size(std::uint64_t size)
{
    Settings settings;
    settings.size = size;
    return settings;
}

// Opens the dock window; a failure ends the test (as an exception gtest reports).
inline DockWindow open_or_fail(const std::string& display, std::uint64_t size = 96,
                               const Arguments& args = {"kestrelDial"})
{
    auto window = open_dock_window(settings_of_size(size), args, display.c_str());
    if (!window) throw std::runtime_error("open_dock_window: " + window.error().text);
    // Other connections of the test must find the windows mapped and their properties set.
    sync(dock_xcb_connection(*window));
    return std::move(*window);
}

// Takes the window's events until one of kind `last` arrives (returned too) or the deadline
// passes; Ignored events are left out.
inline std::vector<DockEvent>
events_until(DockWindow& window, DockEvent::Kind last,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
{
    std::vector<DockEvent> seen;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto event = next_dock_event(window);
        if (!event) {
            ADD_FAILURE() << "next_dock_event: " << event.error().text;
            return seen;
        }
        if (event->kind == DockEvent::Kind::NothingPending) {
            pollfd readable{xcb_get_file_descriptor(dock_xcb_connection(window)), POLLIN, 0};
            poll(&readable, 1, 10);
            continue;
        }
        if (event->kind == DockEvent::Kind::Ignored) continue;
        seen.push_back(*event);
        if (event->kind == last) return seen;
    }
    ADD_FAILURE() << "no event of the awaited kind before the deadline";
    return seen;
}

// One Xvfb (1280x1024, depth 24) for every test of a suite.
class DockOnXvfb : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server = std::make_unique<XvfbServer>(); }
    static void TearDownTestSuite() { server.reset(); }
    static const std::string& display() { return server->display(); }

    static inline std::unique_ptr<XvfbServer> server;
};

} // namespace kd::test
