// The single-threaded apartment of the program's main thread: entered at
// program start, left at the end. The metering link's events arrive through
// this apartment's message loop.
#pragma once

namespace pelmbus {

class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // False when the thread was in another apartment already; the link then
    // still works there, but its events need that apartment's loop.
    bool Entered() const { return entered_; }

private:
    bool entered_ = false;
};

} // namespace pelmbus
