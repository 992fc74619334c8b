#pragma once
// What the bench tools that watch a running clock share: xcb handles and finding the clock's
// window on the display by its name.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

namespace kd::bench {

inline constexpr std::string_view WINDOW_NAME = "kestrelDial";

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

inline bool has_name(xcb_connection_t* connection, xcb_window_t window)
{
    // A window may vanish between listing and asking; its error is dropped with it.
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> name(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
        &error));
    std::free(error);
    if (!name) return false;
    const auto length = static_cast<std::size_t>(xcb_get_property_value_length(name.get()));
    return std::string_view(static_cast<const char*>(xcb_get_property_value(name.get())), length) ==
           WINDOW_NAME;
}

// Depth first from `top`, as a window manager may have reparented the window.
inline std::optional<xcb_window_t> find_named_window(xcb_connection_t* connection, xcb_window_t top)
{
    if (has_name(connection, top)) return top;
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, top), &error));
    std::free(error);
    if (!tree) return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < count; ++i) {
        if (auto found = find_named_window(connection, children[i])) return found;
    }
    return std::nullopt;
}

} // namespace kd::bench
