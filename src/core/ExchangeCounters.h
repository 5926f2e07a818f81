// What the receive thread counts of the exchange on the line, for the
// journal's hourly line. The receive thread only adds (relaxed atomics, a
// few nanoseconds a request); the main thread takes the figures and writes.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace pelmbus {

struct ExchangeFigures {
    // Modbus exception codes run from 1 to 11.
    static constexpr int ExceptionCodes = 12;

    uint64_t Answered = 0;                             // requests for this slave answered normally
    std::array<uint64_t, ExceptionCodes> Exceptions{}; // by code
    uint64_t OtherAddress = 0;                         // frames for another slave
    uint64_t BadCrc = 0;                               // frames for this slave with a wrong CRC
    uint64_t WrongLength = 0; // frames too short or too long to be a request
    // The longest time a response took beyond the pauses the design asks
    // for (the response delay after each byte and before the handling).
    std::chrono::microseconds LongestBeyondPauses{0};

    uint64_t ExceptionsSent() const;
    bool Empty() const;
};

class ExchangeCounters {
public:
    void CountAnswered() { Add(FAnswered); }
    void CountException(uint8_t code);
    void CountOtherAddress() { Add(FOtherAddress); }
    void CountBadCrc() { Add(FBadCrc); }
    void CountWrongLength() { Add(FWrongLength); }
    void NoteBeyondPauses(std::chrono::microseconds beyond);

    // The figures since the last call, and zero from here on. Main thread.
    ExchangeFigures Take();

private:
    static void Add(std::atomic<uint64_t>& counter) {
        counter.fetch_add(1, std::memory_order_relaxed);
    }

    std::atomic<uint64_t> FAnswered{0};
    std::array<std::atomic<uint64_t>, ExchangeFigures::ExceptionCodes> FExceptions{};
    std::atomic<uint64_t> FOtherAddress{0};
    std::atomic<uint64_t> FBadCrc{0};
    std::atomic<uint64_t> FWrongLength{0};
    std::atomic<int64_t> FLongestBeyondUs{0};
};

// The journal's text of the figures, times in milliseconds with the
// decimal separator given.
std::string DescribeExchange(const ExchangeFigures& figures, const std::string& decimalSeparator);

} // namespace pelmbus
