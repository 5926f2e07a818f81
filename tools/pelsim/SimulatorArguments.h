// pelsim's options, parsed without a toolkit so that the Windows simulator
// takes the same options as the Linux one: --name value or --name=value.
#pragma once

#include "StationData.h"

#include <optional>
#include <string>
#include <vector>

namespace pelsim {

struct SimulatorSettings {
    std::string Program = "server"; // or "client"
    double PeriodSeconds = 10;
    int EventLimit = 0; // stop after this many events; 0 never stops
    bool NoEvents = false;
    bool ErrorReplies = false;
    int ReplyLines = ReportLineCount;
    int ReplyDelayMs = 0;
    std::optional<std::string> DecimalSeparator; // the locale's when not given
    double LifetimeSeconds = 0;                  // end after this long; 0 runs on
    // Wait this long before offering the object, as a station's program
    // that starts slowly at boot does.
    double RegisterDelaySeconds = 0;
};

// False with a message in `error` for an unknown option or a bad value.
bool ParseSimulatorArguments(const std::vector<std::string>& args, SimulatorSettings& settings,
                             std::string& error);

// The option summary for --help.
std::string SimulatorUsage();

} // namespace pelsim
