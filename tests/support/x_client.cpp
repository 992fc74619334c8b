#include "support/x_client.hpp"

#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace kd::test {

namespace {

struct FreeReply {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

// Waits for a reply; a request that failed (the error is freed too) gives an empty pointer.
template <typename T, typename Cookie, typename Fetch>
Reply<T> reply_of(xcb_connection_t* connection, Cookie cookie, Fetch fetch)
{
    xcb_generic_error_t* error = nullptr;
    Reply<T> reply{fetch(connection, cookie, &error)};
    std::free(error);
    return reply;
}

} // namespace

namespace {

xcb_connection_t* connect(const std::string& display, const std::optional<Cookie>& cookie)
{
    if (!cookie) return xcb_connect(display.c_str(), nullptr);
    std::string name = "MIT-MAGIC-COOKIE-1";
    Cookie data = *cookie;
    xcb_auth_info_t auth{static_cast<int>(name.size()), name.data(), static_cast<int>(data.size()),
                         reinterpret_cast<char*>(data.data())};
    return xcb_connect_to_display_with_auth_info(display.c_str(), &auth, nullptr);
}

} // namespace

XConnection::XConnection(const std::string& display, const std::optional<Cookie>& cookie)
    : connection_(connect(display, cookie))
{
    if (xcb_connection_has_error(connection_.get()) != 0) {
        throw std::runtime_error("cannot connect to X display " + display);
    }
}

xcb_window_t XConnection::root(int screen) const
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(get()));
    for (int i = 0; i < screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    return it.rem > 0 ? it.data->root : XCB_NONE;
}

std::vector<std::uint32_t> PropertyValue::words() const
{
    std::vector<std::uint32_t> result(bytes.size() / 4);
    std::memcpy(result.data(), bytes.data(), result.size() * 4);
    return result;
}

std::optional<PropertyValue> get_property(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t property)
{
    const auto reply = reply_of<xcb_get_property_reply_t>(
        connection,
        xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
        xcb_get_property_reply);
    if (!reply || reply->type == XCB_NONE) return std::nullopt;
    const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
    const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    return PropertyValue{reply->type, reply->format,
                         std::vector<std::uint8_t>(data, data + length)};
}

xcb_atom_t intern_atom(xcb_connection_t* connection, std::string_view name, bool only_if_exists)
{
    const auto reply = reply_of<xcb_intern_atom_reply_t>(
        connection,
        xcb_intern_atom(connection, only_if_exists ? 1 : 0, static_cast<std::uint16_t>(name.size()),
                        name.data()),
        xcb_intern_atom_reply);
    return reply ? reply->atom : XCB_NONE;
}

std::optional<Geometry> get_geometry(xcb_connection_t* connection, xcb_window_t window)
{
    const auto reply = reply_of<xcb_get_geometry_reply_t>(
        connection, xcb_get_geometry(connection, window), xcb_get_geometry_reply);
    if (!reply) return std::nullopt;
    return Geometry{reply->x,    reply->y, reply->width, reply->height, reply->border_width,
                    reply->depth};
}

std::optional<WindowAttributes> get_window_attributes(xcb_connection_t* connection,
                                                      xcb_window_t window)
{
    const auto reply = reply_of<xcb_get_window_attributes_reply_t>(
        connection, xcb_get_window_attributes(connection, window), xcb_get_window_attributes_reply);
    if (!reply) return std::nullopt;
    return WindowAttributes{reply->_class, reply->override_redirect != 0, reply->map_state,
                            reply->all_event_masks};
}

std::optional<Tree> query_tree(xcb_connection_t* connection, xcb_window_t window)
{
    const auto reply = reply_of<xcb_query_tree_reply_t>(
        connection, xcb_query_tree(connection, window), xcb_query_tree_reply);
    if (!reply) return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(reply.get());
    return Tree{reply->root, reply->parent,
                std::vector<xcb_window_t>(children,
                                          children + xcb_query_tree_children_length(reply.get()))};
}

std::optional<std::vector<std::uint8_t>> get_image(xcb_connection_t* connection,
                                                   xcb_window_t window, std::uint16_t width,
                                                   std::uint16_t height)
{
    const auto reply = reply_of<xcb_get_image_reply_t>(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, width, height, ~0U),
        xcb_get_image_reply);
    if (!reply) return std::nullopt;
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    return std::vector<std::uint8_t>(data, data + xcb_get_image_data_length(reply.get()));
}

std::optional<xcb_window_t> find_window_by_name(xcb_connection_t* connection, xcb_window_t top,
                                                std::string_view name)
{
    const auto wm_name = get_property(connection, top, XCB_ATOM_WM_NAME);
    if (wm_name && std::string_view(reinterpret_cast<const char*>(wm_name->bytes.data()),
                                    wm_name->bytes.size()) == name) {
        return top;
    }
    const auto tree = query_tree(connection, top);
    if (!tree) return std::nullopt;
    for (const xcb_window_t child : tree->children) {
        if (auto found = find_window_by_name(connection, child, name)) return found;
    }
    return std::nullopt;
}

std::optional<std::pair<std::int16_t, std::int16_t>> root_position(xcb_connection_t* connection,
                                                                   xcb_window_t window)
{
    const auto tree = query_tree(connection, window);
    if (!tree) return std::nullopt;
    const auto reply = reply_of<xcb_translate_coordinates_reply_t>(
        connection, xcb_translate_coordinates(connection, window, tree->root, 0, 0),
        xcb_translate_coordinates_reply);
    if (!reply) return std::nullopt;
    return std::pair{reply->dst_x, reply->dst_y};
}

