#include "Looker.h"

#include "InOutPort.h"
#include "ThreadPriority.h"
#include "TimedWaits.h"

#include <algorithm>
#include <thread>

namespace pelmbus {
namespace {

thread_local TLooker* CurrentLooker = nullptr;

// While the full-queue case lasts the resend loop polls the queue at about
// the pace one byte leaves at 9600 baud.
constexpr std::chrono::milliseconds QueueFullPause{1};
// A write that fails outright is retried this often, for this long.
constexpr std::chrono::milliseconds FailedWritePause{10};
constexpr std::chrono::milliseconds FailedWriteLimit{1000};
// A device is taken for gone, and closed, when it has failed as gone on this
// many passes in a row (one pass every cycle pause).
constexpr int LostDeviceCycles = 2;

} // namespace

TLooker::TLooker(TInOutPort* port, std::shared_ptr<TChannelSync> sync, TPauseClock& clock)
    : Port(port), Sync(std::move(sync)), FPauseClock(clock) {}

TLooker* TLooker::Current() {
    return CurrentLooker;
}

void TLooker::Start() {
    std::thread([self = shared_from_this()] {
        RaiseToTimeCriticalPriority();
        RequestFineTimedWaits();
        self->Execute();
        {
            std::lock_guard lock(self->StateMutex);
            self->Finished = true;
        }
        self->Wakeup.notify_all();
    }).detach();
}

void TLooker::Stop() {
    {
        std::lock_guard lock(StateMutex);
        FStopped = true;
    }
    Wakeup.notify_all();
}

bool TLooker::WaitUntilFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(StateMutex);
    return Wakeup.wait_for(lock, timeout, [this] { return Finished; });
}

bool TLooker::Pause(std::chrono::milliseconds duration) {
    return PauseFor(duration, false);
}

bool TLooker::ResponseDelay(std::chrono::milliseconds duration) {
    return PauseFor(duration, true);
}

bool TLooker::PauseFor(std::chrono::milliseconds duration, bool precise) {
    // Every pause lasts its whole length from the moment it starts, also
    // after one that ended late: the end of a request is a queue that is
    // still empty after a full pause, and a shortened pause could end a
    // frame in the gap between two of its bytes.
    const TPauseClock::TimePoint due = FPauseClock.Now() + duration;
    std::unique_lock lock(StateMutex);
    return !FPauseClock.WaitUntil(
        Wakeup, lock, due, [this] { return FStopped.load(); }, precise);
}

bool TLooker::PauseUnlocked(std::unique_lock<std::mutex>& channel,
                            std::chrono::milliseconds duration, bool precise) {
    channel.unlock();
    if (!PauseFor(duration, precise)) {
        return false;
    }
    channel.lock();
    return !Stopped();
}

void TLooker::Execute() {
    struct CurrentScope {
        explicit CurrentScope(TLooker* looker) { CurrentLooker = looker; }
        ~CurrentScope() { CurrentLooker = nullptr; }
    } scope(this);

    std::unique_lock channel(Sync->Mutex, std::defer_lock);
    // The cycle pause is fixed; the port's polling cycle does not change it.
    while (Pause(CyclePause)) {
        channel.lock();
        const bool goOn = !Stopped() && RunCycle(channel);
        if (channel.owns_lock()) {
            channel.unlock();
        }
        if (!goOn) {
            return;
        }
    }
}

bool TLooker::RunCycle(std::unique_lock<std::mutex>& channel) {
    TInOutPort& port = *Port;
    if (!port.PortOpen) {
        return RetryOpen(channel);
    }
    CommDevice* device = port.Device.get();
    uint32_t mask = 0;
    const CommWait wait = device != nullptr ? device->WaitEvent(mask) : CommWait::Failed;
    if (wait == CommWait::Failed) {
        return WatchForLostDevice(channel, device);
    }
    FLostCycles = 0;
    const bool completedAtOnce = wait == CommWait::Completed;
    if (!completedAtOnce) {
        // A stop or a wake for the channel lock that came before the wait
        // started: its Wake() may already have been forgotten by WaitEvent.
        if (Stopped() || Sync->WakeRequests > 0) {
            return !Stopped();
        }
        if (!device->WaitEventResult(mask)) {
            mask = 0;
        }
        if (Stopped()) {
            return false;
        }
    }
    // The response's time beyond its pauses, for the journal: from the
    // first byte taken to the response handed to the line.
    const auto started = std::chrono::steady_clock::now();
    const uint16_t delay = port.ZaderOtveta;
    if (mask != EvRxChar || !port.ReceiveFrame()) {
        return !Stopped();
    }
    if (!HandOver(channel, &TInOutPort::DoPriemDataReady)) {
        return false;
    }
    if (port.ZaderOtveta > 0 &&
        !PauseUnlocked(channel, std::chrono::milliseconds(port.ZaderOtveta), true)) {
        return false;
    }
    port.ProcessRequest();
    // A request that was waiting when the wait started gets the whole
    // response; one the wait caught as it came gets one more send step.
    if (!SendResponse(channel, completedAtOnce)) {
        return false;
    }
    if (port.LenOut > 0) {
        // A pause after each byte of the request and one before the handling.
        const auto pauses = std::chrono::milliseconds(delay) * (port.LenIn + 1);
        port.Counters.NoteBeyondPauses(std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started - pauses));
    }
    return HandOver(channel, &TInOutPort::DoPeredDataReady);
}

