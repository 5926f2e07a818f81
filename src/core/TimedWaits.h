// How closely the system keeps the calling thread's timed waits to their
// due time (src/platform).
#pragma once

#include <chrono>

namespace pelmbus {

// Asks the system to end the calling thread's timed waits as close to their
// due time as it can: a 1 ms system timer on Windows (asked once for the
// whole run; the default tick is 15.6 ms), no timer slack on Linux (the
// default lets a wait end up to 50 us late).
void RequestFineTimedWaits();

// How long before its end a precise pause stops sleeping and starts
// checking the clock: about what a wake-up is late by on this platform once
// RequestFineTimedWaits ran. A pause overruns only by what a wake-up is
// later than this, and keeps a processor busy for at most this long.
std::chrono::microseconds PreciseEndMargin();

} // namespace pelmbus
