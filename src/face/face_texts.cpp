#include "face/face_texts.hpp"

#include "face/label_text.hpp"
#include "settings/value_syntax.hpp"

#include <array>
#include <cstdio>
#include <ctime>
#include <string_view>

namespace kd {

namespace {

// English and upper case whatever the locale says.
constexpr std::array<std::string_view, 7> WEEKDAYS = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                                                      "THURSDAY", "FRIDAY", "SATURDAY"};
constexpr std::array<std::string_view, 12> MONTHS = {
    "JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
    "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
constexpr std::array<std::string_view, 12> SHORT_MONTHS = {
    "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

} // namespace

// An instant the C library cannot represent (years beyond its range) shows as the epoch
// rather than garbage.
std::tm shown_time(const Settings& settings, Instant instant)
{
    std::tm result{};
    if (settings.timezone) {
        std::int64_t shifted = 0;
        if (!__builtin_add_overflow(instant.seconds, *settings.timezone, &shifted)) {
            const auto moment = static_cast<std::time_t>(shifted);
            if (gmtime_r(&moment, &result) != nullptr) return result;
        }
    } else {
        // localtime_r alone may keep a zone read earlier; tzset picks up a changed TZ and is
        // cheap when nothing changed.
        tzset();
        const auto moment = static_cast<std::time_t>(instant.seconds);
        if (localtime_r(&moment, &result) != nullptr) return result;
    }
    const std::time_t epoch = 0;
    gmtime_r(&epoch, &result);
    return result;
}

namespace {

std::string two_digits(int value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

std::string time_text(const std::tm& when, const Settings& settings)
{
    const bool twelve_hour = settings.format == TimeFormat::Hours12;
    const int hour = twelve_hour ? (when.tm_hour % 12 == 0 ? 12 : when.tm_hour % 12) : when.tm_hour;
    std::string text = two_digits(hour);
    text += ':';
    text += two_digits(when.tm_min);
    if (settings.seconds) {
        text += ':';
        text += two_digits(when.tm_sec);
    }
    if (twelve_hour) text += when.tm_hour < 12 ? " AM" : " PM";
    return text;
}

template <std::size_t N>
std::string name_from(const std::array<std::string_view, N>& names, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N) return {};
    return std::string(names[static_cast<std::size_t>(index)]);
}

} // namespace

FaceTexts face_texts_at(const Settings& settings, Instant instant)
{
    const std::tm when = shown_time(settings, instant);
    FaceTexts texts;
    texts.time = time_text(when, settings);
    texts.weekday = name_from(WEEKDAYS, when.tm_wday);
    texts.month = name_from(settings.short_month ? SHORT_MONTHS : MONTHS, when.tm_mon);
    texts.day = std::to_string(when.tm_mday);
    // Of a label, only what the widest window shows is copied: it may be a megabyte long, and
    // the texts are made anew for every frame.
    const std::size_t most = shown_label_characters(static_cast<std::uint32_t>(MAX_SIZE));
    if (auto indicator = face_indicator(settings, most)) texts.suffix = " " + *indicator;
    return texts;
}

FaceTexts face_texts(const Settings& settings, const Clock& clock)
{
    return face_texts_at(settings, clock());
}

} // namespace kd
