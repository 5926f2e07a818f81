#include "TimedWaits.h"

#include <sys/prctl.h>

namespace pelmbus {

void RequestFineTimedWaits() {
    // Per thread; 0 would restore the default, so 1 ns.
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

std::chrono::microseconds PreciseEndMargin() {
    // A real-time thread without timer slack wakes some tens of
    // microseconds late, on a busy virtual machine about a hundred.
    return std::chrono::microseconds(150);
}

} // namespace pelmbus
