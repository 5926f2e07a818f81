// The window with real D-Bus links to pelsim: the link-and-form scenarios
// (LinkFormScenarios.h) over the D-Bus backend.
#include "AutomationObject.h"
#include "LinkFormScenarios.h"
#include "MeteringLink.h"
#include "Pel_TLB.h"
#include "SimulatorProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <memory>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

const QString ServerName = QStringLiteral("ru.pel.Pel");

struct DBusStation {
    class Host : public FakeFormHost {
    public:
        std::unique_ptr<MeteringLink> CreateAutoPel() override {
            ++LinksMade;
            return std::make_unique<TAutomationObject>(Ids, MakeAutomationBackend());
        }
        // No service file names it, so activation cannot start it.
        void UseUnregisteredProgram() { Ids.BusName = "ru.pel.test.Missing"; }
        LinkIdentifiers Ids = AutoPelIdentifiers;
        int LinksMade = 0;
    };

    static constexpr bool CarriesErrorText = true;
    static void SetUpSuite() {}
    static void TearDownSuite() {}

    ~DBusStation() { pelsim::StopNameOwner(ServerName, 3000); }

    void Prepare(Host&) {}

    void StartServer(bool errorReplies) {
        QStringList options{"--program", "server", "--period", "0.1"};
        if (errorReplies) {
            options << "--error-replies";
        }
        Simulator = std::make_unique<pelsim::SimulatorProcess>(options, ServerName);
        QString error;
        ASSERT_TRUE(Simulator->Start(error)) << error.toStdString();
    }

    // The link's signals arrive on the Qt loop.
    bool PumpUntilPosted(Host& host) {
        QElapsedTimer clock;
        clock.start();
        while (host.Posted.empty() && clock.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        return !host.Posted.empty();
    }

    int CountServers() { return pelsim::NameOwnerProcess(ServerName) != 0 ? 1 : 0; }

    std::unique_ptr<pelsim::SimulatorProcess> Simulator;
};

} // namespace

namespace pelmbus::testsupport {
INSTANTIATE_TYPED_TEST_SUITE_P(LinkFormDBus, LinkForm, DBusStation);
} // namespace pelmbus::testsupport
