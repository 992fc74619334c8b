#include "dock/dock_event.hpp"

#include "dock/dock_connection.hpp"

namespace kd {

namespace {

DockEvent classify(const xcb_generic_event_t& event, const DockWindow& window)
{
    using Kind = DockEvent::Kind;
    // The top bit only says that another client sent the event.
    switch (event.response_type & ~0x80) {
    case XCB_BUTTON_PRESS: {
        const auto& press = reinterpret_cast<const xcb_button_press_event_t&>(event);
        if (press.event != window.input_window) return {Kind::Ignored};
        if (press.detail < 1 || press.detail > 3) return {Kind::Ignored};
        return {Kind::Click, press.detail};
    }
    case XCB_CLIENT_MESSAGE: {
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        return {message.data.data32[0] == window.wm_delete_window ? Kind::CloseRequest : Kind::Ignored};
    }
    case XCB_DESTROY_NOTIFY:
        return {Kind::WindowDestroyed};
    case XCB_EXPOSE: {
        // Only the last of a series: the answer is always the whole image.
        const auto& expose = reinterpret_cast<const xcb_expose_event_t&>(event);
        return {expose.count == 0 ? Kind::Exposed : Kind::Ignored};
    }
    default:
        // Protocol errors (response type 0) included: they are dropped.
        return {Kind::Ignored};
    }
}

} // namespace

std::expected<DockEvent, Error> next_dock_event(DockWindow& window)
{
    xcb_connection_t* connection = dock_xcb_connection(window);
    const XcbPtr<xcb_generic_event_t> event{xcb_poll_for_event(connection)};
    if (!event) {
        if (auto lost = connection_error(connection)) return std::unexpected(*lost);
        return DockEvent{DockEvent::Kind::NothingPending};
    }
    return classify(*event, window);
}

} // namespace kd
