// TAutoCltPel: the link to the client program of the metering station.
#pragma once

#include "AutomationObject.h"

namespace pelmbus {

inline constexpr LinkIdentifiers AutoCltPelIdentifiers{
    "CltPel.exe",
    "{9772B945-271D-11D4-B307-000021D9F8FD}",
    "{9772B941-271D-11D4-B307-000021D9F8FD}",
    "{9772B943-271D-11D4-B307-000021D9F8FD}",
    "ru.pel.CltPel",
    "/ru/pel/AutoCltPel",
    "ru.pel.IAutoCltPel",
};
static_assert(AutoCltPelIdentifiers.ClassGuid() != AutoCltPelIdentifiers.InterfaceGuid() &&
                  AutoCltPelIdentifiers.InterfaceGuid() !=
                      AutoCltPelIdentifiers.EventInterfaceGuid(),
              "the three automation identifiers parse and differ");

using TAutoCltPelRefreshData = MeteringLink::TRefreshDataEvent;

class TAutoCltPel : public TAutomationObject {
public:
    TAutoCltPel();
    explicit TAutoCltPel(std::unique_ptr<AutomationBackend> backend);
};

} // namespace pelmbus
