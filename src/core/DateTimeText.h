// Dates and times as text, written with the pictures of the user's format
// settings ("dd.MM.yyyy", "hh:mm:ss AP", ...).
#pragma once

#include "FormatSettings.h"

#include <string>

namespace pelmbus {

// A moment of local time, broken down.
struct TLocalDateTime {
    int Year = 1970;
    int Month = 1; // 1 to 12
    int Day = 1;   // 1 to 31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// Writes t with a picture. Letters: d dd ddd dddd (day, day name), M MM MMM
// MMMM (month, month name), yy yyyy, h hh (hour; 1 to 12 when the picture
// has AP), H HH (hour 0 to 23), m mm, s ss, z zzz (milliseconds), AP or A
// (the AM or PM text), ap or a (the same in lower case). Text in single
// quotes is copied, '' gives one quote; any other character is copied too.
std::string FormatDateTime(const std::string& picture, const TLocalDateTime& t,
                           const TFormatSettings& format);

// The standard text of a moment: the short date, a space and the long time;
// at exactly midnight the space and the time are left out.
std::string DateTimeToStr(const TLocalDateTime& t, const TFormatSettings& format);

} // namespace pelmbus
