// The user's number and date formats. Every place that shows, parses or
// stores a number or a date takes one of these explicitly, so the same code
// runs under a "," and a "." locale.
#pragma once

#include <array>
#include <string>

namespace pelmbus {

// UTF-8 strings. The separators are usually one character each, but a
// locale's thousands separator may be a non-breaking space (two bytes).
// Date and time pictures use the letters d dd M MM yy yyyy h hh m mm s ss AP;
// other letters appear quoted ('...').
struct TFormatSettings {
    std::string DecimalSeparator = ".";
    std::string ThousandSeparator = ",";
    std::string ShortDateFormat = "dd.MM.yyyy";
    std::string LongTimeFormat = "hh:mm:ss";
    // Names for the picture letters MMM and MMMM (January first), ddd and
    // dddd (Sunday first), and the texts that AP shows.
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
};

} // namespace pelmbus
