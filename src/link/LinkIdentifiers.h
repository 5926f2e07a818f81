// The identifier record that tells the two metering programs apart: the
// automation identifiers the programs register on Windows, and the D-Bus
// names that stand for them on Linux.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace pelmbus {

// A GUID in the layout of the Windows GUID structure, without Windows headers.
struct LinkGuid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    std::array<uint8_t, 8> Data4{};

    friend constexpr bool operator==(const LinkGuid&, const LinkGuid&) = default;
};

namespace detail {

constexpr uint32_t HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint32_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint32_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint32_t>(c - 'a' + 10);
    }
    throw std::invalid_argument("not a hexadecimal digit in a GUID");
}

constexpr uint32_t HexField(std::string_view text, size_t at, size_t digits) {
    uint32_t value = 0;
    for (size_t i = 0; i < digits; ++i) {
        value = value << 4 | HexDigit(text[at + i]);
    }
    return value;
}

} // namespace detail

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", the registry form. Used in
// constant expressions, so a malformed identifier fails the build.
constexpr LinkGuid ParseGuid(std::string_view text) {
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        throw std::invalid_argument("a GUID is written {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
    }
    LinkGuid guid;
    guid.Data1 = detail::HexField(text, 1, 8);
    guid.Data2 = static_cast<uint16_t>(detail::HexField(text, 10, 4));
    guid.Data3 = static_cast<uint16_t>(detail::HexField(text, 15, 4));
    guid.Data4[0] = static_cast<uint8_t>(detail::HexField(text, 20, 2));
    guid.Data4[1] = static_cast<uint8_t>(detail::HexField(text, 22, 2));
    for (size_t i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = static_cast<uint8_t>(detail::HexField(text, 25 + 2 * i, 2));
    }
    return guid;
}

struct LinkIdentifiers {
    std::string_view ProgramName;      // the program that serves the object
    std::string_view ClassId;          // automation object
    std::string_view InterfaceId;      // default interface, carries DoCommand
    std::string_view EventInterfaceId; // source interface, carries RefreshData
    std::string_view BusName;          // well-known session-bus name
    std::string_view ObjectPath;
    std::string_view Interface; // method DoCommand(s) -> s, signal RefreshData(i)

    // The three automation identifiers as COM takes them.
    constexpr LinkGuid ClassGuid() const { return ParseGuid(ClassId); }
    constexpr LinkGuid InterfaceGuid() const { return ParseGuid(InterfaceId); }
    constexpr LinkGuid EventInterfaceGuid() const { return ParseGuid(EventInterfaceId); }
};

} // namespace pelmbus
