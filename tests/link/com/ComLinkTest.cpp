// The COM metering link against pelsim.exe under Wine, as the window meets
// it: running-or-new for both classes, a server that starts slowly, replies with Cyrillic text,
// events through the message loop, a class nobody registered, a server killed between two commands,
// a hung server, and a report refresh whose registers equal what pelsim served.
#include "AutomationErrors.h"
#include "ByteOrder.h"
#include "CltPel_TLB.h"
#include "ComApartment.h"
#include "ComSupport.h"
#include "InOutPort.h"
#include "LocaleNumbers.h"
#include "Pel_TLB.h"
#include "ReportRefresh.h"
#include "SimulatorControl.h"
#include "TextFile.h"
#include "WideText.h"
#include "Win32FormHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <functional>
#include <regex>
#include <thread>

using namespace pelmbus;
using namespace std::chrono_literals;
namespace control = pelsim::control;

namespace {

using Clock = std::chrono::steady_clock;

// The start command COM uses when nothing runs: fast events, a point as
// the decimal separator, a bounded life.
const std::wstring RegisteredOptions = L"--period 0.2 --decimal-separator . --lifetime 120";

// Runs the thread's message loop, where the link's events arrive.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

class ComLink : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        control::EndAllSimulators();
        // Whatever an earlier run or another bitness left is removed first,
        // so that no leftover makes a test pass by mistake.
        ASSERT_EQ(control::RunSimulator(L"/UnregServer /Force"), 0);
        ASSERT_EQ(control::RunSimulator(L"/RegServer " + RegisteredOptions), 0);
    }
    static void TearDownTestSuite() {
        control::EndAllSimulators();
        control::RunSimulator(L"/UnregServer");
    }
    void SetUp() override { ASSERT_EQ(control::EndAllSimulators(), 0) << "a test left pelsim"; }
    void TearDown() override { control::EndAllSimulators(); }
};

std::vector<std::string> Lines(const std::string& reply) {
    return SplitTextLines(reply);
}

TEST_F(ComLink, RunningServerIsUsedAsItIs) {
    control::SimulatorProcess simulator;
    // Eight-line replies tell this simulator from one COM would start.
    ASSERT_TRUE(
        simulator.Start(AutoPelIdentifiers, L"--program server --no-events --reply-lines 8"));
    TAutoPel link;
    link.Connect();
    link.Connect(); // a second connect changes nothing
    EXPECT_FALSE(link.StartedProgram());
    EXPECT_EQ(Lines(link.DoCommand("GetRepData 0 0 0")).size(), 8u);
    EXPECT_EQ(control::CountSimulators(), 1);
}

TEST_F(ComLink, NothingRunningSoComStartsTheRegisteredServerAndItsReportsParse) {
    TAutoPel link;
    const std::string reply = link.DoCommand("GetRepData 0 2 1"); // connects first
    EXPECT_TRUE(link.Connected());
    EXPECT_TRUE(link.StartedProgram());
    EXPECT_EQ(control::CountSimulators(), 1);

    const auto lines = Lines(reply);
    ASSERT_EQ(lines.size(), 14u) << reply;
    EXPECT_EQ(lines[0], "Отчет за прошедшую двухчасовку") << "Cyrillic crosses as UTF-16";
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d\d\.\d\d\.\d{4})"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d\d:\d\d:\d\d)"))) << lines[2];
    TFormatSettings point;
    point.DecimalSeparator = ".";
    EXPECT_EQ(StrToFloat(lines[13], point), 7200.0) << "a finished two-hour interval";
}

// A station's program that registers slowly at boot is started, not timed
// out: starting it waits as long as COM waits, beyond the call time-out,
// while the window's thread still runs the hand-overs. (Before any server
// is killed: Wine keeps the class object of a killed server for a while.)
TEST_F(ComLink, SlowStartingServerIsWaitedForBeyondTheCallTimeOut) {
    ASSERT_EQ(control::RunSimulator(L"/RegServer " + RegisteredOptions + L" --register-delay 27"),
              0);
    // The window's host: its queue of hand-overs and their event.
    TWin32FormHost host;
    const std::unique_ptr<MeteringLink> hostLink = host.CreateAutoPel();
    auto& link = static_cast<TAutoPel&>(*hostLink);
    ASSERT_EQ(link.ConnectTimeoutMs, 25000);
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
    ASSERT_EQ(control::RunSimulator(L"/RegServer " + RegisteredOptions), 0);

    EXPECT_TRUE(link.Connected());
    EXPECT_EQ(Lines(reply).size(), 14u) << reply;
    EXPECT_GE(took, 26s) << "the server was up before the call time-out";
    EXPECT_TRUE(handOverRan) << "the receive thread was served while the program started";
}

