// The user's number and date formats. Every place that shows, parses or
// stores a number or a date takes one of these explicitly, so the same code
// runs under a "," and a "." locale.
#pragma once

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
};

} // namespace pelmbus
