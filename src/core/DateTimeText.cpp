#include "DateTimeText.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

namespace pelmbus {

namespace {

std::string Number(int value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
    return buffer;
}

// 0 for Sunday.
unsigned DayOfWeek(const TLocalDateTime& t) {
    using namespace std::chrono;
    const year_month_day date{year{t.Year}, month{static_cast<unsigned>(t.Month)},
                              day{static_cast<unsigned>(t.Day)}};
    return weekday{sys_days{date}}.c_encoding();
}

template <size_t N> const std::string& Name(const std::array<std::string, N>& names, int index) {
    static const std::string none;
    return index >= 0 && static_cast<size_t>(index) < N ? names[static_cast<size_t>(index)] : none;
}

// The picture shows AM or PM somewhere outside its quotes: its hours count
// from 1 to 12 then.
bool HasAmPm(const std::string& picture) {
    bool quoted = false;
    for (char c : picture) {
        if (c == '\'') {
            quoted = !quoted;
        } else if (!quoted && (c == 'a' || c == 'A')) {
            return true;
        }
    }
    return false;
}

std::string AsciiCase(std::string text, bool upper) {
    for (char& c : text) {
        if (upper && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!upper && c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

} // namespace

std::string FormatDateTime(const std::string& picture, const TLocalDateTime& t,
                           const TFormatSettings& format) {
    const bool twelveHour = HasAmPm(picture);
    const int hour12 = t.Hour % 12 == 0 ? 12 : t.Hour % 12;
    std::string out;
    size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'') {
            if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                out += '\'';
                i += 2;
                continue;
            }
            const size_t close = picture.find('\'', i + 1);
            const size_t end = close == std::string::npos ? picture.size() : close;
            out.append(picture, i + 1, end - i - 1);
            i = close == std::string::npos ? end : end + 1;
            continue;
        }
        size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c) {
            ++run;
        }
        size_t used = run; // letters taken by this step; the rest go round again
        switch (c) {
        case 'd':
            used = std::min<size_t>(run, 4);
            out += used == 1   ? std::to_string(t.Day)
                   : used == 2 ? Number(t.Day, 2)
                   : used == 3 ? Name(format.ShortDayNames, static_cast<int>(DayOfWeek(t)))
                               : Name(format.LongDayNames, static_cast<int>(DayOfWeek(t)));
            break;
        case 'M':
            used = std::min<size_t>(run, 4);
            out += used == 1   ? std::to_string(t.Month)
                   : used == 2 ? Number(t.Month, 2)
                   : used == 3 ? Name(format.ShortMonthNames, t.Month - 1)
                               : Name(format.LongMonthNames, t.Month - 1);
            break;
        case 'y':
            used = run >= 4 ? 4 : run >= 2 ? 2 : 1;
            out += used == 4 ? Number(t.Year, 4) : used == 2 ? Number(t.Year % 100, 2) : "y";
            break;
        case 'h':
        case 'H': {
            used = std::min<size_t>(run, 2);
            const int hour = c == 'h' && twelveHour ? hour12 : t.Hour;
            out += used == 1 ? std::to_string(hour) : Number(hour, 2);
            break;
        }
        case 'm':
            used = std::min<size_t>(run, 2);
            out += used == 1 ? std::to_string(t.Minute) : Number(t.Minute, 2);
            break;
        case 's':
            used = std::min<size_t>(run, 2);
            out += used == 1 ? std::to_string(t.Second) : Number(t.Second, 2);
            break;
        case 'z':
            if (run >= 3) {
                used = 3;
                out += Number(t.Millisecond, 3);
            } else {
                // Milliseconds as a fraction: no trailing zeros.
                used = 1;
                std::string digits = Number(t.Millisecond, 3);
                while (digits.size() > 1 && digits.back() == '0') {
                    digits.pop_back();
                }
                out += digits;
            }
            break;
        case 'a':
        case 'A': {
            used = 1;
            const char p = c == 'A' ? 'P' : 'p';
            if (i + 1 < picture.size() && picture[i + 1] == p) {
                used = 2;
            }
            const std::string& text = t.Hour < 12 ? format.TimeAMString : format.TimePMString;
            out += AsciiCase(text, c == 'A');
            break;
        }
        default:
            out.append(picture, i, run);
            break;
        }
        i += used;
    }
    return out;
}

std::string DateTimeToStr(const TLocalDateTime& t, const TFormatSettings& format) {
    std::string text = FormatDateTime(format.ShortDateFormat, t, format);
    if (t.Hour != 0 || t.Minute != 0 || t.Second != 0 || t.Millisecond != 0) {
        text += ' ';
        text += FormatDateTime(format.LongTimeFormat, t, format);
    }
    return text;
}

} // namespace pelmbus