TEST_F(ComLink, ClientClassIsTheClientProgramRunningOrNew) {
    {
        TAutoCltPel link;
        EXPECT_EQ(Lines(link.DoCommand("GetRepData 0 3 1"))[0], "Отчет за прошедшую смену");
        EXPECT_EQ(control::CountSimulators(), 1);
        // The server class is another object: COM starts a second program.
        TAutoPel server;
        server.Connect();
        EXPECT_EQ(control::CountSimulators(), 2);
    }
    control::EndAllSimulators();
    control::SimulatorProcess simulator;
    ASSERT_TRUE(
        simulator.Start(AutoCltPelIdentifiers, L"--program client --no-events --reply-lines 5"));
    TAutoCltPel link;
    EXPECT_EQ(Lines(link.DoCommand("GetRepData 0 0 0")).size(), 5u);
}

TEST_F(ComLink, EventsArriveThroughTheMessageLoopUntilDisconnected) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(simulator.Start(AutoPelIdentifiers, L"--program server --period 0.05"));
    std::vector<int32_t> inds;
    bool onMainThread = true;
    const DWORD mainThread = GetCurrentThreadId();
    auto link = std::make_unique<TAutoPel>();
    MeteringLink* sender = nullptr;
    link->OnRefreshData = [&](MeteringLink& from, int32_t ind) {
        inds.push_back(ind);
        sender = &from;
        onMainThread = onMainThread && GetCurrentThreadId() == mainThread;
    };
    link->Connect();
    EXPECT_TRUE(inds.empty()) << "no event outside the loop";
    ASSERT_TRUE(PumpUntil([&] { return inds.size() >= 3; }, 5000));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(sender, link.get());
    EXPECT_LT(inds[0], inds[1]) << "pelsim numbers its refreshes";

    link->Disconnect();
    PumpFor(100);
    const size_t afterDisconnect = inds.size();
    PumpFor(400);
    EXPECT_EQ(inds.size(), afterDisconnect) << "no events after a disconnect";

    // Connected again, then destroyed while connected: it stops listening.
    link->Connect();
    ASSERT_TRUE(PumpUntil([&] { return inds.size() > afterDisconnect; }, 5000));
    link.reset();
    const size_t afterDestroy = inds.size();
    PumpFor(400);
    EXPECT_EQ(inds.size(), afterDestroy);
}

TEST_F(ComLink, UnregisteredClassIsASystemErrorAndLeavesNothingRunning) {
    LinkIdentifiers missing = AutoPelIdentifiers;
    missing.ClassId = "{9772B945-0000-11D4-B307-000021D9F8FD}";
    TAutomationObject link(missing, MakeAutomationBackend());
    try {
        link.Connect();
        FAIL() << "connected to a class nobody registered";
    } catch (const EAutomationSystemError& error) {
        EXPECT_EQ(error.ErrorName, "0x80040154") << error.what(); // REGDB_E_CLASSNOTREG
    }
    EXPECT_FALSE(link.Connected());
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationSystemError);
    EXPECT_EQ(control::CountSimulators(), 0);
}

TEST_F(ComLink, ObjectWithoutTheDefaultInterfaceIsAnAutomationErrorAndUnsubscribes) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(simulator.Start(AutoPelIdentifiers, L"--program server --period 0.05"));
    LinkIdentifiers ids = AutoPelIdentifiers;
    ids.InterfaceId = AutoCltPelIdentifiers.InterfaceId; // not served by the server class
    int events = 0;
    TAutomationObject link(ids, MakeAutomationBackend());
    link.OnRefreshData = [&](MeteringLink&, int32_t) { ++events; };
    EXPECT_THROW(link.Connect(), EAutomationError);
    EXPECT_FALSE(link.Connected());
    PumpFor(400);
    EXPECT_EQ(events, 0) << "nothing stays subscribed";
}

TEST_F(ComLink, ErrorReplyIsAnAutomationErrorAndKeepsTheConnection) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(simulator.Start(AutoPelIdentifiers, L"--program server --error-replies"));
    TAutoPel link;
    try {
        link.DoCommand("GetRepData 0 0 0");
        FAIL() << "an error passed as a reply";
    } catch (const EAutomationError& error) {
        EXPECT_EQ(error.ErrorName, "0x80004005") << error.what(); // E_FAIL
        EXPECT_FALSE(std::string(error.what()).empty());
    }
    EXPECT_TRUE(link.Connected());
}