bool TLooker::WatchForLostDevice(std::unique_lock<std::mutex>& channel, const CommDevice* device) {
    // Any other failure (a line error, a driver that refused one wait) is
    // tried again after the next pause, on the same handle.
    if (device == nullptr || !device->Gone()) {
        FLostCycles = 0;
        return true;
    }
    if (++FLostCycles < LostDeviceCycles) {
        return true;
    }
    FLostCycles = 0;
    Port->CloseLostDevice();
    FNextOpen = FPauseClock.Now() + Port->ReopenInterval;
    return HandOver(channel, &TInOutPort::DoPortOpenChange);
}

bool TLooker::RetryOpen(std::unique_lock<std::mutex>& channel) {
    // The opener of the port has just tried: the first retry waits a whole
    // interval.
    const TPauseClock::TimePoint now = FPauseClock.Now();
    if (!FNextOpen) {
        FNextOpen = now + Port->ReopenInterval;
    }
    if (now < *FNextOpen) {
        return true;
    }
    FNextOpen = now + Port->ReopenInterval;
    if (!Port->ReopenPortLocked()) {
        return true;
    }
    return HandOver(channel, &TInOutPort::DoPortOpenChange);
}

bool TLooker::SendResponse(std::unique_lock<std::mutex>& channel, bool resendUntilDone) {
    TInOutPort& port = *Port;
    if (!resendUntilDone) {
        port.ResendTail();
        return !Stopped();
    }
    bool failing = false;
    TPauseClock::TimePoint failingSince;
    while (port.PeredPending && port.PortOpen) {
        const size_t before = port.ArrPered.size();
        port.ResendTail();
        if (!port.PeredPending) {
            break;
        }
        if (port.ArrPered.size() < before) {
            failing = false;
            continue;
        }
        std::chrono::milliseconds pause = QueueFullPause;
        if (port.LastWrite == TInOutPort::TWriteOutcome::Failed) {
            // Give up on a line that keeps failing; the tail stays in
            // ArrPered for the next send step.
            if (!failing) {
                failing = true;
                failingSince = FPauseClock.Now();
            } else if (FPauseClock.Now() - failingSince >= FailedWriteLimit) {
                break;
            }
            pause = FailedWritePause;
        }
        // Plain sleeps: a held line can last long, and a precise end would
        // keep the processor busy at time-critical priority all along.
        if (!PauseUnlocked(channel, pause, false)) {
            return false;
        }
    }
    return !Stopped();
}

bool TLooker::HandOver(std::unique_lock<std::mutex>& channel, PortEvent event) {
    if (Stopped()) {
        return false;
    }
    TInOutPort& port = *Port;
    if (!port.PostToMainThread) {
        // No message loop: the event runs here, with the channel still held
        // so that a stop from another thread waits for the handler.
        (port.*event)();
        return !Stopped();
    }
    uint64_t serial = 0;
    {
        std::lock_guard lock(StateMutex);
        serial = ++HandOversPosted;
    }
    port.PostToMainThread(
        [self = shared_from_this(), event, serial] { self->RunHandedOver(event, serial); });
    channel.unlock();
    {
        std::unique_lock lock(StateMutex);
        Wakeup.wait(lock, [&] { return FStopped.load() || HandOversRun >= serial; });
    }
    if (Stopped()) {
        return false;
    }
    channel.lock();
    return !Stopped();
}

void TLooker::RunHandedOver(PortEvent event, uint64_t serial) {
    // On the main thread, which also stops the looker and frees the port:
    // a looker that is not stopped still has its port.
    if (!Stopped()) {
        (Port->*event)();
    }
    {
        std::lock_guard lock(StateMutex);
        HandOversRun = std::max(HandOversRun, serial);
    }
    Wakeup.notify_all();
}

} // namespace pelmbus
