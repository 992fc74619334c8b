#include "dock/dock_connection.hpp"

namespace kd {

namespace {

std::string quoted_display(const char* display) { return std::string("'") + display + "'"; }

} // namespace

std::string connection_error_text(int code, ConnectionStage stage, const char* display, int screen)
{
    const bool opening = stage == ConnectionStage::Opening;
    switch (code) {
    case XCB_CONN_ERROR:
        // While opening, libxcb says only this for an unreachable server and for a server
        // that turned the connection set-up down (authentication, for one).
        if (opening) {
            if (display == nullptr) return "cannot open display (DISPLAY is not set)";
            return "cannot open display " + quoted_display(display) +
                   ": no X server answered there, or it refused the connection setup";
        }
        return "connection to the X server was lost";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return "the X server does not support an extension the connection needs";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return "out of memory for the X connection";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return "request too long for the server (the X server closed the connection)";
    case XCB_CONN_CLOSED_PARSE_ERR:
        if (display == nullptr) return "cannot open display (DISPLAY is not set)";
        return "cannot open display " + quoted_display(display) + ": not a valid display name";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "screen " + std::to_string(screen) + " does not exist on display " +
               quoted_display(display == nullptr ? "" : display);
    case XCB_CONN_CLOSED_FDPASSING_FAILED:
        return "passing a file descriptor to the X server failed";
    default:
        return "X connection error " + std::to_string(code);
    }
}

std::optional<Error> connection_error(xcb_connection_t* connection)
{
    const int code = xcb_connection_has_error(connection);
    if (code == 0) return std::nullopt;
    return description(connection_error_text(code, ConnectionStage::Open, nullptr, 0));
}

xcb_connection_t* dock_xcb_connection(const DockWindow& window) { return window.connection->xcb.get(); }

} // namespace kd
