// The queue through which the receive thread hands its events to the main
// thread. The window's message loop drains it; so does the wait for the
// metering application's reply, which runs nothing else.
#pragma once

#include "MainThreadHandOvers.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace pelmbus {

class THandOverQueue : public MainThreadHandOvers {
public:
    // Any thread. True when the queue was empty before, so that the caller
    // asks its message loop for one drain per batch.
    bool Post(std::function<void()> work);

    void RunPending() override;
    void WaitForPending(std::chrono::steady_clock::time_point deadline) override;

private:
    std::mutex FMutex;
    std::condition_variable FPosted;
    std::deque<std::function<void()>> FQueue;
};

} // namespace pelmbus
