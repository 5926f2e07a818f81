#include "TimedWaits.h"

#include <windows.h>

#include <timeapi.h>

namespace pelmbus {

void RequestFineTimedWaits() {
    // The system drops the request when the process ends.
    static const bool fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)fineTimer;
}

std::chrono::microseconds PreciseEndMargin() {
    // Timed waits end on a tick of the 1 ms timer, up to a millisecond
    // after they are due.
    return std::chrono::microseconds(1000);
}

} // namespace pelmbus
