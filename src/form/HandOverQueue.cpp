#include "HandOverQueue.h"

namespace pelmbus {

bool THandOverQueue::Post(std::function<void()> work) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(FMutex);
        wasEmpty = FQueue.empty();
        FQueue.push_back(std::move(work));
    }
    FPosted.notify_all();
    return wasEmpty;
}

void THandOverQueue::RunPending() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(FMutex);
        work.swap(FQueue);
    }
    // Outside the lock: a hand-over may post again (the receive thread
    // posts its next event as soon as this one has run).
    for (auto& item : work) {
        item();
    }
}

void THandOverQueue::WaitForPending(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(FMutex);
    FPosted.wait_until(lock, deadline, [this] { return !FQueue.empty(); });
}

} // namespace pelmbus
