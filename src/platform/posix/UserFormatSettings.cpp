#include "SystemServices.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <string_view>
#include <utility>

namespace pelmbus {

namespace {

// strftime conversions and their picture letters.
constexpr std::pair<char, std::string_view> Conversions[] = {
    {'d', "dd"},       {'e', "d"},     {'m', "MM"},          {'b', "MMM"},      {'h', "MMM"},
    {'B', "MMMM"},     {'a', "ddd"},   {'A', "dddd"},        {'y', "yy"},       {'Y', "yyyy"},
    {'H', "hh"},       {'I', "hh"},    {'k', "h"},           {'l', "h"},        {'M', "mm"},
    {'S', "ss"},       {'p', "AP"},    {'P', "ap"},          {'D', "MM/dd/yy"}, {'F', "yyyy-MM-dd"},
    {'T', "hh:mm:ss"}, {'R', "hh:mm"}, {'r', "hh:mm:ss AP"}, {'n', " "},        {'t', " "},
};

// Rewrites a strftime format of the C library as a date or time picture:
// "%d.%m.%Y" becomes "dd.MM.yyyy", "%H:%M:%S" becomes "hh:mm:ss". Literal
// letters are quoted so that they are not taken for picture letters.
std::string PictureFromStrftime(std::string_view format) {
    std::string picture;
    std::string literal;
    const auto flushLiteral = [&] {
        if (!literal.empty()) {
            picture += '\'' + literal + '\'';
            literal.clear();
        }
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            if (c == '\'') {
                flushLiteral();
                picture += "''";
            } else if (std::isalpha(static_cast<unsigned char>(c))) {
                literal += c;
            } else {
                flushLiteral();
                picture += c;
            }
            continue;
        }
        flushLiteral();
        if (++i == format.size()) {
            break;
        }
        // The alternative-digit and era modifiers ("%Ey", "%OH") read as plain.
        if ((format[i] == 'E' || format[i] == 'O') && i + 1 < format.size()) {
            ++i;
        }
        const char conversion = format[i];
        if (conversion == '%') {
            picture += '%';
            continue;
        }
        // Time zones and week numbers have no picture form and are left out.
        for (const auto& [letter, replacement] : Conversions) {
            if (letter == conversion) {
                picture += replacement;
                break;
            }
        }
    }
    flushLiteral();
    return picture;
}

// Month and day names and the AM and PM texts; a name the locale leaves
// empty keeps its default.
void ReadNames(TFormatSettings& settings, locale_t locale) {
    const auto take = [locale](std::string& name, nl_item item) {
        const std::string text = nl_langinfo_l(item, locale);
        if (!text.empty()) {
            name = text;
        }
    };
    for (int i = 0; i < 12; ++i) {
        take(settings.ShortMonthNames[static_cast<size_t>(i)], ABMON_1 + i);
        take(settings.LongMonthNames[static_cast<size_t>(i)], MON_1 + i);
    }
    for (int i = 0; i < 7; ++i) {
        take(settings.ShortDayNames[static_cast<size_t>(i)], ABDAY_1 + i);
        take(settings.LongDayNames[static_cast<size_t>(i)], DAY_1 + i);
    }
    // A locale without a 12-hour clock has none; its pictures do not ask.
    settings.TimeAMString = nl_langinfo_l(AM_STR, locale);
    settings.TimePMString = nl_langinfo_l(PM_STR, locale);
}

} // namespace

TFormatSettings UserFormatSettings() {
    TFormatSettings settings;
    // The locale the environment names, as setlocale(LC_ALL, "") would pick
    // it, without changing the process's own locale.
    locale_t locale = newlocale(LC_ALL_MASK, "", locale_t{});
    if (locale == locale_t{}) {
        return settings;
    }
    const std::string decimal = nl_langinfo_l(RADIXCHAR, locale);
    const std::string thousands = nl_langinfo_l(THOUSEP, locale);
    const std::string date = PictureFromStrftime(nl_langinfo_l(D_FMT, locale));
    const std::string time = PictureFromStrftime(nl_langinfo_l(T_FMT, locale));
    ReadNames(settings, locale);
    freelocale(locale);
    if (!decimal.empty()) {
        settings.DecimalSeparator = decimal;
    }
    if (!thousands.empty()) {
        settings.ThousandSeparator = thousands;
    }
    if (!date.empty()) {
        settings.ShortDateFormat = date;
    }
    if (!time.empty()) {
        settings.LongTimeFormat = time;
    }
    return settings;
}

} // namespace pelmbus
