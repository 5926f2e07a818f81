// The window's host in the link-and-form scenarios over a real backend: its
// links are the backend's automation objects, counted, and a program nobody
// registered is the station's own choice of one.
#pragma once

#include "AutomationObject.h"
#include "FakeFormHost.h"
#include "Pel_TLB.h"

#include <memory>

namespace pelmbus::testsupport {

template <class Station> class AutomationFormHost : public FakeFormHost {
public:
    std::unique_ptr<MeteringLink> CreateAutoPel() override {
        ++LinksMade;
        return std::make_unique<TAutomationObject>(Ids, MakeAutomationBackend());
    }
    void UseUnregisteredProgram() { Ids = Station::NobodyProvides(); }

    LinkIdentifiers Ids = AutoPelIdentifiers;
    int LinksMade = 0;
};

} // namespace pelmbus::testsupport
