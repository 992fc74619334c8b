#include "dock/dock_connection.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>

namespace kd {

namespace {

std::string quoted_display(const char* display)
{
    return std::string("'") + display + "'";
}

// A set-up refusal's reason is at most 255 bytes; an authentication request may carry more,
// which the error line does not need.
constexpr std::size_t MAX_REASON = 1024;

// The reason as one line: control characters become blanks, blanks at the ends go.
std::string one_line(std::string text)
{
    std::replace_if(
        text.begin(), text.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, ' ');
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

// libxcb writes the reason of a server that refuses the connection set-up straight to file
// descriptor 2, then a line feed of its own; X servers end their reasons with a line feed too,
// so the user saw the reason, an empty line and then the error line, which could not tell a
// refusal from an absent server. libxcb writes nothing else there while connecting, so for
// the length of xcb_connect descriptor 2 points at an anonymous file: anything in it means
// that a server answered and refused, and its reason goes into the error line.
OpenedConnection connect_display(const char* display_name)
{
    OpenedConnection opened;
    // Without a standard error there is nothing to keep from it.
    const bool has_stderr = fcntl(STDERR_FILENO, F_GETFD) != -1;
    const Descriptor capture(has_stderr ? memfd_create("kestrelDial-x-setup", MFD_CLOEXEC) : -1);
    const Descriptor saved(capture.fd != -1 ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3) : -1);
    const bool redirected = saved.fd != -1 && dup2(capture.fd, STDERR_FILENO) != -1;

    opened.xcb.reset(xcb_connect(display_name, &opened.screen));

    if (!redirected) return opened;
    dup2(saved.fd, STDERR_FILENO);
    std::array<char, MAX_REASON> said{};
    const ssize_t length = pread(capture.fd, said.data(), said.size(), 0);
    if (length <= 0) return opened;
    const std::string text(said.data(), static_cast<std::size_t>(length));
    if (xcb_connection_has_error(opened.xcb.get()) == 0) {
        // Not a refusal after all: pass it on where libxcb meant it to go.
        [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    } else {
        opened.refusal = one_line(text);
    }
    return opened;
}

std::optional<std::string_view> screen_in_display_name(std::string_view display)
{
    const auto colon = display.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto dot = display.find('.', colon);
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view digits = display.substr(dot + 1);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return digits;
}

bool screen_number_wrapped(std::string_view display, int screen)
{
    const auto given = screen_in_display_name(display);
    if (!given) return false;
    unsigned long long value = 0;
    const auto [end, failure] =
        std::from_chars(given->data(), given->data() + given->size(), value);
    return failure != std::errc{} || end != given->data() + given->size() || screen < 0 ||
           value != static_cast<unsigned long long>(screen);
}

std::string connection_error_text(int code, ConnectionStage stage, const char* display, int screen,
                                  const std::optional<std::string>& refusal)
{
    const bool opening = stage == ConnectionStage::Opening;
    switch (code) {
    case XCB_CONN_ERROR:
        // While opening, libxcb gives this one code for an unreachable server and for a server
        // that turned the connection set-up down; only the refusal comes with the server's words.
        if (opening) {
            if (display == nullptr) return "cannot open display (DISPLAY is not set)";
            if (!refusal)
                return "cannot open display " + quoted_display(display) +
                       ": no X server answered there";
            // The reason is the server's text, not ours: quoted with escapes, so a hostile or
            // broken server cannot put terminal controls or stray bytes on the user's terminal.
            const std::string said = refusal->empty() ? "" : " (" + quote_message(*refusal) + ")";
            return "cannot open display " + quoted_display(display) +
                   ": the X server answered but refused the connection set-up" + said +
                   "; this usually means missing or wrong authorization: check XAUTHORITY and "
                   "'xauth list'";
        }
        return "connection to the X server was lost";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return "the X server does not support an extension the connection needs";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT: return "out of memory for the X connection";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return "request too long for the server (the X server closed the connection)";
    case XCB_CONN_CLOSED_PARSE_ERR:
        if (display == nullptr) return "cannot open display (DISPLAY is not set)";
        return "cannot open display " + quoted_display(display) + ": not a valid display name";
    case XCB_CONN_CLOSED_INVALID_SCREEN: {
        const std::string shown = display == nullptr ? "" : display;
        // libxcb keeps the screen in an int: a long number comes back wrapped, even negative.
        if (const auto given = screen_in_display_name(shown)) {
            return "screen " + std::string(*given) + " does not exist on display " +
                   quoted_display(shown.c_str());
        }
        if (screen < 0)
            return "the screen number of display " + quoted_display(shown.c_str()) +
                   " is out of range";
        return "screen " + std::to_string(screen) + " does not exist on display " +
               quoted_display(shown.c_str());
    }
    case XCB_CONN_CLOSED_FDPASSING_FAILED:
        return "passing a file descriptor to the X server failed";
    default: return "X connection error " + std::to_string(code);
    }
}

std::optional<Error> connection_error(xcb_connection_t* connection)
{
    const int code = xcb_connection_has_error(connection);
    if (code == 0) return std::nullopt;
    return description(connection_error_text(code, ConnectionStage::Open, nullptr, 0));
}

xcb_connection_t* dock_xcb_connection(const DockWindow& window)
{
    return window.connection->xcb.get();
}

} // namespace kd
