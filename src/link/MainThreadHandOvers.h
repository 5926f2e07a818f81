// While the main thread waits for the metering application it still runs
// the work the receive thread hands over to it, and nothing else: no window
// events, no data events, no timers. So the Modbus slave answers in its
// usual time however slowly the application replies, and no handler of the
// window runs in the middle of a report refresh.
//
// A backend's wait for a reply calls RunPending, then waits until a
// hand-over is queued or its reply may have come: through WaitForPending,
// or on the Win32 event the host sets with each post (COM), never on a
// poll.
#pragma once

#include <chrono>

namespace pelmbus {

class MainThreadHandOvers {
public:
    virtual ~MainThreadHandOvers() = default;
    // Runs, on the calling (main) thread, every hand-over queued so far.
    virtual void RunPending() = 0;
    // Blocks until a hand-over is queued or the deadline has passed;
    // returns at once when one is queued already.
    virtual void WaitForPending(std::chrono::steady_clock::time_point deadline) = 0;
};

} // namespace pelmbus
