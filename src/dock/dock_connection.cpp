#include "dock/dock_connection.hpp"

#include "dock/display_probe.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <optional>
#include <span>
#include <string>

namespace kd {

namespace {

// The display name comes from the environment and may hold terminal controls: between its
// single quotes it is escaped as the program's own messages are.
std::string quoted_display(std::string_view display)
{
    std::string quoted = quote_message(display);
    quoted.front() = '\'';
    quoted.back() = '\'';
    return quoted;
}

std::string cannot_open(const char* display)
{
    return "cannot open display " + quoted_display(display == nullptr ? "" : display) + ": ";
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

// libxcb writes the reason of a server that refuses the connection set-up straight to file
// descriptor 2, then a line feed of its own; X servers end their reasons with a line feed too,
// so the user saw the reason, an empty line and then the error line, which could not tell a
// refusal from an absent server. libxcb writes nothing else there while connecting, so for
// the length of xcb_connect descriptor 2 points at an anonymous file: anything in it means
// that a server answered and refused, and its reason goes into the error line.
//
// The capture holds one descriptor while libxcb connects (the saved standard error): the
// anonymous file lives on as descriptor 2 alone, so a clock that has no more descriptors than
// a plain X client needs still gets its socket.
class StderrCapture {
  public:
    StderrCapture()
    {
        // Without a standard error there is nothing to keep from it.
        if (fcntl(STDERR_FILENO, F_GETFD) == -1) return;
        saved_.fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (saved_.fd == -1) return;
        const Descriptor file(memfd_create("kestrelDial-x-setup", MFD_CLOEXEC));
        if (file.fd == -1 || dup2(file.fd, STDERR_FILENO) == -1) saved_.reset();
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture() { restore(); }

    // What was written since the capture began; standard error is back where it was.
    std::string restore()
    {
        if (saved_.fd == -1) return {};
        std::array<char, MAX_REASON> said{};
        const ssize_t length = pread(STDERR_FILENO, said.data(), said.size(), 0);
        dup2(saved_.fd, STDERR_FILENO);
        saved_.reset();
        return length > 0 ? std::string(said.data(), static_cast<std::size_t>(length)) : "";
    }

  private:
    Descriptor saved_;
};

// The screen number of a display name such as ":0.1" or "host:0.12", as written (decimal
// digits only); nothing when the name gives none.
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

// libxcb reports a packet whose length field asks for more than it will allocate just as it
// reports memory running out. If a modest allocation still succeeds, the length was at fault.
bool memory_runs_short()
{
    constexpr std::size_t MODEST = std::size_t{1} << 20;
    void* block = mmap(nullptr, MODEST, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return true;
    munmap(block, MODEST);
    return false;
}

// The words for the error of a connection that had been working.
std::string lost_connection_text(int code)
{
    switch (code) {
    case XCB_CONN_ERROR: return "connection to the X server was lost";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return "the X server does not support an extension the connection needs";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        if (memory_runs_short()) return "out of memory for the X connection";
        return "the X server sent an event or reply of an impossible length (the connection was "
               "closed)";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return "request too long for the server (the X server closed the connection)";
    case XCB_CONN_CLOSED_FDPASSING_FAILED:
        return "passing a file descriptor to the X server failed";
    default: return "X connection error " + std::to_string(code);
    }
}

// libxcb gives one code for an unreachable server, a socket it could not make and a server
// that turned the connection set-up down or cut it short; only a refusal with a reason comes
// with the server's words, and knocking at the address again tells the rest apart.
Error unopened_display_error(const char* display, const std::optional<std::string>& refusal)
{
    if (display == nullptr) return description("cannot open display (DISPLAY is not set)");
    if (refusal) {
        // The reason is the server's text, not ours: quoted with escapes, so a hostile or
        // broken server cannot put terminal controls or stray bytes on the user's terminal.
        const std::string said = refusal->empty() ? "" : " (" + quote_message(*refusal) + ")";
        return description(cannot_open(display) +
                           "the X server answered but refused the connection set-up" + said +
                           "; this usually means missing or wrong authorization: check "
                           "XAUTHORITY and 'xauth list'");
    }
    const auto probe = probe_display(display);
    if (!probe) return description(cannot_open(display) + probe.error().text);
    if (*probe == DisplayProbe::ServerAnswered) {
        return description(cannot_open(display) +
                           "the X server answered but the connection set-up failed (it was cut "
                           "short, or refused without a reason)");
    }
    return description(cannot_open(display) + "no X server answered there");
}

Error opening_error(int code, const char* display, int screen,
                    const std::optional<std::string>& refusal)
{
    switch (code) {
    case XCB_CONN_ERROR: return unopened_display_error(display, refusal);
    case XCB_CONN_CLOSED_PARSE_ERR:
        if (display == nullptr) return description("cannot open display (DISPLAY is not set)");
        return description(cannot_open(display) + "not a valid display name");
    case XCB_CONN_CLOSED_INVALID_SCREEN: return missing_screen_error(display, screen);
    // Nothing larger than the set-up (at most 256 KiB) has been allocated yet.
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT: return description("out of memory for the X connection");
    default: return description(lost_connection_text(code));
    }
}

} // namespace

std::expected<ConnectedDisplay, Error> connect_display(const char* display_name)
{
    ConnectedDisplay display;
    display.name = display_name != nullptr ? display_name : std::getenv("DISPLAY");
    std::string said;
    {
        StderrCapture capture;
        display.xcb.reset(xcb_connect(display_name, &display.screen));
        said = capture.restore();
    }
    if (const int code = xcb_connection_has_error(display.xcb.get())) {
        const auto refusal = said.empty() ? std::nullopt : std::optional(one_line(said));
        return std::unexpected(opening_error(code, display.name, display.screen, refusal));
    }
    // Not a refusal after all: pass it on where libxcb meant it to go.
    if (!said.empty()) {
        [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, said.data(), said.size());
    }

    // libxcb read exactly this much, whatever the counts inside claim.
    const xcb_setup_t* setup = xcb_get_setup(display.xcb.get());
    const std::span<const std::uint8_t> setup_bytes(reinterpret_cast<const std::uint8_t*>(setup),
                                                    std::size_t{setup->length} * 4 + 8);
    auto read = read_server_setup(setup_bytes);
    if (!read) return std::unexpected(description(cannot_open(display.name) + read.error().text));
    display.setup = std::move(*read);

    // No program started later (a click command, say) may inherit the display connection.
    const int fd = xcb_get_file_descriptor(display.xcb.get());
    const int fd_flags = fcntl(fd, F_GETFD);
    if (fd_flags == -1 || fcntl(fd, F_SETFD, fd_flags | FD_CLOEXEC) == -1) {
        return std::unexpected(
            description("cannot mark the X connection close-on-exec: " + os_error_text(errno)));
    }
    return display;
}

Error missing_screen_error(const char* display, int screen)
{
    const std::string shown = display == nullptr ? "" : display;
    // libxcb keeps the screen in an int: a long number comes back wrapped, even negative.
    if (const auto given = screen_in_display_name(shown)) {
        return description("screen " + std::string(*given) + " does not exist on display " +
                           quoted_display(shown));
    }
    if (screen < 0) {
        return description("the screen number of display " + quoted_display(shown) +
                           " is out of range");
    }
    return description("screen " + std::to_string(screen) + " does not exist on display " +
                       quoted_display(shown));
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

std::expected<void, Error> check_connection(xcb_connection_t* connection)
{
    const int code = xcb_connection_has_error(connection);
    if (code == 0) return {};
    return std::unexpected(description(lost_connection_text(code)));
}

xcb_connection_t* dock_xcb_connection(const DockWindow& window)
{
    return window.connection->xcb.get();
}

} // namespace kd
