// Time source and timed wait of the receive thread's pauses. The program
// uses the steady clock; tests put in a clock whose wake-ups they control.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace pelmbus {

class TPauseClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~TPauseClock() = default;
    virtual TimePoint Now() = 0;
    // Blocks on `wakeup`, with `lock` held on entry and on return, until
    // `due` or until `done` holds; returns done(). A `precise` wait sleeps
    // until a fixed margin before `due` and passes the rest checking the
    // clock (with `lock` released), so that the end comes when due rather
    // than when a late wake-up comes.
    virtual bool WaitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                           TimePoint due, const std::function<bool()>& done, bool precise) = 0;

    // The steady clock of the system.
    static TPauseClock& Steady();
};

} // namespace pelmbus
