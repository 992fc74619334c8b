#pragma once
// Private X servers (and a window manager on them) for tests that need a real display.
// Every process started here is killed and reaped by its owner's destructor.

#include "support/temp_dir.hpp"
#include "support/x_client.hpp"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kd::test {

// A fresh random cookie.
Cookie random_cookie();

// Writes an Xauthority file whose one MIT-MAGIC-COOKIE-1 entry holds for every display, so
// that one file serves an Xvfb's -auth and its clients' XAUTHORITY before the display number
// is known.
void write_xauthority(const std::string& path, const Cookie& cookie);

// Who may connect: by default local sockets only, without access control.
struct XvfbAccess {
    bool tcp = false;      // also TCP port 6000 + N, for the display 127.0.0.1:N
    std::string auth_file; // when set, only clients that hold a cookie of this Xauthority file
};

// An Xvfb on a display number that it picks itself (-displayfd). Construction returns once
// the server accepts connections; throws std::runtime_error (with the server's own output)
// when it does not start.
class XvfbServer {
  public:
    // screen is "WIDTHxHEIGHTxDEPTH" for screen 0; extra_args go after the standard ones.
    explicit XvfbServer(const std::string& screen = "1280x1024x24",
                        const std::vector<std::string>& extra_args = {},
                        const XvfbAccess& access = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // The display name, such as ":7".
    const std::string& display() const { return display_; }
    // The same display over TCP, such as "127.0.0.1:7" (with XvfbAccess::tcp).
    std::string tcp_display() const { return "127.0.0.1" + display_; }

    // Kills the server at once (SIGKILL) and reaps it; later calls and the destructor do nothing.
    void kill_now();

  private:
    TempDir log_dir_;
    pid_t pid_ = -1;
    std::string display_;
};

// A window manager (such as "openbox") running on a display with a HOME of its own, so it
// reads and writes its resource files there; `home_files` (a path below HOME, its content)
// are written before it starts. Construction returns once it has taken over the root window
// (SubstructureRedirect); throws std::runtime_error when it dies first or the deadline passes.
class WindowManagerSession {
  public:
    WindowManagerSession(const XvfbServer& server, const std::string& program,
                         const std::vector<std::pair<std::string, std::string>>& home_files = {});
    ~WindowManagerSession();
    WindowManagerSession(const WindowManagerSession&) = delete;
    WindowManagerSession& operator=(const WindowManagerSession&) = delete;

    bool running();
    // What the window manager wrote to standard output and standard error.
    std::string log() const;

  private:
    TempDir home_;
    pid_t pid_ = -1;
};

// fluxbox as a WindowManagerSession that returns only once its slit window exists.
class FluxboxSession {
  public:
    explicit FluxboxSession(const XvfbServer& server);

    // The slit: an override-redirect child of the root whose WM_WINDOW_ROLE is "fluxbox-slit".
    std::uint32_t slit_window() const { return slit_window_; }

  private:
    WindowManagerSession session_;
    std::uint32_t slit_window_ = 0;
};

} // namespace kd::test
