// The window with real COM links to pelsim.exe under Wine: the
// link-and-form scenarios (LinkFormScenarios.h) over the COM backend, and
// the watchdog reconnecting once a killed server is back.
#include "AutomationErrors.h"
#include "AutomationObject.h"
#include "ComApartment.h"
#include "LinkFormScenarios.h"
#include "Pel_TLB.h"
#include "SimulatorControl.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace pelmbus;
using namespace pelmbus::testsupport;
namespace control = pelsim::control;

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t* const ServerOptions = L"--program server --period 0.1 --decimal-separator .";

struct ComStation {
    class Host : public FakeFormHost {
    public:
        std::unique_ptr<MeteringLink> CreateAutoPel() override {
            ++LinksMade;
            return std::make_unique<TAutomationObject>(Ids, MakeAutomationBackend());
        }
        void UseUnregisteredProgram() { Ids.ClassId = "{9772B945-0000-11D4-B307-000021D9F8FD}"; }
        LinkIdentifiers Ids = AutoPelIdentifiers;
        int LinksMade = 0;
    };

    // Under Wine the server's error object does not reach the caller: the
    // window shows the system's text of the failure code instead.
    static constexpr bool CarriesErrorText = false;
    static void SetUpSuite() {
        control::EndAllSimulators();
        ASSERT_EQ(control::RunSimulator(L"/UnregServer /Force"), 0);
        ASSERT_EQ(
            control::RunSimulator(L"/RegServer --no-events --decimal-separator . --lifetime 120"),
            0);
    }
    static void TearDownSuite() {
        control::EndAllSimulators();
        control::RunSimulator(L"/UnregServer");
    }

    ~ComStation() { control::EndAllSimulators(); }

    void Prepare(Host& host) { host.Format.DecimalSeparator = "."; }

    void StartServer(bool errorReplies) {
        std::wstring options = ServerOptions;
        if (errorReplies) {
            options += L" --error-replies";
        }
        ASSERT_TRUE(Simulator.Start(AutoPelIdentifiers, options));
    }

    // The link's events arrive on this thread's message loop.
    bool PumpUntilPosted(Host& host) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (host.Posted.empty() && Clock::now() < deadline) {
            MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
        }
        return !host.Posted.empty();
    }

    int CountServers() { return control::CountSimulators(); }

    control::SimulatorProcess Simulator;
};

} // namespace

namespace pelmbus::testsupport {
INSTANTIATE_TYPED_TEST_SUITE_P(LinkFormCom, LinkForm, ComStation);
} // namespace pelmbus::testsupport

namespace {

// COM alone: a killed pelsim.exe is not started again by the next call, as
// D-Bus activation would.
using ComForm = LinkForm<ComStation>;

TEST_F(ComForm, KilledServerStopsTheRefreshAndTheWatchdogReconnectsOnceItIsBack) {
    ASSERT_TRUE(Server.Simulator.Start(AutoPelIdentifiers,
                                       L"--program server --no-events --decimal-separator ."));
    Create(true);
    ASSERT_TRUE(Form.AutoPel && Form.AutoPel->Connected());
    Form.LastReportTick = 5;
    ASSERT_EQ(control::KillAllSimulators(), 1);

    Form.RunGuarded([this] { Form.WMMBusData(MBusDataRefresh, 0); });
    EXPECT_EQ(Host.Errors.size(), 1u) << "the automation error reaches the error report";
    EXPECT_EQ(Form.LastReportTick, 5u);

    ASSERT_TRUE(Server.Simulator.Start(AutoPelIdentifiers,
                                       L"--program server --no-events --decimal-separator ."));
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
