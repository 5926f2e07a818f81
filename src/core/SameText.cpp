#include "SameText.h"

#include "Utf8.h"

namespace pelmbus {

namespace {

// Lower-case form of the upper-case letters of the code page.
char32_t ToLower(char32_t cp) {
    if (cp >= U'A' && cp <= U'Z') {
        return cp + 0x20;
    }
    if (cp >= 0x0410 && cp <= 0x042F) { // А to Я
        return cp + 0x20;
    }
    if (cp >= 0x0400 && cp <= 0x040F) { // Ѐ to Џ, Ё included
        return cp + 0x50;
    }
    if (cp == 0x0490) { // Ґ
        return 0x0491;
    }
    return cp;
}

} // namespace

bool SameText(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const std::size_t startI = i;
        const std::size_t startJ = j;
        const char32_t ca = utf8::Next(a, i);
        const char32_t cb = utf8::Next(b, j);
        if (ca == utf8::Invalid || cb == utf8::Invalid) {
            // Malformed bytes only match the very same byte.
            if (ca != cb || a[startI] != b[startJ]) {
                return false;
            }
            continue;
        }
        if (ToLower(ca) != ToLower(cb)) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}

} // namespace pelmbus
