// The receive thread's pauses on a clock whose wake-ups come late by amounts
// the test chooses: a pause never ends before its length has passed from
// the moment it started, whatever the pauses before it overran, and it adds
// nothing of its own beyond the wake-up's lateness. Only the response-delay
// pauses end precisely: a full output queue or a failing write is waited out
// asleep.
#include "FakeCommDevice.h"
#include "InOutPort.h"
#include "Looker.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

class LateWakingClock final : public TPauseClock {
public:
    struct Wait {
        TimePoint Start;
        TimePoint End;
    };

    TimePoint Now() override { return Time; }

    bool WaitUntil(std::condition_variable&, std::unique_lock<std::mutex>& lock, TimePoint due,
                   const std::function<bool()>& done, bool) override {
        EXPECT_TRUE(lock.owns_lock());
        if (done()) {
            return true;
        }
        const TimePoint start = Time;
        Time = std::max(Time, due);
        if (!Lateness.empty()) {
            Time += Lateness.front();
            Lateness.pop_front();
        }
        Waits.push_back({start, Time});
        return done();
    }

    TimePoint Time = TimePoint(1h);
    std::deque<std::chrono::microseconds> Lateness; // of the next wake-ups
    std::vector<Wait> Waits;
};

// Wake-ups that come `Lateness` late, as where timed waits count whole
// milliseconds (Windows, Wine). A plain wait ends that late; a precise one
// ends on time by checking the clock for the last `Lateness` of it, or all
// of it when it is shorter, and keeps the processor busy for that long.
class MillisecondWakeUpClock final : public TPauseClock {
public:
    TimePoint Now() override { return Time; }

    bool WaitUntil(std::condition_variable&, std::unique_lock<std::mutex>&, TimePoint due,
                   const std::function<bool()>& done, bool precise) override {
        if (done()) {
            return true;
        }
        const TimePoint start = std::max(Time, due);
        if (precise) {
            Busy += std::min<TimePoint::duration>(start - Time, Lateness);
            Time = start;
        } else {
            ++Sleeps;
            Time = start + Lateness;
        }
        if (AfterWait) {
            AfterWait();
        }
        return done();
    }

    TimePoint Time = TimePoint(1h);
    std::chrono::microseconds Lateness{1400};
    TimePoint::duration Busy{};
    int Sleeps = 0;
    std::function<void()> AfterWait;
};

std::shared_ptr<TLooker> MakeLooker(TPauseClock& clock) {
    return std::make_shared<TLooker>(nullptr, std::make_shared<TChannelSync>(), clock);
}

TEST(LookerPause, NoPauseIsShorterThanItsLengthAfterLateWakeUps) {
    // Late wake-ups around and beyond the 2 ms that once shortened the next
    // pause, on byte pauses of every short length; the reading between two
    // pauses takes a little time of its own.
    const std::vector<std::chrono::microseconds> late = {0us,    300us,  1000us, 1900us, 2000us,
                                                         2100us, 3000us, 40ms,   0us,    0us};
    for (const auto length : {1ms, 2ms, 3ms, 5ms, 20ms}) {
        SCOPED_TRACE(testing::Message() << "pause of " << length.count() << " ms");
        LateWakingClock clock;
        auto looker = MakeLooker(clock);
        for (int round = 0; round < 3; ++round) {
            clock.Lateness.insert(clock.Lateness.end(), late.begin(), late.end());
        }
        std::vector<std::chrono::microseconds> expectedLateness(clock.Lateness.begin(),
                                                                clock.Lateness.end());
        for (size_t i = 0; i < expectedLateness.size(); ++i) {
            EXPECT_TRUE(looker->ResponseDelay(length));
            clock.Time += 25us;
        }
        ASSERT_EQ(clock.Waits.size(), expectedLateness.size());
        for (size_t i = 0; i < clock.Waits.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "pause " << i);
            EXPECT_EQ(clock.Waits[i].End - clock.Waits[i].Start,
                      std::chrono::duration_cast<TPauseClock::TimePoint::duration>(
                          length + expectedLateness[i]));
        }
    }
}

TEST(LookerPause, OnTheSteadyClockNoPauseEndsEarly) {
    // The end of each pause is found by checking the clock: whatever the
    // wake-up did, the pause has lasted its length when it returns.
    auto looker = std::make_shared<TLooker>(nullptr, std::make_shared<TChannelSync>());
    for (int i = 0; i < 30; ++i) {
        const auto length = std::chrono::milliseconds(i % 3);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(i % 2 == 0 ? looker->ResponseDelay(length) : looker->Pause(length));
        EXPECT_GE(std::chrono::steady_clock::now() - start, length);
    }
}

TEST(LookerPause, StoppedLookerDoesNotPause) {
    LateWakingClock clock;
    auto looker = MakeLooker(clock);
    EXPECT_TRUE(looker->Pause(5ms));
    looker->Stop();
    const auto before = clock.Time;
    EXPECT_FALSE(looker->Pause(5ms));
    EXPECT_FALSE(looker->ResponseDelay(5ms));
    EXPECT_FALSE(looker->Pause(TLooker::CyclePause));
    EXPECT_EQ(clock.Time, before);
    EXPECT_EQ(clock.Waits.size(), 1u);
}

// Hardware flow control holds the line, or the device keeps failing its
// writes, while a response waits to go out. The thread runs on the test's
// thread, its events with it; the send event stops it. However long the line
// is held, the thread is busy only in the response-delay pauses of the
// request (eight bytes and one before the handling).
TEST(LookerPause, HeldLineIsWaitedOutAsleep) {
    const std::vector<uint8_t> request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
    for (const bool failingWrites : {false, true}) {
        SCOPED_TRACE(failingWrites ? "failing writes" : "full output queue");
        MillisecondWakeUpClock clock;
        auto line = std::make_shared<FakeLine>();
        TInOutPort port;
        port.DeviceFactory = [line] { return std::make_unique<FakeCommDevice>(line); };
        port.ZaderOtveta = 2;
        port.SetPortActive(true);
        ASSERT_TRUE(port.PortOpen);
        auto looker = std::make_shared<TLooker>(&port, std::make_shared<TChannelSync>(), clock);
        int sendEvents = 0;
        port.OnPeredDataReady = [&](TInOutPort&) {
            ++sendEvents;
            looker->Stop();
        };
        line->Receive(request);
        {
            std::lock_guard lock(line->Mutex);
            line->OutQueue = failingWrites ? 0 : 4096;
            line->FailingWrites = failingWrites ? -1 : 0;
        }
        // Failing writes are given up after about a second.
        const TPauseClock::TimePoint releasedAt = clock.Time + (failingWrites ? 800ms : 3s);
        clock.AfterWait = [&] {
            if (clock.Time >= releasedAt) {
                std::lock_guard lock(line->Mutex);
                line->OutQueue = 0;
                line->FailingWrites = 0;
            }
        };

        looker->Execute();

        EXPECT_EQ(sendEvents, 1);
        EXPECT_FALSE(port.PeredPending);
        {
            std::lock_guard lock(line->Mutex);
            EXPECT_EQ(line->Output.size(), 9u) << "the whole response went out";
        }
        EXPECT_GE(clock.Time, releasedAt);
        EXPECT_GT(clock.Sleeps, 10);
        EXPECT_LE(clock.Busy, 9 * clock.Lateness);
    }
}

} // namespace
