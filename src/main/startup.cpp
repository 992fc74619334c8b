#include "main/startup.hpp"

#include "dock/dock_window.hpp"
#include "face/font_discovery.hpp"
#include "face/pixel_buffer.hpp"
#include "main/main_loop.hpp"
#include "main/process.hpp"
#include "settings/config_file.hpp"

namespace kd {

std::expected<int, Error> run_startup(const Arguments& args, const Environment& env,
                                      std::ostream& err)
{
    Settings settings = load_settings(args, env);
    apply_command_line(settings, args, err);

    // Detach before the font or the X server is touched, so the child reports every failure.
    if (settings.background) {
        if (const auto parent_status = detach(settings, err)) return *parent_status;
    }

    // Fixed for the whole run; a reload that changes size does not resize the window.
    const auto size = static_cast<std::uint32_t>(settings.size);

    auto found = find_font(settings.font, system_font_sources(env), [&](const std::string& path) {
        if (!settings.quiet) err << "kestrelDial: using font " << path << "\n";
    });
    if (!found) return std::unexpected(found.error());

    auto window = open_dock_window(settings, args);
    if (!window) return std::unexpected(window.error());

    if (!settings.quiet) {
        err << "kestrelDial: running (" << size << "x" << size << ", "
            << time_format_name(settings.format) << ", "
            << (settings.seconds ? "seconds" : "no seconds") << ", "
            << (settings.short_month ? "short month" : "full month") << ")\n";
    }
    install_hangup_handler();

    PixelBuffer buffer = make_pixel_buffer(size, size, window->lsb_first, window->channels);
    return run_main_loop(*window, found->font, buffer, std::move(settings), args, env, err);
}

} // namespace kd
