#include "CommMode.h"

#include <optional>
#include <string>
#include <vector>

namespace pelmbus {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<uint32_t> ParseBaud(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value == 0 || value > UINT32_MAX) {
        return std::nullopt;
    }
    // The abbreviations of the "mode" command.
    switch (value) {
    case 11:
        return 110;
    case 15:
        return 150;
    case 30:
        return 300;
    case 60:
        return 600;
    case 12:
        return 1200;
    case 24:
        return 2400;
    case 48:
        return 4800;
    case 96:
        return 9600;
    case 19:
        return 19200;
    default:
        return static_cast<uint32_t>(value);
    }
}

std::optional<CommParity> ParseParity(std::string_view text) {
    if (text.size() != 1) {
        return std::nullopt;
    }
    switch (Upper(text[0])) {
    case 'N':
        return CommParity::None;
    case 'O':
        return CommParity::Odd;
    case 'E':
        return CommParity::Even;
    case 'M':
        return CommParity::Mark;
    case 'S':
        return CommParity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<uint8_t> ParseByteSize(std::string_view text) {
    if (text.size() != 1 || text[0] < '5' || text[0] > '8') {
        return std::nullopt;
    }
    return static_cast<uint8_t>(text[0] - '0');
}

std::optional<CommStopBits> ParseStopBits(std::string_view text) {
    if (text == "1") {
        return CommStopBits::One;
    }
    if (text == "1.5") {
        return CommStopBits::OneAndHalf;
    }
    if (text == "2") {
        return CommStopBits::Two;
    }
    return std::nullopt;
}

std::optional<bool> ParseOnOff(std::string_view text) {
    if (EqualsNoCase(text, "on")) {
        return true;
    }
    if (EqualsNoCase(text, "off")) {
        return false;
    }
    return std::nullopt;
}

CommStopBits DefaultStopBits(uint32_t baud) {
    return baud == 110 ? CommStopBits::Two : CommStopBits::One;
}

// "9600,N,8,2" with an optional fifth item: x = XON/XOFF, p = hardware
// handshake. Flow control is set in full: without the fifth item it is off.
bool ParseCommaForm(std::string_view text, CommMode& mode) {
    std::vector<std::string_view> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        items.push_back(Trim(text.substr(start, comma - start)));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (items.size() > 5) {
        return false;
    }

    const auto baud = ParseBaud(items[0]);
    if (!baud) {
        return false;
    }
    mode.BaudRate = *baud;
    if (items.size() > 1) {
        const auto parity = ParseParity(items[1]);
        if (!parity) {
            return false;
        }
        mode.Parity = *parity;
    }
    if (items.size() > 2) {
        const auto size = ParseByteSize(items[2]);
        if (!size) {
            return false;
        }
        mode.ByteSize = *size;
    }
    mode.StopBits = DefaultStopBits(*baud);
    if (items.size() > 3) {
        const auto stop = ParseStopBits(items[3]);
        if (!stop) {
            return false;
        }
        mode.StopBits = *stop;
    }

    mode.OutX = mode.InX = false;
    mode.OutxCtsFlow = mode.OutxDsrFlow = false;
    mode.Dtr = DtrControl::Enable;
    mode.Rts = RtsControl::Enable;
    if (items.size() > 4) {
        if (EqualsNoCase(items[4], "x")) {
            mode.OutX = mode.InX = true;
        } else if (EqualsNoCase(items[4], "p")) {
            mode.OutxCtsFlow = mode.OutxDsrFlow = true;
            mode.Dtr = DtrControl::Handshake;
            mode.Rts = RtsControl::Handshake;
        } else {
            return false;
        }
    }
    return true;
}

// "baud=9600 parity=N data=8 stop=2 xon=off ...": only the named settings
// change, except the stop bits, which fall back to their default.
bool ParseKeyForm(std::string_view text, CommMode& mode) {
    bool any = false;
    bool stopGiven = false;
    std::optional<uint32_t> baudGiven;
    size_t pos = 0;
    while (pos < text.size()) {
        if (IsBlank(text[pos])) {
            ++pos;
            continue;
        }
        size_t end = pos;
        while (end < text.size() && !IsBlank(text[end])) {
            ++end;
        }
        const std::string_view item = text.substr(pos, end - pos);
        pos = end;
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            return false;
        }
        const std::string_view key = item.substr(0, equals);
        const std::string_view value = item.substr(equals + 1);
        any = true;

        if (EqualsNoCase(key, "baud")) {
            baudGiven = ParseBaud(value);
            if (!baudGiven) {
                return false;
            }
            mode.BaudRate = *baudGiven;
        } else if (EqualsNoCase(key, "parity")) {
            const auto parity = ParseParity(value);
            if (!parity) {
                return false;
            }
            mode.Parity = *parity;
        } else if (EqualsNoCase(key, "data")) {
            const auto size = ParseByteSize(value);
            if (!size) {
                return false;
            }
            mode.ByteSize = *size;
        } else if (EqualsNoCase(key, "stop")) {
            const auto stop = ParseStopBits(value);
            if (!stop) {
                return false;
            }
            mode.StopBits = *stop;
            stopGiven = true;
        } else if (EqualsNoCase(key, "dtr")) {
            if (EqualsNoCase(value, "hs")) {
                mode.Dtr = DtrControl::Handshake;
            } else if (const auto on = ParseOnOff(value)) {
                mode.Dtr = *on ? DtrControl::Enable : DtrControl::Disable;
            } else {
                return false;
            }
        } else if (EqualsNoCase(key, "rts")) {
            if (EqualsNoCase(value, "hs")) {
                mode.Rts = RtsControl::Handshake;
            } else if (EqualsNoCase(value, "tg")) {
                mode.Rts = RtsControl::Toggle;
            } else if (const auto on = ParseOnOff(value)) {
                mode.Rts = *on ? RtsControl::Enable : RtsControl::Disable;
            } else {
                return false;
            }
        } else {
            const auto on = ParseOnOff(value);
            if (!on) {
                return false;
            }
            if (EqualsNoCase(key, "xon")) {
                mode.OutX = mode.InX = *on;
            } else if (EqualsNoCase(key, "odsr")) {
                mode.OutxDsrFlow = *on;
            } else if (EqualsNoCase(key, "octs")) {
                mode.OutxCtsFlow = *on;
            } else if (EqualsNoCase(key, "idsr")) {
                mode.DsrSensitivity = *on;
            } else if (!EqualsNoCase(key, "to")) {
                // "to" selects infinite time-outs; the channel sets its own.
                return false;
            }
        }
    }
    if (!stopGiven) {
        mode.StopBits = baudGiven ? DefaultStopBits(*baudGiven) : CommStopBits::One;
    }
    return any;
}

} // namespace

bool ParseCommMode(std::string_view text, CommMode& mode) {
    CommMode parsed = mode;
    const bool ok = text.find('=') != std::string_view::npos ? ParseKeyForm(text, parsed)
                                                             : ParseCommaForm(text, parsed);
    if (ok) {
        mode = parsed;
    }
    return ok;
}

} // namespace pelmbus
