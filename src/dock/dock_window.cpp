#include "dock/dock_window.hpp"

#include "dock/dock_connection.hpp"

#include <fcntl.h>
#include <sys/timerfd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kd {

DockWindow::DockWindow() = default;
DockWindow::DockWindow(DockWindow&&) noexcept = default;
DockWindow& DockWindow::operator=(DockWindow&&) noexcept = default;
DockWindow::~DockWindow() = default;

namespace {

constexpr xcb_atom_t WM_HINTS_TYPE = XCB_ATOM_WM_HINTS;
constexpr std::uint32_t WM_HINTS_FLAGS = 0x43; // InputHint | StateHint | WindowGroupHint
constexpr std::uint32_t WITHDRAWN_STATE = 0;
constexpr std::uint32_t WM_SIZE_HINTS_FLAGS = 0x30; // PMinSize | PMaxSize
constexpr std::uint32_t RING = 4;                   // unclickable border of the face

// The window class, instance name then class name, each with its zero byte.
constexpr std::string_view WM_CLASS_VALUE{"kestreldial\0kestrelDial\0", 24};
constexpr std::string_view WM_NAME_VALUE{"kestrelDial"};

// Blocks until the server answers; the reply and any error are freed on every path.
std::expected<xcb_atom_t, Error> intern_atom(xcb_connection_t* connection, std::string_view name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    xcb_generic_error_t* raw_error = nullptr;
    const XcbPtr<xcb_intern_atom_reply_t> reply{
        xcb_intern_atom_reply(connection, cookie, &raw_error)};
    const XcbPtr<xcb_generic_error_t> error{raw_error};
    if (error) {
        return std::unexpected(description("InternAtom \"" + std::string(name) +
                                           "\" failed with X error " +
                                           std::to_string(error->error_code)));
    }
    if (!reply) {
        if (auto lost = connection_error(connection)) return std::unexpected(*lost);
        return std::unexpected(
            description("InternAtom \"" + std::string(name) + "\" got no reply"));
    }
    return reply->atom;
}

std::expected<std::uint32_t, Error> new_resource_id(xcb_connection_t* connection)
{
    const std::uint32_t id = xcb_generate_id(connection);
    if (id == static_cast<std::uint32_t>(-1)) {
        if (auto lost = connection_error(connection)) return std::unexpected(*lost);
        return std::unexpected(description("the X server has no resource id left for this client"));
    }
    return id;
}

void replace_property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                      xcb_atom_t type, std::uint8_t format, std::uint32_t items, const void* data)
{
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format, items,
                        data);
}

// The first pixmap format of the root depth decides; a depth without a format passes.
std::optional<Error> check_pixel_format(const xcb_setup_t* setup, std::uint8_t depth)
{
    const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
    const int count = xcb_setup_pixmap_formats_length(setup);
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth != depth) continue;
        if (formats[i].bits_per_pixel == 32) return std::nullopt;
        return program_message(
            "Unsupported pixel format: " + std::to_string(formats[i].bits_per_pixel) +
            "bpp at depth " + std::to_string(depth) + ". Expected 32bpp.");
    }
    return std::nullopt;
}

// The root visual's description, with its colour masks.
const xcb_visualtype_t* root_visual_type(const xcb_screen_t* screen)
{
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem > 0;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen->root_visual) return visuals.data;
        }
    }
    return nullptr;
}

const xcb_screen_t* screen_number(const xcb_setup_t* setup, int number)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
        if (i == number) return it.data;
    }
    return nullptr;
}

} // namespace

