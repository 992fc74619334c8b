#include "dock/dock_window.hpp"

#include "base/arguments.hpp"
#include "dock/dock_connection.hpp"
#include "settings/value_syntax.hpp"

#include <sys/timerfd.h>

#include <array>
#include <cerrno>
#include <limits>
#include <string_view>

namespace kd {

DockWindow::DockWindow() = default;
DockWindow::DockWindow(DockWindow&&) noexcept = default;
DockWindow& DockWindow::operator=(DockWindow&&) noexcept = default;
DockWindow::~DockWindow() = default;

std::optional<std::uint32_t> slit_number(const Arguments& args)
{
    // Only the first --dock counts, even when its value does not read.
    const auto text = value_after_first(args, "--dock");
    const auto number = text ? parse_unsigned(*text) : std::nullopt;
    if (!number || *number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

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
        if (auto alive = check_connection(connection); !alive)
            return std::unexpected(alive.error());
        return std::unexpected(
            description("InternAtom \"" + std::string(name) + "\" got no reply"));
    }
    return reply->atom;
}

std::expected<std::uint32_t, Error> new_resource_id(xcb_connection_t* connection)
{
    const std::uint32_t id = xcb_generate_id(connection);
    if (id == static_cast<std::uint32_t>(-1)) {
        if (auto alive = check_connection(connection); !alive)
            return std::unexpected(alive.error());
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
std::expected<void, Error> check_pixel_format(const ServerSetup& setup, std::uint8_t depth)
{
    for (const PixmapFormat& format : setup.pixmap_formats) {
        if (format.depth != depth) continue;
        if (format.bits_per_pixel == 32) return {};
        return std::unexpected(
            program_message("Unsupported pixel format: " + std::to_string(format.bits_per_pixel) +
                            "bpp at depth " + std::to_string(depth) + ". Expected 32bpp."));
    }
    return {};
}

// The screen that the display name asks for.
std::expected<const SetupScreen*, Error> choose_screen(const ConnectedDisplay& display)
{
    const bool wrapped =
        display.name != nullptr && screen_number_wrapped(display.name, display.screen);
    if (wrapped || display.screen < 0 ||
        static_cast<std::size_t>(display.screen) >= display.setup.screens.size()) {
        return std::unexpected(missing_screen_error(display.name, display.screen));
    }
    return &display.setup.screens[static_cast<std::size_t>(display.screen)];
}

// The record that owns the connection, with what the frames need to know of the screen;
// nothing has been asked of the server yet.
std::expected<DockWindow, Error> prepare_window(ConnectedDisplay& display,
                                                const SetupScreen& screen, std::uint16_t size)
{
    DockWindow window;
    window.connection = std::make_unique<DockConnection>();
    window.connection->xcb = std::move(display.xcb);
    window.connection->wake_timer.fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (window.connection->wake_timer.fd < 0) {
        return std::unexpected(
            description("cannot create the wake-up timer: " + os_error_text(errno)));
    }
    window.depth = screen.root_depth;
    window.lsb_first = display.setup.lsb_first;
    window.size = size;
    if (auto format = check_pixel_format(display.setup, window.depth); !format)
        return std::unexpected(format.error());
    if (const auto& masks = screen.root_visual_masks)
        window.channels = channel_tables(masks->red, masks->green, masks->blue);
    return window;
}

// The face window and its graphics context: both ids first, then the two requests.
std::expected<void, Error> create_face_window(DockWindow& window, const SetupScreen& screen)
{
    xcb_connection_t* connection = dock_xcb_connection(window);
    auto face_id = new_resource_id(connection);
    if (!face_id) return std::unexpected(face_id.error());
    auto gc_id = new_resource_id(connection);
    if (!gc_id) return std::unexpected(gc_id.error());
    window.face_window = *face_id;
    window.gc = *gc_id;

    const auto size = static_cast<std::uint16_t>(window.size);
    const std::array<std::uint32_t, 2> face_values{
        screen.black_pixel, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(connection, window.depth, window.face_window, screen.root, 0, 0, size, size,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, face_values.data());
    xcb_create_gc(connection, window.gc, window.face_window, 0, nullptr);
    return {};
}

std::expected<void, Error> set_window_manager_properties(DockWindow& window, const Arguments& args)
{
    xcb_connection_t* connection = dock_xcb_connection(window);
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
    normal_hints[5] = normal_hints[6] = normal_hints[7] = normal_hints[8] = window.size;
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
    return {};
}

// The face is mapped with every property in place, so the window manager sees them when it
// first handles it; the input window is made only then, and mapped on top of the face.
std::expected<void, Error> map_with_input_window(DockWindow& window)
{
    xcb_connection_t* connection = dock_xcb_connection(window);
    xcb_map_window(connection, window.face_window);

    auto input_id = new_resource_id(connection);
    if (!input_id) return std::unexpected(input_id.error());
    window.input_window = *input_id;
    const std::uint32_t input_events = XCB_EVENT_MASK_BUTTON_PRESS;
    const auto inner = static_cast<std::uint16_t>(window.size - 2 * RING);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window.input_window, window.face_window,
                      RING, RING, inner, inner, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &input_events);
    xcb_map_window(connection, window.input_window);
    return {};
}

} // namespace

std::expected<DockWindow, Error> open_dock_window(const Settings& settings, const Arguments& args,
                                                  const char* display_name)
{
    if (settings.size < MIN_SIZE || settings.size > MAX_SIZE) {
        return std::unexpected(
            description("window size " + std::to_string(settings.size) + " is outside 96 to 1024"));
    }
    auto display = connect_display(display_name);
    if (!display) return std::unexpected(display.error());
    const auto screen = choose_screen(*display);
    if (!screen) return std::unexpected(screen.error());
    auto window = prepare_window(*display, **screen, static_cast<std::uint16_t>(settings.size));
    if (!window) return window;

    auto requested = create_face_window(*window, **screen);
    if (requested) requested = set_window_manager_properties(*window, args);
    if (requested) requested = map_with_input_window(*window);
    if (!requested) return std::unexpected(requested.error());
    xcb_connection_t* connection = dock_xcb_connection(*window);
    xcb_flush(connection);
    if (auto alive = check_connection(connection); !alive) return std::unexpected(alive.error());
    return window;
}

} // namespace kd
