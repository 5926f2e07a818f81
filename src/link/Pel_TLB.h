// TAutoPel: the link to the server program of the metering station.
#pragma once

#include "AutomationObject.h"

namespace pelmbus {

inline constexpr LinkIdentifiers AutoPelIdentifiers{
    "Pel.exe",
    "{9772B945-271E-11D4-B307-000021D9F8FD}",
    "{9772B941-271E-11D4-B307-000021D9F8FD}",
    "{9772B943-271E-11D4-B307-000021D9F8FD}",
    "ru.pel.Pel",
    "/ru/pel/AutoPel",
    "ru.pel.IAutoPel",
};
static_assert(AutoPelIdentifiers.ClassGuid() != AutoPelIdentifiers.InterfaceGuid() &&
                  AutoPelIdentifiers.InterfaceGuid() != AutoPelIdentifiers.EventInterfaceGuid(),
              "the three automation identifiers parse and differ");

using TAutoPelRefreshData = MeteringLink::TRefreshDataEvent;

class TAutoPel : public TAutomationObject {
public:
    TAutoPel();
    explicit TAutoPel(std::unique_ptr<AutomationBackend> backend);
};

} // namespace pelmbus
