// The window with real COM links to pelsim.exe under Wine: the
// link-and-form scenarios (LinkFormScenarios.h) over the COM backend; the
// end of the session during a late reply stores the files and closes only
// after the refresh; the watchdog reconnects once a killed server is back.
// The Win32 view needs a display (tests/win32/with-xvfb.sh).
#include "ComApartment.h"
#include "ComStation.h"
#include "LinkFormScenarios.h"
#include "SimulatorControl.h"
#include "Win32FormView.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;
namespace control = pelsim::control;

namespace pelmbus::testsupport {
INSTANTIATE_TYPED_TEST_SUITE_P(LinkFormCom, LinkForm, ComStation);
} // namespace pelmbus::testsupport

namespace {

// COM's own cases: the end of a Windows session, and a killed pelsim.exe,
// which the next call does not start again as D-Bus activation would.
using ComForm = LinkForm<ComStation>;

// The session ends while the window waits for a reply (the end of session
// messages are sent ones, delivered inside that wait): both files are stored
// before WM_ENDSESSION returns, the refresh on the stack still finishes with
// the port and the link it uses, and the window closes once it has returned.
TEST_F(ComForm, EndOfSessionDuringAReplyStoresBothFilesAndClosesOnceTheRefreshReturns) {
    Server.Start(AutoPelIdentifiers,
                 {"--program", "server", "--no-events", "--reply-delay", "400"});
    Create(true);
    ASSERT_TRUE(Form.AutoPel && Form.AutoPel->Connected());
    TWin32FormView view(Form, GetModuleHandleW(nullptr));
    std::atomic<bool> refreshStarted{false};
    view.OnMBusData = [&](uintptr_t wParam, intptr_t lParam) {
        refreshStarted = true;
        Form.RunGuarded([&] { Form.WMMBusData(wParam, lParam); });
    };
    int closes = 0;
    view.OnClose = [&] {
        ++closes;
        Form.FormClose();
    };
    view.OnSessionEnd = [this](bool callOnStack) {
        if (callOnStack) {
            Form.SaveForSessionEnd();
        }
    };
    const auto config = testing_files::FsPath(Dir.Path + "CfgMBus.txt");
    const auto entries = testing_files::FsPath(Dir.Path + "RegData.mrd");
    std::filesystem::remove(config);
    std::filesystem::remove(entries);

    std::atomic<bool> storedInTime{false};
    std::atomic<bool> closedInTime{false};
    const HWND window = view.Window();
    // Seven reports of the selected kinds, each answered late: the session
    // ends while one of them is awaited (sent messages wait for that).
    std::thread session([&] {
        while (!refreshStarted) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        storedInTime = std::filesystem::exists(config) && std::filesystem::exists(entries);
        closedInTime = !IsWindow(window);
    });
    Host.Tick = 4242;
    PostMessageW(window, WM_MBUSDATA, MBusDataRefresh, 0);
    Server.PumpUntil([window] { return !IsWindow(window); }, 40000);
    session.join();
    EXPECT_TRUE(storedInTime) << "both files are stored inside WM_ENDSESSION";
    EXPECT_FALSE(closedInTime) << "nothing is released under the waiting refresh";
    EXPECT_TRUE(Host.Errors.empty()) << Host.Errors.front();
    EXPECT_EQ(Form.LastReportTick, 4242u) << "the refresh finished";
    EXPECT_FALSE(IsWindow(window)) << "the window closed once the refresh returned";
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(Form.InOutPort1);
}

TEST_F(ComForm, KilledServerStopsTheRefreshAndTheWatchdogReconnectsOnceItIsBack) {
    Server.Start(AutoPelIdentifiers, {"--program", "server", "--no-events"});
    Create(true);
    ASSERT_TRUE(Form.AutoPel && Form.AutoPel->Connected());
    Form.LastReportTick = 5;
    ASSERT_EQ(control::KillAllSimulators(), 1);

    Form.RunGuarded([this] { Form.WMMBusData(MBusDataRefresh, 0); });
    EXPECT_EQ(Host.Errors.size(), 1u) << "the automation error reaches the error report";
    EXPECT_EQ(Form.LastReportTick, 5u);

    Server.Start(AutoPelIdentifiers, {"--program", "server", "--no-events"});
    Host.Tick = 5 + 60001;
    Form.Timer1.Fire();
    EXPECT_EQ(Host.LinksMade, 2);
    ASSERT_TRUE(Form.AutoPel && Form.AutoPel->Connected());
    EXPECT_TRUE(Flag9());
    Host.Tick = 70000;
    Form.RunGuarded([this] { Form.WMMBusData(MBusDataRefresh, 0); });
    EXPECT_EQ(Host.Errors.size(), 1u);
    EXPECT_EQ(Form.LastReportTick, 70000u);
}

} // namespace

int main(int argc, char** argv) {
    ComApartment apartment;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
