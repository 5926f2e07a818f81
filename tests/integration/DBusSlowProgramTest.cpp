// The metering link with a program that is slow but alive: a start-up that
// takes a while, a command that takes seconds, and what the main thread does
// while it waits for a reply.
#include "AutomationErrors.h"
#include "HandOverQueue.h"
#include "Pel_TLB.h"
#include "SimulatorProcess.h"
#include "SpinEventLoop.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const QString ServerName = QStringLiteral("ru.pel.Pel");
// Its service starts pelsim one second late (see the test bus's services).
const QString SlowStartName = QStringLiteral("ru.pel.test.SlowStart");

class SlowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pelsim::StopNameOwner(ServerName, 3000));
        ASSERT_TRUE(pelsim::StopNameOwner(SlowStartName, 3000));
    }
    void TearDown() override {
        pelsim::StopNameOwner(ServerName, 3000);
        pelsim::StopNameOwner(SlowStartName, 3000);
    }
    void StartSimulator(const QStringList& options) {
        simulator_ = std::make_unique<pelsim::SimulatorProcess>(options, ServerName);
        QString error;
        ASSERT_TRUE(simulator_->Start(error)) << error.toStdString();
    }
    std::unique_ptr<pelsim::SimulatorProcess> simulator_;
};

TEST_F(SlowProgram, StartUpWaitsAsLongAsTheBusAllowsWhateverTheCallTimeOut) {
    LinkIdentifiers ids = AutoPelIdentifiers;
    ids.BusName = "ru.pel.test.SlowStart";
    TAutomationObject link(ids, MakeAutomationBackend());
    // Far shorter than the start-up: it bounds the calls to a running
    // program, not its start.
    link.ConnectTimeoutMs = 300;
    const auto start = Clock::now();
    EXPECT_NO_THROW(link.Connect());
    EXPECT_TRUE(link.Connected());
    EXPECT_GE(Clock::now() - start, milliseconds(900)) << "the program was not started slowly";
}

TEST_F(SlowProgram, CommandGetsTheBusUsualTimeOutAndAHungProgramStaysAnAutomationError) {
    StartSimulator({"--program", "server", "--no-events", "--reply-delay", "5500"});
    TAutoPel link;
    link.Connect();
    const auto lines = SplitTextLines(link.DoCommand("GetRepData 0 0 0"));
    EXPECT_EQ(lines.size(), 14u) << "a report that took 5.5 s to build";

    link.CallTimeoutMs = 300;
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationError);
    EXPECT_TRUE(link.Connected());
}

TEST_F(SlowProgram, WaitForAReplyRunsTheHandOversAndNothingElse) {
    StartSimulator({"--program", "server", "--period", "0.05", "--reply-delay", "1000"});
    THandOverQueue handOvers;
    TAutoPel link(MakeAutomationBackend(&handOvers));
    int events = 0;
    link.OnRefreshData = [&](MeteringLink&, int32_t) { ++events; };
    link.Connect();
    ASSERT_TRUE(SpinUntil([&] { return events > 0; }, 3000));

    // A stand-in receive thread hands over work every 20 ms while the main
    // thread waits; the window's loop has an event of its own queued.
    std::atomic<bool> waiting{true};
    int handOversRun = 0;
    std::thread receiver([&] {
        while (waiting) {
            handOvers.Post([&] { ++handOversRun; });
            std::this_thread::sleep_for(milliseconds(20));
        }
    });
    bool loopEventRan = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { loopEventRan = true; }, Qt::QueuedConnection);
    const int eventsBefore = events;

    const auto lines = SplitTextLines(link.DoCommand("GetRepData 0 0 0"));
    waiting = false;
    receiver.join();
    EXPECT_EQ(lines.size(), 14u);
    EXPECT_GE(handOversRun, 20) << "hand-overs waited for the reply";
    EXPECT_FALSE(loopEventRan) << "the wait ran the window's own events";
    EXPECT_EQ(events, eventsBefore) << "the wait delivered data events";

    handOvers.RunPending();
    EXPECT_TRUE(SpinUntil([&] { return loopEventRan && events > eventsBefore; }, 3000));
}

} // namespace
