// The automation object pelsim.exe serves: the default interface of the
// program it stands for (DoCommand answers from the station model), a
// connection point for the event interface that raises RefreshData on a
// period, and the class object and running-object entry through which
// PelMBus finds it running or has COM start it.
#pragma once

#include "LinkIdentifiers.h"
#include "SimulatorArguments.h"

#include <oaidl.h>
#include <objbase.h>

#include <memory>

namespace pelsim {

class SimulatorAutomationObject;

class ComSimulator {
public:
    // `typeInfo`: the program's default interface from pelsim's type library.
    ComSimulator(const pelmbus::LinkIdentifiers& ids, const SimulatorSettings& settings,
                 const std::string& decimalSeparator, ITypeInfo* typeInfo);
    ~ComSimulator();
    ComSimulator(const ComSimulator&) = delete;
    ComSimulator& operator=(const ComSimulator&) = delete;

    // Registers the class object and the running object; the failing call's
    // status otherwise.
    HRESULT Publish();
    void Revoke();

    // Moves the station on and raises RefreshData at every subscriber;
    // false once the event limit is reached.
    bool RaiseRefreshData();

private:
    CLSID classId_;
    SimulatorAutomationObject* object_;
    IClassFactory* factory_;
    DWORD classCookie_ = 0;
    DWORD activeCookie_ = 0;
    int eventLimit_;
    int eventsRaised_ = 0;
};

} // namespace pelsim
