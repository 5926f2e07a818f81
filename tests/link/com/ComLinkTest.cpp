// The COM metering link against pelsim.exe under Wine: the link scenarios
// (LinkScenarios.h) over the COM backend, and what only COM meets: a server
// that starts slowly, a server killed between two commands (the next call
// does not start it again as D-Bus activation would), the window's
// hand-overs while a server hangs, and a registration that never takes over
// another program's class.
#include "ComApartment.h"
#include "ComStation.h"
#include "LinkScenarios.h"
#include "WideText.h"
#include "Win32FormHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;
namespace control = pelsim::control;

namespace pelmbus::testsupport {
INSTANTIATE_TYPED_TEST_SUITE_P(Com, Link, ComStation);
} // namespace pelmbus::testsupport

namespace {

using Clock = std::chrono::steady_clock;
using ComLink = Link<ComStation>;

// A station's program that registers slowly at boot is started, not timed
// out: starting it waits as long as COM waits, beyond the connect time-out
// (shortened here from its 25 s), while the window's thread still runs the
// hand-overs. (Before any server
// is killed: Wine keeps the class object of a killed server for a while.)
TEST_F(ComLink, SlowStartingServerIsWaitedForBeyondTheCallTimeOut) {
    ASSERT_EQ(control::RunSimulator(L"/RegServer " + ComStation::RegisteredOptions +
                                    L" --register-delay 4"),
              0);
    // The window's host: its queue of hand-overs and their event.
    TWin32FormHost host;
    const std::unique_ptr<MeteringLink> hostLink = host.CreateAutoPel();
    auto& link = static_cast<TAutoPel&>(*hostLink);
    link.ConnectTimeoutMs = 2000;
    std::atomic<bool> handOverRan{false};
    std::thread receiveThread([&] {
        std::this_thread::sleep_for(1s);
        host.PostToMainThread([&] { handOverRan = true; });
    });
    const auto start = Clock::now();
    std::string reply;
    try {
        reply = link.DoCommand("GetRepData 0 0 0");
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
    const auto took = Clock::now() - start;
    receiveThread.join();
    ASSERT_EQ(control::RunSimulator(L"/RegServer " + ComStation::RegisteredOptions), 0);

    EXPECT_TRUE(link.Connected());
    EXPECT_EQ(SplitTextLines(reply).size(), 14u) << reply;
    EXPECT_GE(took, 3s) << "the server was up before the connect time-out";
    EXPECT_TRUE(handOverRan) << "the receive thread was served while the program started";
}

TEST_F(ComLink, KilledServerMakesTheNextCommandAnAutomationErrorAndTheLinkReconnectsOnceItIsBack) {
    Server.Start(AutoPelIdentifiers, {"--program", "server", "--no-events"});
    TAutoPel link;
    EXPECT_EQ(SplitTextLines(link.DoCommand("GetRepData 0 0 0")).size(), 14u);
    ASSERT_EQ(control::KillAllSimulators(), 1);
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationError);
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationError);

    // What the watchdog does once the program is back: disconnect (bounded,
    // the old server is gone) and connect again.
    Server.Start(AutoPelIdentifiers, {"--program", "server", "--no-events", "--reply-lines", "9"});
    link.Disconnect();
    link.Connect();
    EXPECT_EQ(SplitTextLines(link.DoCommand("GetRepData 0 0 0")).size(), 9u);
}

TEST_F(ComLink, HungServerGivesAnAutomationErrorWithinTheTimeOutWhileHandOversStillRun) {
    Server.Start(AutoPelIdentifiers,
                 {"--program", "server", "--no-events", "--reply-delay", "60000"});
    // The window's host: its queue of hand-overs and their event.
    TWin32FormHost host;
    const std::unique_ptr<MeteringLink> hostLink = host.CreateAutoPel();
    auto& link = static_cast<TAutoPel&>(*hostLink);
    link.CallTimeoutMs = 800;
    link.Connect();
    // A second link of the window's thread, connected before the server hangs.
    TAutoPel watcher;
    watcher.ConnectTimeoutMs = 1500; // its disconnect waits as long as its connect
    watcher.Connect();

    // The receive thread hands an event over while the main thread waits.
    const DWORD mainThread = GetCurrentThreadId();
    std::atomic<DWORD> handOverThread{0};
    Clock::time_point handOverRan{};
    std::thread receiveThread([&] {
        std::this_thread::sleep_for(200ms);
        host.PostToMainThread([&] {
            handOverThread = GetCurrentThreadId();
            handOverRan = Clock::now();
        });
    });

    const auto start = Clock::now();
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationError);
    const auto end = Clock::now();
    receiveThread.join();
    // Long before the server answers: the call ended on its time-out.
    const auto serverAnswers = start + 60s;
    EXPECT_GE(end - start, 700ms);
    EXPECT_LT(end, serverAnswers);
    EXPECT_EQ(handOverThread.load(), mainThread) << "the hand-over ran during the wait";
    EXPECT_LT(handOverRan, end);

    // The window's thread is free: the disconnect does not wait behind the
    // hung call; the worker unsubscribes once the server answers.
    link.Disconnect();
    EXPECT_LT(Clock::now(), serverAnswers);
    // The other link's unsubscribing meets the hung server: it gives up after
    // its time-out.
    watcher.Disconnect();
    EXPECT_LT(Clock::now(), serverAnswers);
}

// The value COM would start for the server class, from the machine's classes.
std::wstring ServerCommandLine() {
    const std::wstring key = L"Software\\Classes\\CLSID\\" +
                             WideFromUtf8(AutoPelIdentifiers.ClassId) + L"\\LocalServer32";
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return data;
}

void SetServerCommandLine(const std::wstring& value) {
    const std::wstring key = L"Software\\Classes\\CLSID\\" +
                             WideFromUtf8(AutoPelIdentifiers.ClassId) + L"\\LocalServer32";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

TEST_F(ComLink, RegistrationNeverTakesOverAClassOfAnotherProgramUnlessForced) {
    const std::wstring pelsimCommand = ServerCommandLine();
    ASSERT_NE(pelsimCommand.find(control::SimulatorPath()), std::wstring::npos);
    const std::wstring station = L"\"C:\\Pel\\Pel.exe\"";
    SetServerCommandLine(station);

    EXPECT_EQ(control::RunSimulator(L"/RegServer"), 3) << "refused";
    EXPECT_EQ(ServerCommandLine(), station);
    EXPECT_EQ(control::RunSimulator(L"/UnregServer"), 3) << "the station's class stays";
    EXPECT_EQ(ServerCommandLine(), station);

    EXPECT_EQ(control::RunSimulator(L"/RegServer /Force " + ComStation::RegisteredOptions), 0);
    EXPECT_EQ(ServerCommandLine(), pelsimCommand);
    // Its own registration is renewed without force.
    EXPECT_EQ(control::RunSimulator(L"/RegServer " + ComStation::RegisteredOptions), 0);
    EXPECT_EQ(ServerCommandLine(), pelsimCommand);
}

} // namespace

int main(int argc, char** argv) {
    ComApartment apartment;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
