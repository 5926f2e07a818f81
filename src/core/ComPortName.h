// The COM port names of the settings string ("COM1", "com12", "\\.\COM3"),
// read the same way by the serial device of either platform. Inline, for
// src/platform uses it and links below src/core.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelmbus {
namespace comportname {

constexpr std::string_view DeviceNamespace = "\\\\.\\";
constexpr size_t MostDigits = 9; // fits in 32 bits

inline bool IsComPrefix(std::string_view name) {
    const auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; };
    return name.size() >= 3 && upper(name[0]) == 'C' && upper(name[1]) == 'O' &&
           upper(name[2]) == 'M';
}

} // namespace comportname

// The number of a port name "COM" followed by one to nine digits, in any
// letter case, with or without the device-namespace prefix "\\.\"; none
// for any other name. "COM0" is 0, a name no port has.
inline std::optional<uint32_t> ComPortNumber(std::string_view name) {
    if (name.substr(0, comportname::DeviceNamespace.size()) == comportname::DeviceNamespace) {
        name.remove_prefix(comportname::DeviceNamespace.size());
    }
    if (!comportname::IsComPrefix(name) || name.size() == 3 ||
        name.size() > 3 + comportname::MostDigits) {
        return std::nullopt;
    }
    uint32_t number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    return number;
}

// The name Windows opens for a port name: only COM1 to COM9 are reserved
// device names, so "COM10" and up go through the device namespace
// ("\\.\COM10"); every other name stays as it is.
inline std::string ComPortFileName(std::string_view name) {
    const bool prefixed =
        name.substr(0, comportname::DeviceNamespace.size()) == comportname::DeviceNamespace;
    const std::optional<uint32_t> number = ComPortNumber(name);
    if (!prefixed && number && *number >= 10) {
        return std::string(comportname::DeviceNamespace) + std::string(name);
    }
    return std::string(name);
}

} // namespace pelmbus
