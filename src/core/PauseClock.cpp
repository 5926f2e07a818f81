#include "PauseClock.h"

namespace pelmbus {
namespace {

class TSteadyPauseClock final : public TPauseClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    bool WaitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                   TimePoint due, const std::function<bool()>& done) override {
        return wakeup.wait_until(lock, due, done);
    }
};

} // namespace

TPauseClock& TPauseClock::Steady() {
    static TSteadyPauseClock clock;
    return clock;
}

} // namespace pelmbus
