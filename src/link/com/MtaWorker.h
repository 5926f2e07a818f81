// A thread in the multithreaded apartment that makes the calls which may
// block on a hung metering application (obtaining the object, subscribing,
// DoCommand, unsubscribing, releasing). The main thread waits for each call
// at most a time-out in CoWaitForMultipleHandles, which keeps its apartment
// served (the application's events, COM's own calls) and runs the receive
// thread's hand-overs, and nothing else. A call that outlives its wait
// finishes later on the worker; jobs run one after the other in order.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace pelmbus::com {

// Work the main thread still does while it waits for the application: when
// `wake` (an auto-reset event) is signalled, `run` is called on the main
// thread. The window wires the receive thread's hand-overs here; without it
// the wait runs no hand-overs.
void SetWaitHandOvers(HANDLE wake, std::function<void()> run);

class MtaWorker {
public:
    using Job = std::function<void()>;

    MtaWorker();
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

private:
    struct Task;
    struct State;

    std::shared_ptr<Task> Queue(Job job);
    static void Loop(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

// Waits for `done` at most `timeoutMs` in the caller's apartment, running the
// hand-overs; true when `done` was signalled.
bool WaitServingApartment(HANDLE done, int32_t timeoutMs);

} // namespace pelmbus::com
