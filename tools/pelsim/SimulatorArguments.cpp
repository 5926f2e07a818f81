#include "SimulatorArguments.h"

#include <charconv>

namespace pelsim {

namespace {

bool ParseInt(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// Decimal point only, whatever the C locale says.
bool ParseSeconds(const std::string& text, double& value) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find('.') != text.rfind('.')) {
        return false;
    }
    const auto point = text.find('.');
    double whole = 0;
    double scale = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == point) {
            continue;
        }
        whole = whole * 10 + (text[i] - '0');
        if (point != std::string::npos && i > point) {
            scale *= 10;
        }
    }
    value = whole / scale;
    return true;
}

} // namespace

bool ParseSimulatorArguments(const std::vector<std::string>& args, SimulatorSettings& settings,
                             std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        auto value = [&](std::string& text) {
            if (inlineValue) {
                text = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            text = args[++i];
            return true;
        };
        std::string text;
        if (name == "--no-events") {
            settings.NoEvents = true;
        } else if (name == "--error-replies") {
            settings.ErrorReplies = true;
        } else if (name == "--program") {
            if (!value(text)) {
                return false;
            }
            if (text != "server" && text != "client") {
                error = "--program must be server or client, not " + text;
                return false;
            }
            settings.Program = text;
        } else if (name == "--period") {
            if (!value(text)) {
                return false;
            }
            if (!ParseSeconds(text, settings.PeriodSeconds) || settings.PeriodSeconds < 0.01 ||
                settings.PeriodSeconds > 86400) {
                error = "--period must be between 0.01 and 86400 seconds";
                return false;
            }
        } else if (name == "--lifetime" || name == "--register-delay") {
            if (!value(text)) {
                return false;
            }
            if (!ParseSeconds(text, name == "--lifetime" ? settings.LifetimeSeconds
                                                         : settings.RegisterDelaySeconds)) {
                error = name + " must be seconds";
                return false;
            }
        } else if (name == "--event-limit" || name == "--reply-lines" || name == "--reply-delay") {
            if (!value(text)) {
                return false;
            }
            int number = 0;
            if (!ParseInt(text, number) || number < 0) {
                error = name + " must be a count";
                return false;
            }
            (name == "--event-limit"   ? settings.EventLimit
             : name == "--reply-lines" ? settings.ReplyLines
                                       : settings.ReplyDelayMs) = number;
        } else if (name == "--decimal-separator") {
            if (!value(text)) {
                return false;
            }
            settings.DecimalSeparator = text;
        } else {
            error = "unknown option " + args[i] + "\n" + SimulatorUsage();
            return false;
        }
    }
    return true;
}

std::string SimulatorUsage() {
    return "pelsim [--program server|client] [--period SECONDS] [--event-limit N]\n"
           "       [--no-events] [--error-replies] [--reply-lines N] [--reply-delay MS]\n"
           "       [--decimal-separator S] [--lifetime SECONDS] [--register-delay SECONDS]\n";
}

} // namespace pelsim
