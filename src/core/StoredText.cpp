#include "StoredText.h"

#include "Cp1251.h"
#include "Utf8.h"

#include <cstdint>

namespace pelmbus {

namespace {

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LeMark = "\xFF\xFE";
constexpr std::string_view Utf16BeMark = "\xFE\xFF";
constexpr char32_t Replacement = 0xFFFD;

bool IsUtf8BeyondAscii(std::string_view bytes) {
    bool beyondAscii = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const char32_t cp = utf8::Next(bytes, pos);
        if (cp == utf8::Invalid) {
            return false;
        }
        beyondAscii = beyondAscii || cp >= 0x80;
    }
    return beyondAscii;
}

// A marked UTF-8 file may still hold stray bytes (an editor that appended
// Windows-1251 text): each keeps its Windows-1251 character instead of being
// lost.
std::string FromUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t start = pos;
        const char32_t cp = utf8::Next(bytes, pos);
        if (cp == utf8::Invalid) {
            out += Cp1251ToUtf8(bytes.substr(start, 1));
        } else {
            out.append(bytes.substr(start, pos - start));
        }
    }
    return out;
}

// A lone surrogate or an odd last byte becomes U+FFFD (written back as "?").
std::string FromUtf16(std::string_view bytes, bool bigEndian) {
    const auto unit = [&](std::size_t i) {
        const auto first = static_cast<uint8_t>(bytes[i]);
        const auto second = static_cast<uint8_t>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8::Append(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        utf8::Append(out, (u >= 0xD800 && u <= 0xDFFF) ? Replacement : char32_t{u});
    }
    if (i < bytes.size()) {
        utf8::Append(out, Replacement);
    }
    return out;
}

} // namespace

std::string DecodeStoredText(std::string_view bytes) {
    if (bytes.starts_with(Utf8Mark)) {
        return FromUtf8(bytes.substr(Utf8Mark.size()));
    }
    if (bytes.starts_with(Utf16LeMark)) {
        return FromUtf16(bytes.substr(Utf16LeMark.size()), false);
    }
    if (bytes.starts_with(Utf16BeMark)) {
        return FromUtf16(bytes.substr(Utf16BeMark.size()), true);
    }
    if (IsUtf8BeyondAscii(bytes)) {
        return std::string(bytes);
    }
    return Cp1251ToUtf8(bytes);
}

} // namespace pelmbus