TEST_F(ComLink, KilledServerMakesTheNextCommandAnAutomationErrorAndTheLinkReconnectsOnceItIsBack) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(simulator.Start(AutoPelIdentifiers, L"--program server --no-events"));
    TAutoPel link;
    EXPECT_EQ(Lines(link.DoCommand("GetRepData 0 0 0")).size(), 14u);
    ASSERT_EQ(control::KillAllSimulators(), 1);
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationError);
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationError);

    // What the watchdog does once the program is back: disconnect (bounded,
    // the old server is gone) and connect again.
    ASSERT_TRUE(
        simulator.Start(AutoPelIdentifiers, L"--program server --no-events --reply-lines 9"));
    link.Disconnect();
    link.Connect();
    EXPECT_EQ(Lines(link.DoCommand("GetRepData 0 0 0")).size(), 9u);
}

TEST_F(ComLink, HungServerGivesAnAutomationErrorWithinTheTimeOutWhileHandOversStillRun) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(
        simulator.Start(AutoPelIdentifiers, L"--program server --no-events --reply-delay 60000"));
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
    try {
        link.DoCommand("GetRepData 0 0 0");
        FAIL() << "a reply came from a hung server";
    } catch (const EAutomationError& error) {
        EXPECT_NE(std::string(error.what()).find("не ответила за 800 мс"), std::string::npos)
            << error.what();
    }
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

    EXPECT_EQ(control::RunSimulator(L"/RegServer /Force " + RegisteredOptions), 0);
    EXPECT_EQ(ServerCommandLine(), pelsimCommand);
    // Its own registration is renewed without force.
    EXPECT_EQ(control::RunSimulator(L"/RegServer " + RegisteredOptions), 0);
    EXPECT_EQ(ServerCommandLine(), pelsimCommand);
}

uint16_t Register(const TInOutPort& port, int index) {
    return LoadBigEndian16(&port.BufReg[2 * index]);
}

TEST_F(ComLink, RefreshThroughTheLinkFillsFloatsRegistersAndDatesAsServed) {
    // Without events pelsim's data stand still, so a second ask sees what
    // the refresh saw.
    control::SimulatorProcess simulator;
    ASSERT_TRUE(
        simulator.Start(AutoPelIdentifiers, L"--program server --no-events --decimal-separator ,"));
    TAutoPel link;
    TInOutPort port; // all nine kinds selected
    const std::vector<std::string> entries;
    ReportSources sources;
    sources.DoCommand = [&link](const std::string& command) { return link.DoCommand(command); };
    sources.ManualEntries = &entries;
    sources.Format.DecimalSeparator = ",";
    sources.GetTickCount = [] { return 777u; };
    uint32_t lastReportTick = 0;
    ReportRefresh(port, sources, lastReportTick);
    EXPECT_EQ(lastReportTick, 777u);

    const auto lines = Lines(link.DoCommand("GetRepData 0 0 0"));
    ASSERT_EQ(lines.size(), 14u);
    for (int i = 0; i < 11; ++i) {
        const float served = static_cast<float>(StrToFloat(lines[3 + i], sources.Format));
        EXPECT_EQ(port.BufFloat[i], served) << "float " << i;
        const uint32_t bits = std::bit_cast<uint32_t>(served);
        EXPECT_EQ(Register(port, 2 * i), bits >> 16) << "register " << 2 * i;
        EXPECT_EQ(Register(port, 2 * i + 1), bits & 0xFFFF) << "register " << 2 * i + 1;
    }
    EXPECT_EQ(Register(port, 250), std::stoi(lines[1].substr(6, 4)));
    EXPECT_EQ(Register(port, 251), std::stoi(lines[1].substr(3, 2)));
    EXPECT_EQ(Register(port, 252), std::stoi(lines[1].substr(0, 2)));
    EXPECT_EQ(Register(port, 253), std::stoi(lines[2].substr(0, 2)));
    EXPECT_EQ(Register(port, 254), std::stoi(lines[2].substr(3, 2)));
    EXPECT_EQ(Register(port, 255), std::stoi(lines[2].substr(6, 2)));
    EXPECT_EQ(port.BufFloat[87], 86400.0f) << "the past day lasted 86400 s";
}

} // namespace

int main(int argc, char** argv) {
    ComApartment apartment;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
