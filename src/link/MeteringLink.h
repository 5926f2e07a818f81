// What the window sees of a link to the metering station's application: a
// connection that is made and dropped, one command in and one reply out, and
// the application's data event. No toolkit or bus types appear here, so the
// form can hold a real link or a test fake through this interface.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pelmbus {

class MeteringLink {
public:
    // Sender is the link that received the event; Ind is the event's argument.
    using TRefreshDataEvent = std::function<void(MeteringLink& sender, int32_t ind)>;

    virtual ~MeteringLink() = default;

    // Obtains the application running-or-new and subscribes to its data
    // event; does nothing when connected already. Throws
    // EAutomationSystemError when the application cannot be reached or
    // started, EAutomationError for any other failure.
    virtual void Connect() = 0;
    // Unsubscribes and releases the application; does nothing when not
    // connected.
    virtual void Disconnect() = 0;
    virtual bool Connected() const = 0;
    // True when the last Connect had to start the application, false when
    // it found it running (or cannot tell).
    virtual bool StartedProgram() const { return false; }
    // Sends one command text and returns the reply text (both UTF-8);
    // connects first when needed. A failed or timed-out call throws
    // EAutomationError.
    virtual std::string DoCommand(const std::string& command) = 0;

    // Runs on the thread that owns the link, whenever the application raises
    // its data event while connected.
    TRefreshDataEvent OnRefreshData;
};

} // namespace pelmbus
