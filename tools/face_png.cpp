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

// What the command line asks for.
struct Request {
    kd::Settings settings;
    std::string out;
    std::optional<std::string> at;
    std::optional<std::int64_t> epoch;
    bool lsb_first = true;
};

// The options without a value; false for any other.
bool take_switch(Request& request, const std::string& option)
{
    if (option == "--12h") {
        request.settings.format = kd::TimeFormat::Hours12;
    } else if (option == "--seconds") {
        request.settings.seconds = true;
    } else if (option == "--short-month") {
        request.settings.short_month = true;
    } else if (option == "--msb-first") {
        request.lsb_first = false;
    } else {
        return false;
    }
    return true;
}

// The options with a value; false for an unknown option or a value that does not read.
bool take_valued(Request& request, const std::string& option, const std::string& value)
{
    kd::Settings& settings = request.settings;
    if (option == "--out") {
        request.out = value;
    } else if (option == "--at") {
        request.at = value;
    } else if (option == "--epoch") {
        request.epoch = parse_epoch(value);
        return request.epoch.has_value();
    } else if (option == "--tz") {
        setenv("TZ", value.c_str(), 1);
    } else if (option == "--font") {
        settings.font = value;
    } else if (option == "--size") {
        const auto size = kd::parse_size(value);
        if (size) settings.size = *size;
        return size.has_value();
    } else if (option == "--timezone") {
        settings.timezone = kd::parse_utc_offset(value);
        return settings.timezone.has_value();
    } else if (option == "--label") {
        settings.label = value;
    } else if (option == "--theme") {
        settings.theme = value;
        kd::apply_theme(settings, false, false);
    } else {
        return false;
    }
    return true;
}

std::optional<Request> read_request(int argc, char** argv)
{
    Request request;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (take_switch(request, option)) continue;
        if (i + 1 >= argc) return std::nullopt;
        ++i;
        if (!take_valued(request, option, argv[i])) return std::nullopt;
    }
    if (request.out.empty() || (request.at && request.epoch)) return std::nullopt;
    return request;
}

// The instant the face shows: --epoch, the wall time of --at, or now.
std::optional<kd::Instant> requested_instant(const Request& request)
{
    if (request.epoch) return kd::Instant{*request.epoch, 0};
    if (!request.at) return kd::system_now();
    std::optional<std::tm> wall = parse_wall_time(*request.at);
    if (!wall) return std::nullopt;
    tzset();
    const std::optional<std::int32_t>& offset = request.settings.timezone;
    return kd::Instant{offset ? static_cast<std::int64_t>(timegm(&*wall)) - *offset
                              : static_cast<std::int64_t>(mktime(&*wall)),
                       0};
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Request> request = read_request(argc, argv);
    if (!request) return usage();
    const std::optional<kd::Instant> instant = requested_instant(*request);
    if (!instant) return usage();
    const kd::Settings& settings = request->settings;

    auto found = kd::find_font(settings.font, kd::system_font_sources(kd::process_environment()));
    if (!found) {
        std::cerr << kd::error_line(found.error());
        return 1;
    }

    const auto side = static_cast<std::uint32_t>(settings.size);
    kd::PixelBuffer buffer = kd::make_pixel_buffer(side, side, request->lsb_first);
    kd::TextScratch scratch;
    kd::paint_face(buffer, found->font, scratch, settings, [when = *instant] { return when; });
    return write_png(buffer, request->out) ? 0 : 1;
}
