#pragma once
// Private X servers (and a window manager on them) for tests that need a real display.
// Every process started here is killed and reaped by its owner's destructor.

#include "support/temp_dir.hpp"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kd::test {

// An Xvfb on a display number that it picks itself (-displayfd), listening only on local
// sockets. Construction returns once the server accepts connections; throws
// std::runtime_error (with the server's own output) when it does not start.
class XvfbServer {
public:
    // screen is "WIDTHxHEIGHTxDEPTH" for screen 0; extra_args go after the standard ones.
    explicit XvfbServer(const std::string& screen = "1280x1024x24", const std::vector<std::string>& extra_args = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // The display name, such as ":7".
    const std::string& display() const { return display_; }

    // Kills the server at once (SIGKILL) and reaps it; later calls and the destructor do nothing.
    void kill_now();

private:
    TempDir log_dir_;
    pid_t pid_ = -1;
    std::string display_;
};

// fluxbox running on a display with a HOME of its own (so it writes its resource files
// there). Construction returns once its slit window exists; throws std::runtime_error when
// fluxbox dies or no slit appears within the deadline.
class FluxboxSession {
public:
    explicit FluxboxSession(const XvfbServer& server);
    ~FluxboxSession();
    FluxboxSession(const FluxboxSession&) = delete;
    FluxboxSession& operator=(const FluxboxSession&) = delete;

    // The slit: an override-redirect child of the root whose WM_WINDOW_ROLE is "fluxbox-slit".
    std::uint32_t slit_window() const { return slit_window_; }

private:
    TempDir home_;
    pid_t pid_ = -1;
    std::uint32_t slit_window_ = 0;
};

} // namespace kd::test
