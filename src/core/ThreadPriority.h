// Scheduling priority of the receive thread (src/platform).
#pragma once

namespace pelmbus {

// Gives the calling thread the highest priority the process may give it, so
// that the response timing holds while the machine is busy. Leaves the
// priority as it was when the system refuses.
void RaiseToTimeCriticalPriority();

} // namespace pelmbus
