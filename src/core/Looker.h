// TLooker: the receive thread of a TInOutPort. It waits for characters,
// collects one request, hands the receive event to the main thread, waits
// the response delay, has the request handled, sends the response and hands
// the send event to the main thread, every 500 ms and forever, until
// StopLooker stops it.
#pragma once

#include "PauseClock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace pelmbus {

class CommDevice;
class TInOutPort;

// Shared by a port and every receive thread it started, so that a thread
// that outlives its port still finds its lock. The receive thread holds
// `Mutex` while it touches the port and releases it while it pauses or waits
// for the main thread; the main thread takes it to open, close or stop.
struct TChannelSync {
    std::mutex Mutex;
    // Threads waiting to take `Mutex`: while there is one, the receive
    // thread does not start a blocking event wait.
    std::atomic<int> WakeRequests{0};
};

class TLooker : public std::enable_shared_from_this<TLooker> {
public:
    static constexpr std::chrono::milliseconds CyclePause{500};

    // `clock` times the pauses; tests give a fake one.
    TLooker(TInOutPort* port, std::shared_ptr<TChannelSync> sync,
            TPauseClock& clock = TPauseClock::Steady());
    TLooker(const TLooker&) = delete;
    TLooker& operator=(const TLooker&) = delete;

    // The port this thread serves. Used only while the thread is not stopped.
    TInOutPort* const Port;

    // The thread body.
    void Execute();

    // Runs Execute on a new detached thread of time-critical priority.
    void Start();
    // Marks the thread stopped and ends its pauses and hand-over waits. It
    // does not wait; TInOutPort::StopLooker also wakes the device and makes
    // sure the thread has left the port.
    void Stop();
    bool Stopped() const { return FStopped.load(); }

    // Waits until the thread body has returned, at most `timeout`.
    bool WaitUntilFinished(std::chrono::milliseconds timeout);

    // Pauses the receive thread for at least `duration` from now, asleep:
    // a late wake-up makes it longer. Returns false at once when the thread
    // is stopped. Called on the receive thread only.
    bool Pause(std::chrono::milliseconds duration);
    // A pause of the response delay (after a byte read, before the
    // handling): like Pause, but it ends when due rather than when a late
    // wake-up comes, for a request's pauses add up.
    bool ResponseDelay(std::chrono::milliseconds duration);

    // The looker whose thread is running the caller, or null.
    static TLooker* Current();

private:
    using PortEvent = void (TInOutPort::*)();

    // One pass of the loop after the cycle pause, with the channel locked.
    // False when the thread was stopped; the lock may then be released.
    bool RunCycle(std::unique_lock<std::mutex>& channel);
    // A wait that failed: closes the device once it has been gone for
    // LostDeviceCycles passes in a row. False when the thread was stopped.
    bool WatchForLostDevice(std::unique_lock<std::mutex>& channel, const CommDevice* device);
    // The port is not open: tries its settings again every ReopenInterval.
    bool RetryOpen(std::unique_lock<std::mutex>& channel);
    bool SendResponse(std::unique_lock<std::mutex>& channel, bool resendUntilDone);
    bool PauseUnlocked(std::unique_lock<std::mutex>& channel, std::chrono::milliseconds duration,
                       bool precise);
    bool PauseFor(std::chrono::milliseconds duration, bool precise);
    // Runs the event on the main thread and waits until it has run.
    bool HandOver(std::unique_lock<std::mutex>& channel, PortEvent event);
    void RunHandedOver(PortEvent event, uint64_t serial);

    std::shared_ptr<TChannelSync> Sync;
    std::atomic<bool> FStopped{false};
    TPauseClock& FPauseClock;
    // Guards the fields below; Wakeup signals stop, hand-over and end.
    std::mutex StateMutex;
    std::condition_variable Wakeup;
    uint64_t HandOversPosted = 0;
    uint64_t HandOversRun = 0;
    bool Finished = false;
    // Receive thread only: passes in a row that found the device gone, and
    // when the port is next tried while it is not open.
    int FLostCycles = 0;
    std::optional<TPauseClock::TimePoint> FNextOpen;
};

} // namespace pelmbus