std::expected<DockWindow, Error> open_dock_window(const Settings& settings, const Arguments& args,
                                                  const char* display_name)
{
    if (settings.size < MIN_SIZE || settings.size > MAX_SIZE) {
        return std::unexpected(
            description("window size " + std::to_string(settings.size) + " is outside 96 to 1024"));
    }
    const auto size = static_cast<std::uint16_t>(settings.size);

    const char* shown_display = display_name != nullptr ? display_name : std::getenv("DISPLAY");
    OpenedConnection opened = connect_display(display_name);
    const int screen_index = opened.screen;
    DockWindow window;
    window.connection = std::make_unique<DockConnection>();
    window.connection->xcb = std::move(opened.xcb);
    xcb_connection_t* connection = window.connection->xcb.get();
    if (const int code = xcb_connection_has_error(connection)) {
        return std::unexpected(description(connection_error_text(
            code, ConnectionStage::Opening, shown_display, screen_index, opened.refusal)));
    }
    // No program started later (a click command, say) may inherit the display connection.
    const int fd = xcb_get_file_descriptor(connection);
    const int fd_flags = fcntl(fd, F_GETFD);
    if (fd_flags == -1 || fcntl(fd, F_SETFD, fd_flags | FD_CLOEXEC) == -1) {
        return std::unexpected(
            description("cannot mark the X connection close-on-exec: " + os_error_text(errno)));
    }
    window.connection->wake_timer.fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (window.connection->wake_timer.fd < 0) {
        return std::unexpected(
            description("cannot create the wake-up timer: " + os_error_text(errno)));
    }

    const xcb_setup_t* setup = xcb_get_setup(connection);
    const bool wrapped =
        shown_display != nullptr && screen_number_wrapped(shown_display, screen_index);
    const xcb_screen_t* screen = wrapped ? nullptr : screen_number(setup, screen_index);
    if (screen == nullptr) {
        return std::unexpected(description(connection_error_text(XCB_CONN_CLOSED_INVALID_SCREEN,
                                                                 ConnectionStage::Opening,
                                                                 shown_display, screen_index)));
    }
    window.depth = screen->root_depth;
    window.lsb_first = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    window.size = size;
    if (auto unsupported = check_pixel_format(setup, window.depth))
        return std::unexpected(*unsupported);
    if (const xcb_visualtype_t* visual = root_visual_type(screen))
        window.channels = channel_tables(visual->red_mask, visual->green_mask, visual->blue_mask);

    auto face_id = new_resource_id(connection);
    if (!face_id) return std::unexpected(face_id.error());
    auto gc_id = new_resource_id(connection);
    if (!gc_id) return std::unexpected(gc_id.error());
    window.face_window = *face_id;
    window.gc = *gc_id;

    const std::array<std::uint32_t, 2> face_values{
        screen->black_pixel, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(connection, window.depth, window.face_window, screen->root, 0, 0, size, size,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, face_values.data());
    xcb_create_gc(connection, window.gc, window.face_window, 0, nullptr);

    replace_property(connection, window.face_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                     static_cast<std::uint32_t>(WM_CLASS_VALUE.size()), WM_CLASS_VALUE.data());
    replace_property(connection, window.face_window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                     static_cast<std::uint32_t>(WM_NAME_VALUE.size()), WM_NAME_VALUE.data());
    // The withdrawn state without an icon window: the face window itself goes into the slit.
    const std::array<std::uint32_t, 9> wm_hints{
        WM_HINTS_FLAGS, 1, WITHDRAWN_STATE, 0, 0, 0, 0, 0, window.face_window};
    replace_property(connection, window.face_window, XCB_ATOM_WM_HINTS, WM_HINTS_TYPE, 32,
                     static_cast<std::uint32_t>(wm_hints.size()), wm_hints.data());

    const auto size_hints_type = intern_atom(connection, "WM_SIZE_HINTS");
    if (!size_hints_type) return std::unexpected(size_hints_type.error());
    // One size only: the minimum and the maximum are both the face's side.
    std::array<std::uint32_t, 18> normal_hints{};
    normal_hints[0] = WM_SIZE_HINTS_FLAGS;
    normal_hints[5] = normal_hints[6] = normal_hints[7] = normal_hints[8] = size;
    replace_property(connection, window.face_window, XCB_ATOM_WM_NORMAL_HINTS, *size_hints_type, 32,
                     static_cast<std::uint32_t>(normal_hints.size()), normal_hints.data());

    const auto wm_protocols = intern_atom(connection, "WM_PROTOCOLS");
    if (!wm_protocols) return std::unexpected(wm_protocols.error());
    const auto wm_delete_window = intern_atom(connection, "WM_DELETE_WINDOW");
    if (!wm_delete_window) return std::unexpected(wm_delete_window.error());
    window.wm_delete_window = *wm_delete_window;
    replace_property(connection, window.face_window, *wm_protocols, XCB_ATOM_ATOM, 32, 1,
                     &window.wm_delete_window);

    if (const auto slit = slit_number(args)) {
        const auto halcyon_slit = intern_atom(connection, "_HALCYON_SLIT");
        if (!halcyon_slit) return std::unexpected(halcyon_slit.error());
        const std::uint32_t value = *slit;
        replace_property(connection, window.face_window, *halcyon_slit, XCB_ATOM_CARDINAL, 32, 1,
                         &value);
    }

    // Every property is in place before the window manager first sees the window.
    xcb_map_window(connection, window.face_window);

    auto input_id = new_resource_id(connection);
    if (!input_id) return std::unexpected(input_id.error());
    window.input_window = *input_id;
    const std::uint32_t input_events = XCB_EVENT_MASK_BUTTON_PRESS;
    const auto inner = static_cast<std::uint16_t>(size - 2 * RING);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window.input_window, window.face_window,
                      RING, RING, inner, inner, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &input_events);
    xcb_map_window(connection, window.input_window);

    xcb_flush(connection);
    if (auto lost = connection_error(connection)) return std::unexpected(*lost);
    return window;
}

} // namespace kd
