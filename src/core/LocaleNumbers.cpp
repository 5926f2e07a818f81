#include "LocaleNumbers.h"

#include "Errors.h"
#include "SinglePrecision.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace pelmbus {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t SkipSpaces(const std::string& text, std::size_t pos) {
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    return pos;
}

// Appends the run of digits at pos to out; returns how many there were.
std::size_t TakeDigits(const std::string& text, std::size_t& pos, std::string& out) {
    const std::size_t start = pos;
    while (pos < text.size() && IsDigit(text[pos])) {
        out += text[pos++];
    }
    return pos - start;
}

// Power of ten of the first significant digit of a plain number
// ("0.05e-3" is -5); false for a number whose digits are all zero.
bool DecimalMagnitude(const std::string& plain, long long& magnitude) {
    const std::size_t exponentAt = plain.find('e');
    const std::size_t mantissaEnd = exponentAt == std::string::npos ? plain.size() : exponentAt;
    const std::size_t point = std::min(plain.find('.'), mantissaEnd);
    long long position = 0;
    bool found = false;
    for (std::size_t i = 0; i < mantissaEnd; ++i) {
        if (IsDigit(plain[i]) && plain[i] != '0') {
            position = i < point ? static_cast<long long>(point - i) - 1
                                 : -static_cast<long long>(i - point);
            found = true;
            break;
        }
    }
    if (!found) {
        return false;
    }
    long long exponent = 0;
    if (exponentAt != std::string::npos) {
        std::size_t i = exponentAt + 1;
        const bool negative = i < plain.size() && plain[i] == '-';
        if (i < plain.size() && (plain[i] == '-' || plain[i] == '+')) {
            ++i;
        }
        for (; i < plain.size(); ++i) {
            exponent = std::min(exponent * 10 + (plain[i] - '0'), 1000000LL);
        }
        exponent = negative ? -exponent : exponent;
    }
    magnitude = position + exponent;
    return true;
}

} // namespace

bool TryStrToInt(const std::string& text, int32_t& value) {
    std::size_t pos = SkipSpaces(text, 0);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size()) {
        return false;
    }
    int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        if (!IsDigit(text[pos])) {
            return false;
        }
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            return false;
        }
    }
    const int64_t result = negative ? -magnitude : magnitude;
    if (result > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    value = static_cast<int32_t>(result);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) {
        throw EConvertError("\"" + text + "\" — недопустимое целое число");
    }
    return value;
}

bool TryStrToFloat(const std::string& text, double& value, const TFormatSettings& format) {
    // Rewritten with "." so that the conversion does not depend on the C
    // library's current locale.
    std::string plain;
    std::size_t pos = SkipSpaces(text, 0);
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        if (text[pos] == '-') {
            plain += '-';
        }
        ++pos;
    }
    std::size_t digits = TakeDigits(text, pos, plain);
    const std::string& separator = format.DecimalSeparator;
    if (!separator.empty() && text.compare(pos, separator.size(), separator) == 0) {
        pos += separator.size();
        plain += '.';
        digits += TakeDigits(text, pos, plain);
    }
    if (digits == 0) {
        return false;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        plain += 'e';
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            plain += text[pos++];
        }
        if (TakeDigits(text, pos, plain) == 0) {
            return false;
        }
    }
    if (SkipSpaces(text, pos) != text.size()) {
        return false;
    }
    // Read with extra range, so that a value written with 15 digits just
    // above the largest double, or one below the smallest, still reads as
    // the nearest double; only what rounds to infinity is refused.
    long double wide = 0.0L;
    const char* end = plain.data() + plain.size();
    const auto [ptr, ec] = std::from_chars(plain.data(), end, wide);
    long long magnitude = 0;
    if (ec == std::errc::result_out_of_range && ptr == end && DecimalMagnitude(plain, magnitude) &&
        magnitude < 0) {
        // Where long double has no more range than double (Windows), a
        // value below the range is refused instead of read as zero.
        wide = plain[0] == '-' ? -0.0L : 0.0L;
    } else if (ec != std::errc{} || ptr != end) {
        return false;
    }
    const auto result = static_cast<double>(wide);
    if (std::isinf(result)) {
        return false;
    }
    value = result;
    return true;
}

double StrToFloat(const std::string& text, const TFormatSettings& format) {
    double value = 0.0;
    if (!TryStrToFloat(text, value, format)) {
        throw EConvertError("\"" + text + "\" — недопустимое число");
    }
    return value;
}

float StrToSingle(const std::string& text, const TFormatSettings& format) {
    const double value = StrToFloat(text, format);
    if (!FitsSingle(value)) {
        throw EConvertError("\"" + text + "\" — число вне диапазона вещественных значений");
    }
    return static_cast<float>(value);
}

namespace {

// to_chars never depends on the C library's locale; its point becomes the
// locale's separator here.
std::string FormatWithSeparator(double value, std::chars_format style, int precision,
                                const TFormatSettings& format) {
    char buffer[512]; // room for the longest fixed-point double
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, style, precision);
    std::string out;
    for (const char* p = buffer; ec == std::errc{} && p != end; ++p) {
        if (*p == '.') {
            out += format.DecimalSeparator;
        } else {
            out += *p;
        }
    }
    return out;
}

} // namespace

std::string FormatGeneral(double value, const TFormatSettings& format) {
    return FormatWithSeparator(value, std::chars_format::general, 15, format);
}

std::string FormatFixed(double value, int decimals, const TFormatSettings& format) {
    return FormatWithSeparator(value, std::chars_format::fixed, decimals, format);
}

std::string FormatThousands(int64_t value, const TFormatSettings& format) {
    // Through the unsigned magnitude, so the most negative value works too.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : uint64_t(value);
    const std::string digits = std::to_string(magnitude);
    std::string out = value < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += format.ThousandSeparator;
        }
        out += digits[i];
    }
    return out;
}

} // namespace pelmbus
