#include "LocalePictures.h"
#include "SystemServices.h"
#include "WideText.h"

#include <windows.h>

#include <algorithm>

namespace pelmbus {

std::string PictureFromWindows(std::string_view picture) {
    std::string result;
    size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'') {
            // Quoted text, with '' for a quote, is written the same way.
            const size_t close = picture.find('\'', i + 1);
            const size_t end = close == std::string_view::npos ? picture.size() : close + 1;
            result.append(picture.substr(i, end - i));
            if (close == std::string_view::npos) {
                result += '\'';
            }
            i = end;
            continue;
        }
        size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c) {
            ++run;
        }
        switch (c) {
        case 'd':
        case 'M':
            result.append(std::min<size_t>(run, 4), c);
            break;
        case 'h':
        case 'H':
        case 'm':
        case 's':
            result.append(std::min<size_t>(run, 2), c);
            break;
        case 'y':
            result += run <= 2 ? "yy" : "yyyy";
            break;
        case 't':
            result += "AP";
            break;
        case 'g':
            break;
        default:
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
                // Any other letter is text here but a picture letter there.
                result += '\'' + std::string(run, c) + '\'';
            } else {
                result.append(run, c);
            }
        }
        i += run;
    }
    return result;
}

namespace {

// One item of the user's locale as UTF-8; empty when the locale has none.
std::string LocaleText(LCTYPE item) {
    wchar_t buffer[128];
    const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, buffer,
                                       static_cast<int>(std::size(buffer)));
    return length > 1 ? Utf8FromWide(std::wstring_view(buffer, static_cast<size_t>(length - 1)))
                      : std::string();
}

void Take(std::string& setting, LCTYPE item) {
    std::string text = LocaleText(item);
    if (!text.empty()) {
        setting = std::move(text);
    }
}

} // namespace

TFormatSettings UserFormatSettings() {
    TFormatSettings settings;
    Take(settings.DecimalSeparator, LOCALE_SDECIMAL);
    Take(settings.ThousandSeparator, LOCALE_STHOUSAND);
    const std::string date = PictureFromWindows(LocaleText(LOCALE_SSHORTDATE));
    const std::string time = PictureFromWindows(LocaleText(LOCALE_STIMEFORMAT));
    if (!date.empty()) {
        settings.ShortDateFormat = date;
    }
    if (!time.empty()) {
        settings.LongTimeFormat = time;
    }
    for (int i = 0; i < 12; ++i) {
        Take(settings.ShortMonthNames[static_cast<size_t>(i)],
             static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i));
        Take(settings.LongMonthNames[static_cast<size_t>(i)],
             static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i));
    }
    // Windows counts the days from Monday (DAYNAME1), the program from Sunday.
    for (int i = 0; i < 7; ++i) {
        const auto day = static_cast<size_t>((i + 1) % 7);
        Take(settings.ShortDayNames[day], static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + i));
        Take(settings.LongDayNames[day], static_cast<LCTYPE>(LOCALE_SDAYNAME1 + i));
    }
    // A locale without a 12-hour clock has none; its pictures do not ask.
    settings.TimeAMString = LocaleText(LOCALE_S1159);
    settings.TimePMString = LocaleText(LOCALE_S2359);
    return settings;
}

} // namespace pelmbus
