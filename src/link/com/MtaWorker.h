// A thread in the multithreaded apartment that makes the calls which may
// block on a hung metering application (obtaining the object, subscribing,
// DoCommand, unsubscribing, releasing). The main thread waits for each call
// at most a time-out in CoWaitForMultipleHandles, which keeps its apartment
// served (the application's events, COM's own calls) and runs the receive
// thread's hand-overs the moment their event is set, and nothing else. A
// call that outlives its wait finishes later on the worker; jobs run one
// after the other in order.
#pragma once

#include "MainThreadHandOvers.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace pelmbus::com {

class MtaWorker {
public:
    using Job = std::function<void()>;

    // `handOvers`: what the main thread still runs while it waits, none
    // when null; `handOverPosted`: their event, set whenever one is queued,
    // which the waits wait on as well. Throws std::invalid_argument for
    // hand-overs without their event.
    MtaWorker(MainThreadHandOvers* handOvers, HANDLE handOverPosted);
    // Ends the thread after its queued jobs. Waits for it only when it is
    // idle, so a call hung in the application never holds the caller.
    ~MtaWorker();
    MtaWorker(const MtaWorker&) = delete;
    MtaWorker& operator=(const MtaWorker&) = delete;

    // Queues `job` and waits until it has run, at most `timeoutMs`. True
    // when it finished in time; otherwise it still runs later.
    bool Run(Job job, int32_t timeoutMs);
    // Queues `job` without waiting.
    void Post(Job job);
    // True while a job whose wait timed out has not finished: whatever is
    // queued now runs only after it.
    bool Stuck() const;

private:
    struct State;

    uint64_t Queue(Job job);
    static void Loop(std::shared_ptr<State> state);

    MainThreadHandOvers* handOvers_;
    HANDLE handOverPosted_;
    uint64_t lastAbandoned_ = 0;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

// Waits at most `timeoutMs` in the caller's apartment until `finished` is
// true; `signal` is set whenever it may have become true. When given, the
// hand-overs run at the start and whenever `handOverPosted` is set. True
// when `finished` became true.
bool WaitServingApartment(HANDLE signal, const std::function<bool()>& finished, int32_t timeoutMs,
                          MainThreadHandOvers* handOvers, HANDLE handOverPosted);

} // namespace pelmbus::com
