#include "PauseClock.h"

#include "TimedWaits.h"

namespace pelmbus {
namespace {

class TSteadyPauseClock final : public TPauseClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    bool WaitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                   TimePoint due, const std::function<bool()>& done, bool precise) override {
        if (!precise) {
            return wakeup.wait_until(lock, due, done);
        }
        const TimePoint wake = due - PreciseEndMargin();
        if (Now() < wake && wakeup.wait_until(lock, wake, done)) {
            return true;
        }
        if (Now() >= due) {
            return false;
        }
        lock.unlock();
        bool stopped = false;
        while (!stopped && Now() < due) {
            stopped = done();
        }
        lock.lock();
        return stopped || done();
    }
};

} // namespace

TPauseClock& TPauseClock::Steady() {
    static TSteadyPauseClock clock;
    return clock;
}

} // namespace pelmbus
