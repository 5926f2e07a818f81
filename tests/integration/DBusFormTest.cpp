// The window with real D-Bus links to pelsim: a RefreshData signal becomes a
// code-230 message, and the refresh it runs fills the registers or stops with
// the error report.
#include "FakeFormHost.h"
#include "HostYear.h"
#include "Pel_TLB.h"
#include "SimulatorProcess.h"
#include "TextFile.h"
#include "UPelMBus.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

const QString ServerName = QStringLiteral("ru.pel.Pel");

class DBusHost : public FakeFormHost {
public:
    std::unique_ptr<MeteringLink> CreateAutoPel() override { return std::make_unique<TAutoPel>(); }
};

class DBusForm : public ::testing::Test {
protected:
    DBusForm() { Host.Directory = Dir.Path; }
    ~DBusForm() override {
        if (Form.InOutPort1) {
            Form.FormClose();
        }
        pelsim::StopNameOwner(ServerName, 3000);
    }

    void Start(const QStringList& simulatorOptions) {
        simulator_ = std::make_unique<pelsim::SimulatorProcess>(simulatorOptions, ServerName);
        QString error;
        ASSERT_TRUE(simulator_->Start(error)) << error.toStdString();
        ASSERT_TRUE(WriteTextLines(
            Dir.Path + "CfgMBus.txt",
            {"Соединение_с_сервером=true", "Настройка_COM_порта=/nonexistent/tty:9600,N,8,2"}));
        Form.RunGuarded([this] { Form.FormCreate(); });
        ASSERT_TRUE(Form.AutoPel);
        ASSERT_TRUE(Form.AutoPel->Connected());
    }

    // Runs the Qt loop, where the link's signals arrive, until a message is
    // posted to the window.
    bool WaitForPost(int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        while (Host.Posted.empty() && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        return !Host.Posted.empty();
    }

    uint16_t Register(int index) const {
        const auto& reg = Form.InOutPort1->BufReg;
        return static_cast<uint16_t>(reg[2 * index] << 8 | reg[2 * index + 1]);
    }

    TempDirectory Dir;
    DBusHost Host;
    TFPelMBus Form{Host};
    std::unique_ptr<pelsim::SimulatorProcess> simulator_;
};

} // namespace

TEST_F(DBusForm, RefreshDataBecomesACode230MessageAndARefreshThatFillsTheRegisters) {
    Start({"--program", "server", "--period", "0.1"});
    ASSERT_TRUE(WaitForPost(3000));
    EXPECT_EQ(Host.Posted.front().Id, WM_MBUSDATA);
    EXPECT_EQ(Host.Posted.front().WParam, MBusDataRefresh);
    Host.Tick = 123456;
    Host.DeliverMessages(Form);
    EXPECT_TRUE(Host.Errors.empty()) << Host.Errors.front();
    EXPECT_EQ(Form.LastReportTick, 123456u);
    EXPECT_EQ(Register(250), HostYear()) << "the year of the current values";
    EXPECT_GE(Register(292), HostYear() - 1) << "the year of the past day";
    EXPECT_LE(Register(292), HostYear()) << "the year of the past day";
    EXPECT_EQ(Form.InOutPort1->BufFloat[87], 86400.0f) << "the past day lasted 86400 s";
}

TEST_F(DBusForm, ErrorReplyStopsTheRefreshWithTheErrorReport) {
    Start({"--program", "server", "--period", "0.1", "--error-replies"});
    Form.LastReportTick = 5;
    ASSERT_TRUE(WaitForPost(3000));
    Host.Tick = 123456;
    Host.DeliverMessages(Form);
    ASSERT_FALSE(Host.Errors.empty());
    EXPECT_EQ(Host.Errors.front(), "Отчет недоступен: архив станции занят");
    EXPECT_EQ(Form.LastReportTick, 5u);
    EXPECT_EQ(Register(250), 0);
}
