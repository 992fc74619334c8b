// Paints one clock face for given settings and a given instant into a PNG file, so the face
// can be looked at without an X server.

#include "base/environment.hpp"
#include "face/face_layout.hpp"
#include "face/font_discovery.hpp"
#include "face/pixel_buffer.hpp"
#include "settings/value_syntax.hpp"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* USAGE =
    "Usage: kestrelDial-face-png --out FILE [--at \"YYYY-MM-DD HH:MM:SS\" | --epoch N]\n"
    "                            [--tz ZONE] [--font PATH] [--size N] [--12h] [--seconds]\n"
    "                            [--short-month] [--timezone OFFSET] [--label TEXT]\n"
    "                            [--theme NAME] [--msb-first]\n"
    "--at is the wall time the face shows (in --timezone when given, else in the local\n"
    "zone, which --tz sets); without --at or --epoch the face shows the current time.\n";

int usage()
{
    std::cerr << USAGE;
    return 1;
}

std::optional<std::tm> parse_wall_time(const std::string& text)
{
    std::tm when{};
    char rest = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &when.tm_year, &when.tm_mon, &when.tm_mday,
                    &when.tm_hour, &when.tm_min, &when.tm_sec, &rest) != 6)
        return std::nullopt;
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    when.tm_isdst = -1;
    return when;
}

std::optional<std::int64_t> parse_epoch(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0) return std::nullopt;
    return value;
}

bool write_png(const kd::PixelBuffer& buffer, const std::string& path)
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(static_cast<std::size_t>(buffer.width) * buffer.height * 3);
    for (std::uint32_t y = 0; y < buffer.height; ++y)
        for (std::uint32_t x = 0; x < buffer.width; ++x) {
            const kd::Rgb color = kd::pixel_at(buffer, x, y);
            rgb.insert(rgb.end(), {color.red, color.green, color.blue});
        }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = buffer.width;
    image.height = buffer.height;
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) == 0) {
        std::cerr << "kestrelDial-face-png: cannot write " << path << ": " << image.message << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    kd::Settings settings;
    std::string out;
    std::optional<std::string> at;
    std::optional<std::int64_t> epoch;
    bool lsb_first = true;

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (option == "--12h") {
            settings.format = kd::TimeFormat::Hours12;
        } else if (option == "--seconds") {
            settings.seconds = true;
        } else if (option == "--short-month") {
            settings.short_month = true;
        } else if (option == "--msb-first") {
            lsb_first = false;
        } else {
            const std::optional<std::string> argument = value();
            if (!argument) return usage();
            if (option == "--out") {
                out = *argument;
            } else if (option == "--at") {
                at = *argument;
            } else if (option == "--epoch") {
                epoch = parse_epoch(*argument);
                if (!epoch) return usage();
            } else if (option == "--tz") {
                setenv("TZ", argument->c_str(), 1);
            } else if (option == "--font") {
                settings.font = *argument;
            } else if (option == "--size") {
                const auto size = kd::parse_size(*argument);
                if (!size) return usage();
                settings.size = *size;
            } else if (option == "--timezone") {
                settings.timezone = kd::parse_utc_offset(*argument);
                if (!settings.timezone) return usage();
            } else if (option == "--label") {
                settings.label = *argument;
            } else if (option == "--theme") {
                settings.theme = *argument;
                kd::apply_theme(settings, false, false);
            } else {
                return usage();
            }
        }
    }
    if (out.empty() || (at && epoch)) return usage();

    kd::Instant instant = kd::system_now();
    if (epoch) instant = kd::Instant{*epoch, 0};
    if (at) {
        std::optional<std::tm> wall = parse_wall_time(*at);
        if (!wall) return usage();
        tzset();
        instant.seconds = settings.timezone
                              ? static_cast<std::int64_t>(timegm(&*wall)) - *settings.timezone
                              : static_cast<std::int64_t>(mktime(&*wall));
        instant.nanoseconds = 0;
    }

    auto found = kd::find_font(settings.font, kd::system_font_sources(kd::process_environment()));
    if (!found) {
        std::cerr << kd::error_line(found.error());
        return 1;
    }

    const auto side = static_cast<std::uint32_t>(settings.size);
    kd::PixelBuffer buffer = kd::make_pixel_buffer(side, side, lsb_first);
    kd::TextScratch scratch;
    kd::paint_face(buffer, found->font, scratch, settings, [instant] { return instant; });
    return write_png(buffer, out) ? 0 : 1;
}
