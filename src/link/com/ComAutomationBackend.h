// The COM transport of the metering link on Windows: the application is an
// out-of-process automation server. Attach obtains its object running-or-new
// (GetActiveObject, then CoCreateInstance of the local server), subscribes an
// event sink at the connection point of the event interface and queries the
// default interface, whose first own method DoCommand is called through the
// method table. Every call that reaches the application runs on a worker in
// the multithreaded apartment and is waited for at most the link's time-out,
// so a hung application never freezes the window for good. Starting the
// application is not a call: it waits as long as COM waits for the server.
#pragma once

#include "AutomationObject.h"
#include "MainThreadHandOvers.h"

#include <windows.h>

#include <memory>
#include <string>

namespace pelmbus::com {

class MtaWorker;
class RefreshDataSink;
struct RemoteObject;

class ComAutomationBackend : public AutomationBackend {
public:
    // While it waits for the application the main thread runs `handOvers`
    // (when given) the moment `handOverPosted`, their event, is set, and
    // serves its apartment, and nothing else.
    explicit ComAutomationBackend(MainThreadHandOvers* handOvers = nullptr,
                                  HANDLE handOverPosted = nullptr);
    ~ComAutomationBackend() override;
    ComAutomationBackend(const ComAutomationBackend&) = delete;
    ComAutomationBackend& operator=(const ComAutomationBackend&) = delete;

    void Attach(const LinkIdentifiers& ids, EventSink sink, int32_t timeoutMs) override;
    void Detach() override;
    std::string Call(const std::string& command, int32_t timeoutMs) override;
    bool StartedProgram() const override { return started_; }

private:
    std::unique_ptr<MtaWorker> worker_;
    std::shared_ptr<RemoteObject> remote_; // used on the worker only
    RefreshDataSink* sink_ = nullptr;      // one reference, main thread
    std::string program_;
    // Unsubscribing and releasing are calls on the object like DoCommand:
    // they wait the command time-out last given (the connect time-out before).
    int32_t releaseTimeoutMs_ = 0;
    bool started_ = false;
};

} // namespace pelmbus::com