bool is_docked(xcb_connection_t* connection, xcb_window_t window)
{
    const auto tree = query_tree(connection, window);
    const auto attributes = get_window_attributes(connection, window);
    return tree && tree->parent != tree->root && attributes &&
           attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
           !get_property(connection, window, intern_atom(connection, "WM_STATE"));
}

std::optional<xcb_window_t> find_fluxbox_slit(xcb_connection_t* connection)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t role = intern_atom(connection, "WM_WINDOW_ROLE");
    const auto tree = query_tree(connection, root);
    if (!tree) return std::nullopt;
    for (const xcb_window_t child : tree->children) {
        const auto attributes = get_window_attributes(connection, child);
        if (!attributes || !attributes->override_redirect) continue;
        const auto value = get_property(connection, child, role);
        if (!value) continue;
        const std::string text(value->bytes.begin(), value->bytes.end());
        if (text.c_str() == std::string_view("fluxbox-slit")) return child;
    }
    return std::nullopt;
}

void fake_click(xcb_connection_t* connection, std::int16_t x, std::int16_t y, std::uint8_t button)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, x, y, 0);
    xcb_test_fake_input(connection, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, root, 0, 0, 0);
    xcb_test_fake_input(connection, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, root, 0, 0, 0);
    sync(connection);
}

bool is_painted(xcb_connection_t* connection, xcb_window_t window)
{
    const auto pixel = get_image(connection, window, 1, 1);
    return pixel &&
           std::any_of(pixel->begin(), pixel->end(), [](std::uint8_t byte) { return byte != 0; });
}

namespace {

std::optional<ClockWindows> ready_clock(xcb_connection_t* connection, xcb_window_t top,
                                        std::string_view name)
{
    const auto face = find_window_by_name(connection, top, name);
    const auto tree = face ? query_tree(connection, *face) : std::nullopt;
    if (!tree) return std::nullopt;
    for (const xcb_window_t child : tree->children) {
        const auto attributes = get_window_attributes(connection, child);
        // Viewable: mapped, and so are the face and everything above it.
        if (attributes && attributes->window_class == XCB_WINDOW_CLASS_INPUT_ONLY &&
            attributes->map_state == XCB_MAP_STATE_VIEWABLE && is_painted(connection, *face)) {
            return ClockWindows{*face, child};
        }
    }
    return std::nullopt;
}

// The deepest window that holds the pointer, found from the root down.
xcb_window_t window_under_pointer(xcb_connection_t* connection, xcb_window_t root)
{
    xcb_window_t at = root;
    while (true) {
        const auto reply = reply_of<xcb_query_pointer_reply_t>(
            connection, xcb_query_pointer(connection, at), xcb_query_pointer_reply);
        if (!reply || reply->child == XCB_NONE) return at;
        at = reply->child;
    }
}

} // namespace

std::optional<ClockWindows> wait_for_clock(xcb_connection_t* connection, xcb_window_t top,
                                           std::chrono::milliseconds timeout, std::string_view name)
{
    std::optional<ClockWindows> found;
    wait_until([&] { return (found = ready_clock(connection, top, name)).has_value(); }, timeout);
    return found;
}

bool click_on(xcb_connection_t* connection, xcb_window_t window, std::int16_t x, std::int16_t y,
              std::uint8_t button, std::chrono::milliseconds timeout)
{
    xcb_window_t root = XCB_NONE;
    // Placed again on every try: a dock may still be moving the window.
    const bool over = wait_until(
        [&] {
            const auto tree = query_tree(connection, window);
            if (!tree) return false;
            root = tree->root;
            const auto at = reply_of<xcb_translate_coordinates_reply_t>(
                connection, xcb_translate_coordinates(connection, window, root, x, y),
                xcb_translate_coordinates_reply);
            if (!at) return false;
            xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, at->dst_x,
                                at->dst_y, 0);
            return window_under_pointer(connection, root) == window;
        },
        timeout);
    if (!over) return false;
    xcb_test_fake_input(connection, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, root, 0, 0, 0);
    xcb_test_fake_input(connection, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, root, 0, 0, 0);
    sync(connection);
    return true;
}

void send_client_message(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t type,
                         const std::array<std::uint32_t, 5>& data)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::memcpy(event.data.data32, data.data(), sizeof event.data.data32);
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    sync(connection);
}

void request_close(xcb_connection_t* connection, xcb_window_t window)
{
    send_client_message(connection, window, intern_atom(connection, "WM_PROTOCOLS"),
                        {intern_atom(connection, "WM_DELETE_WINDOW"), 0, 0, 0, 0});
}

void send_expose(xcb_connection_t* connection, xcb_window_t window, std::uint16_t width,
                 std::uint16_t height, std::uint16_t count, bool wait)
{
    // SendEvent always takes 32 bytes, whatever the event's own size.
    std::array<char, 32> buffer{};
    auto* event = reinterpret_cast<xcb_expose_event_t*>(buffer.data());
    event->response_type = XCB_EXPOSE;
    event->window = window;
    event->width = width;
    event->height = height;
    event->count = count;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_EXPOSURE, buffer.data());
    if (wait) sync(connection);
}

void destroy_window(xcb_connection_t* connection, xcb_window_t window)
{
    xcb_destroy_window(connection, window);
    sync(connection);
}

void sync(xcb_connection_t* connection)
{
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace kd::test
