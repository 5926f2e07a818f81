// The exchange counters as the request handling fills them, their hand-over
// to the main thread, and their journal text.
#include "ExchangeCounters.h"
#include "InOutPort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace pelmbus {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::microseconds;

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = TInOutPort::CalcCRC(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

void Handle(TInOutPort& port, const Bytes& request) {
    std::memcpy(port.BufIn.data(), request.data(), request.size());
    port.LenIn = static_cast<int32_t>(request.size());
    port.ProcessRequest();
}

TEST(ExchangeCountersTest, EachFrameTheSlaveHandlesIsCountedOnceUnderItsOutcome) {
    TInOutPort port;
    port.SlaveNomer = 7;
    const Bytes read = WithCrc({7, 3, 0, 0, 0, 2});
    Handle(port, read);
    Handle(port, read);
    Handle(port, WithCrc({7, 16, 0, 10, 0, 1, 2, 0x12, 0x34}));
    Handle(port, WithCrc({7, 5, 0, 0, 0xFF, 0})); // function 5: exception 1
    Handle(port, WithCrc({7, 3, 1, 255, 0, 2}));  // past register 511: exception 2
    Handle(port, WithCrc({7, 3, 0, 0, 0, 101}));  // 101 registers: exception 2
    Handle(port, WithCrc({8, 3, 0, 0, 0, 2}));    // another slave
    Bytes corrupt = read;
    corrupt[3] ^= 1;
    Handle(port, corrupt);
    port.LenIn = TInOutPort::BlockSize + 1; // longer than any request
    port.ProcessRequest();

    const ExchangeFigures figures = port.Counters.Take();
    EXPECT_EQ(figures.Answered, 3u);
    EXPECT_EQ(figures.Exceptions[1], 1u);
    EXPECT_EQ(figures.Exceptions[2], 2u);
    EXPECT_EQ(figures.ExceptionsSent(), 3u);
    EXPECT_EQ(figures.OtherAddress, 1u);
    EXPECT_EQ(figures.BadCrc, 1u);
    EXPECT_EQ(figures.WrongLength, 1u);

    // Taken figures start again from zero.
    EXPECT_TRUE(port.Counters.Take().Empty());
}

TEST(ExchangeCountersTest, TheLongestTimeBeyondThePausesIsKeptUntilTaken) {
    ExchangeCounters counters;
    counters.NoteBeyondPauses(microseconds(300));
    counters.NoteBeyondPauses(microseconds(1250));
    counters.NoteBeyondPauses(microseconds(-40)); // a pause that ended a little early
    counters.NoteBeyondPauses(microseconds(900));
    EXPECT_EQ(counters.Take().LongestBeyondPauses, microseconds(1250));
    EXPECT_EQ(counters.Take().LongestBeyondPauses, microseconds(0));
}

TEST(ExchangeCountersTest, CountsFromTwoThreadsAddUp) {
    ExchangeCounters counters;
    constexpr int PerThread = 100000;
    const auto work = [&counters](int offset) {
        for (int i = 0; i < PerThread; ++i) {
            counters.CountAnswered();
            counters.NoteBeyondPauses(microseconds(offset + i % 1000));
        }
    };
    std::thread other(work, 5000);
    work(0);
    other.join();
    const ExchangeFigures figures = counters.Take();
    EXPECT_EQ(figures.Answered, 2u * PerThread);
    EXPECT_EQ(figures.LongestBeyondPauses, microseconds(5999));
}

TEST(ExchangeCountersTest, TheJournalTextNamesEveryFigureAndTheExceptionCodesSent) {
    ExchangeFigures figures;
    figures.Answered = 12345;
    figures.Exceptions[2] = 4;
    figures.Exceptions[1] = 1;
    figures.OtherAddress = 17;
    figures.BadCrc = 2;
    figures.WrongLength = 3;
    figures.LongestBeyondPauses = microseconds(1260);
    EXPECT_EQ(DescribeExchange(figures, ","),
              "ответов на запросы 12345, исключений 5 (код 1 - 1, код 2 - 4), "
              "кадров для других адресов 17, отброшено кадров: с неверной CRC 2, "
              "неверной длины 3, наибольшая задержка ответа сверх пауз 1,3 мс");
    EXPECT_EQ(DescribeExchange(ExchangeFigures{}, "."),
              "ответов на запросы 0, исключений 0, кадров для других адресов 0, "
              "отброшено кадров: с неверной CRC 0, неверной длины 0, "
              "наибольшая задержка ответа сверх пауз 0.0 мс");
}

} // namespace
} // namespace pelmbus
