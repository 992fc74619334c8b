#pragma once
// The texts that one frame shows, from one reading of the clock.

#include "face/clock.hpp"
#include "settings/settings.hpp"

#include <ctime>
#include <optional>
#include <string>

namespace kd {

struct FaceTexts {
    std::string time;                  // "09:05", "09:05:07 PM"
    std::string weekday;               // "MONDAY"
    std::string month;                 // "DECEMBER" or "DEC"
    std::string day;                   // "7"
    std::optional<std::string> suffix; // " (+5:30)": a blank, then the indicator in parentheses
};

// The broken-down time the face shows for the instant: local time through the C library (TZ
// honoured), or UTC plus the fixed offset.
std::tm shown_time(const Settings& settings, Instant instant);

// The texts of shown_time.
FaceTexts face_texts_at(const Settings& settings, Instant instant);

// Reads the clock once.
FaceTexts face_texts(const Settings& settings, const Clock& clock);

} // namespace kd
