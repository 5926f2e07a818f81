// The identifier record that tells the two metering programs apart: the
// automation identifiers the programs register on Windows, and the D-Bus
// names that stand for them on Linux.
#pragma once

#include <string_view>

namespace pelmbus {

struct LinkIdentifiers {
    std::string_view ProgramName;      // the program that serves the object
    std::string_view ClassId;          // automation object
    std::string_view InterfaceId;      // default interface, carries DoCommand
    std::string_view EventInterfaceId; // source interface, carries RefreshData
    std::string_view BusName;          // well-known session-bus name
    std::string_view ObjectPath;
    std::string_view Interface; // method DoCommand(s) -> s, signal RefreshData(i)
};

} // namespace pelmbus
