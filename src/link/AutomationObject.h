// TAutomationObject: the one implementation behind TAutoPel and TAutoCltPel.
// It keeps the wrapper's rules (connect once, connect before a command,
// disconnect before destruction, hand the data event to OnRefreshData) and
// leaves the transport to an AutomationBackend: D-Bus on Linux.
#pragma once

#include "LinkIdentifiers.h"
#include "MainThreadHandOvers.h"
#include "MeteringLink.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelmbus {

class AutomationBackend {
public:
    using EventSink = std::function<void(int32_t ind)>;

    virtual ~AutomationBackend() = default;
    // Obtains the object named by `ids` running-or-new, subscribes `sink` to
    // its data event and checks that it offers the default interface. On any
    // failure nothing stays subscribed. Throws EAutomationSystemError when the
    // object cannot be obtained, EAutomationError otherwise.
    virtual void Attach(const LinkIdentifiers& ids, EventSink sink, int32_t timeoutMs) = 0;
    // Unsubscribes and releases; safe when not attached.
    virtual void Detach() = 0;
    // True when the last Attach started the application rather than
    // finding it running.
    virtual bool StartedProgram() const { return false; }
    // One DoCommand call on the attached object; throws EAutomationError.
    virtual std::string Call(const std::string& command, int32_t timeoutMs) = 0;
};

// The platform's backend (D-Bus on Linux, COM on Windows). Its events run on the thread of
// the application's event loop, which must exist before a link connects.
// While it waits for the application it runs `handOvers`, when given, and
// nothing else. The COM backend also needs the event of the hand-overs, so
// a Windows host that has hand-overs makes com::ComAutomationBackend itself.
std::unique_ptr<AutomationBackend> MakeAutomationBackend(MainThreadHandOvers* handOvers = nullptr);

class TAutomationObject : public MeteringLink {
public:
    TAutomationObject(const LinkIdentifiers& ids, std::unique_ptr<AutomationBackend> backend);
    ~TAutomationObject() override;
    TAutomationObject(const TAutomationObject&) = delete;
    TAutomationObject& operator=(const TAutomationObject&) = delete;

    void Connect() override;
    void Disconnect() override;
    bool Connected() const override { return connected_; }
    bool StartedProgram() const override { return backend_->StartedProgram(); }
    std::string DoCommand(const std::string& command) override;

    const LinkIdentifiers& Identifiers() const { return ids_; }

    // Longest wait for one command's reply: the bus's usual call time-out.
    // A day report can take seconds to build; only an application silent
    // this long is hung (an automation error, not a missing program).
    int32_t CallTimeoutMs = 25000;
    // Longest wait for each call to the application while connecting.
    // Starting the program is not bounded by it: that takes as long as the
    // bus (or COM) allows for starting a service.
    int32_t ConnectTimeoutMs = 25000;

private:
    void DispatchRefreshData(int32_t ind);

    LinkIdentifiers ids_;
    std::unique_ptr<AutomationBackend> backend_;
    bool connected_ = false;
};

} // namespace pelmbus
