// The window with real COM links to pelsim.exe under Wine: a RefreshData
// event becomes a code-230 message and a refresh that fills the registers;
// the end of the session during a late reply stores the files and closes
// only after the refresh; a program nobody registered leaves the box
// unticked without a message; the watchdog reconnects once a killed server
// is back. The Win32 view needs a display (tests/win32/with-xvfb.sh).
#include "AutomationErrors.h"
#include "ComApartment.h"
#include "FakeFormHost.h"
#include "HostYear.h"
#include "Pel_TLB.h"
#include "SimulatorControl.h"
#include "TextFile.h"
#include "UPelMBus.h"
#include "Win32FormView.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;
namespace control = pelsim::control;

namespace {

using Clock = std::chrono::steady_clock;

class ComHost : public FakeFormHost {
public:
    std::unique_ptr<MeteringLink> CreateAutoPel() override {
        ++LinksMade;
        return std::make_unique<TAutomationObject>(Ids, MakeAutomationBackend());
    }
    LinkIdentifiers Ids = AutoPelIdentifiers;
    int LinksMade = 0;
};

class ComForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        control::EndAllSimulators();
        ASSERT_EQ(control::RunSimulator(L"/UnregServer /Force"), 0);
        ASSERT_EQ(
            control::RunSimulator(L"/RegServer --no-events --decimal-separator . --lifetime 120"),
            0);
    }
    static void TearDownTestSuite() {
        control::EndAllSimulators();
        control::RunSimulator(L"/UnregServer");
    }

    ComForm() {
        Host.Directory = Dir.Path;
        Host.Format.DecimalSeparator = ".";
    }
    ~ComForm() override {
        if (Form.InOutPort1) {
            Form.FormClose();
        }
        control::EndAllSimulators();
    }

    void Create(bool connect) {
        ASSERT_TRUE(
            WriteTextLines(Dir.Path + "CfgMBus.txt",
                           {connect ? "Соединение_с_сервером=true" : "Соединение_с_сервером=false",
                            "Настройка_COM_порта=COM99:9600,N,8,2"}));
        Form.RunGuarded([this] { Form.FormCreate(); });
    }

    // Runs the thread's message loop, where the link's events arrive, until
    // the window has a message.
    bool PumpUntilPosted(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Host.Posted.empty() && Clock::now() < deadline) {
            MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
        }
        return !Host.Posted.empty();
    }

    bool Flag9() const { return Form.InOutPort1->DataFlags[9] != 0; }
    uint16_t Register(int index) const {
        const auto& reg = Form.InOutPort1->BufReg;
        return static_cast<uint16_t>(reg[2 * index] << 8 | reg[2 * index + 1]);
    }

    TempDirectory Dir;
    ComHost Host;
    TFPelMBus Form{Host};
};

TEST_F(ComForm, RefreshDataBecomesACode230MessageAndARefreshThatFillsTheRegisters) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(simulator.Start(AutoPelIdentifiers,
                                L"--program server --period 0.1 --decimal-separator ."));
    Create(true);
    ASSERT_TRUE(Form.AutoPel && Form.AutoPel->Connected());
    EXPECT_TRUE(Form.CheckBox1.Checked());

    ASSERT_TRUE(PumpUntilPosted(5000));
    EXPECT_EQ(Host.Posted.front().Id, WM_MBUSDATA);
    EXPECT_EQ(Host.Posted.front().WParam, MBusDataRefresh);
    Host.Tick = 123456;
    Host.DeliverMessages(Form);
    EXPECT_TRUE(Host.Errors.empty()) << Host.Errors.front();
    EXPECT_EQ(Form.LastReportTick, 123456u);
    EXPECT_EQ(Register(250), HostYear()) << "the year of the current values";
    EXPECT_EQ(Form.InOutPort1->BufFloat[87], 86400.0f) << "the past day lasted 86400 s";
}

// The session ends while the window waits for a reply (the end of session
// messages are sent ones, delivered inside that wait): both files are stored
// before WM_ENDSESSION returns, the refresh on the stack still finishes with
// the port and the link it uses, and the window closes once it has returned.
TEST_F(ComForm, EndOfSessionDuringAReplyStoresBothFilesAndClosesOnceTheRefreshReturns) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(
        simulator.Start(AutoPelIdentifiers, L"--program server --no-events --reply-delay 1500"));
    Create(true);
    ASSERT_TRUE(Form.AutoPel && Form.AutoPel->Connected());
    TWin32FormView view(Form, GetModuleHandleW(nullptr));
    view.OnMBusData = [this](uintptr_t wParam, intptr_t lParam) {
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
    std::thread session([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        storedInTime = std::filesystem::exists(config) && std::filesystem::exists(entries);
        closedInTime = !IsWindow(window);
    });
    Host.Tick = 4242;
    PostMessageW(window, WM_MBUSDATA, MBusDataRefresh, 0);
    // Seven reports of the selected kinds, each answered late.
    const auto deadline = Clock::now() + std::chrono::seconds(40);
    while (IsWindow(window) && Clock::now() < deadline) {
        MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    session.join();
    EXPECT_TRUE(storedInTime) << "both files are stored inside WM_ENDSESSION";
    EXPECT_FALSE(closedInTime) << "nothing is released under the waiting refresh";
    EXPECT_TRUE(Host.Errors.empty()) << Host.Errors.front();
    EXPECT_EQ(Form.LastReportTick, 4242u) << "the refresh finished";
    EXPECT_FALSE(IsWindow(window)) << "the window closed once the refresh returned";
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(Form.InOutPort1);
}

TEST_F(ComForm, ProgramNotRegisteredLeavesTheBoxUntickedWithoutAMessage) {
    Host.Ids.ClassId = "{9772B945-0000-11D4-B307-000021D9F8FD}";
    Create(false);
    Form.CheckBox1.UserClick();
    EXPECT_FALSE(Form.CheckBox1.Checked());
    EXPECT_FALSE(Flag9());
    EXPECT_FALSE(Form.AutoPel);
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_TRUE(Host.Errors.empty());

    Host.Tick = 10 * 60000;
    Form.Timer1.Fire();
    EXPECT_EQ(Host.LinksMade, 1) << "the watchdog makes no attempt";
    EXPECT_EQ(control::CountSimulators(), 0);
}

TEST_F(ComForm, KilledServerStopsTheRefreshAndTheWatchdogReconnectsOnceItIsBack) {
    control::SimulatorProcess simulator;
    ASSERT_TRUE(
        simulator.Start(AutoPelIdentifiers, L"--program server --no-events --decimal-separator ."));
    Create(true);
    ASSERT_TRUE(Form.AutoPel && Form.AutoPel->Connected());
    Form.LastReportTick = 5;
    ASSERT_EQ(control::KillAllSimulators(), 1);

    Form.RunGuarded([this] { Form.WMMBusData(MBusDataRefresh, 0); });
    EXPECT_EQ(Host.Errors.size(), 1u) << "the automation error reaches the error report";
    EXPECT_EQ(Form.LastReportTick, 5u);

    ASSERT_TRUE(
        simulator.Start(AutoPelIdentifiers, L"--program server --no-events --decimal-separator ."));
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
