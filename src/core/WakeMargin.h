// How early a precise pause stops sleeping. A sleeping thread's wake-up
// comes late by an amount the system decides: some microseconds on a quiet
// machine, a hundred or more on a busy virtual one, around a millisecond
// where timed waits count whole milliseconds (Windows, Wine). A precise
// pause sleeps until this margin before its end and passes the rest
// checking the clock, so the margin has to cover the usual lateness and no
// more: a larger one only keeps a processor busy.
#pragma once

#include <chrono>

namespace pelmbus {

class TWakeMargin {
public:
    static constexpr std::chrono::microseconds Least{20};
    static constexpr std::chrono::microseconds Most{2000};

    std::chrono::microseconds Current() const;
    // The lateness of one wake-up of a sleep that ran its full length.
    void Observe(std::chrono::nanoseconds lateness);

private:
    // Follows the 90th percentile of the lateness: nine steps up for a
    // wake-up later than it, one down for one earlier. A single stall of the
    // machine moves it by one step (a seventh at most), not by the stall's
    // length.
    std::chrono::nanoseconds FLateness{std::chrono::microseconds{100}};
};

} // namespace pelmbus
