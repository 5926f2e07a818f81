// The metering link against pelsim on a private session bus (the test runs
// under dbus-run-session with the build tree's service files): activation,
// events, replies, error replies and time-outs as the window will meet them.
#include "AutomationErrors.h"
#include "ByteOrder.h"
#include "CltPel_TLB.h"
#include "InOutPort.h"
#include "LocaleNumbers.h"
#include "Pel_TLB.h"
#include "ReportRefresh.h"
#include "SimulatorProcess.h"
#include "SpinEventLoop.h"
#include "SystemServices.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <bit>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

const QString ServerName = QStringLiteral("ru.pel.Pel");
const QString ClientName = QStringLiteral("ru.pel.CltPel");

void SpinFor(int ms) {
    SpinUntil([] { return false; }, ms);
}

class DBusLink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pelsim::StopNameOwner(ServerName, 3000));
        ASSERT_TRUE(pelsim::StopNameOwner(ClientName, 3000));
    }
    // Simulators that activation started belong to no test: end them.
    void TearDown() override {
        pelsim::StopNameOwner(ServerName, 3000);
        pelsim::StopNameOwner(ClientName, 3000);
    }

    static void StartSimulator(pelsim::SimulatorProcess& simulator) {
        QString error;
        ASSERT_TRUE(simulator.Start(error)) << error.toStdString();
    }
};

TEST_F(DBusLink, ActivationStartsTheServerProgramAndItsReportsParse) {
    TAutoPel link;
    ASSERT_FALSE(link.Connected());
    // The command connects first.
    const std::string reply = link.DoCommand("GetRepData 0 2 1");
    EXPECT_TRUE(link.Connected());
    EXPECT_GT(pelsim::NameOwnerProcess(ServerName), 0);
    EXPECT_EQ(pelsim::NameOwnerProcess(ClientName), 0);

    const auto lines = SplitTextLines(reply);
    ASSERT_EQ(lines.size(), 14u) << reply;
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d\d\.\d\d\.\d{4})"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d\d:\d\d:\d\d)"))) << lines[2];
    std::vector<double> values;
    for (size_t i = 3; i < 14; ++i) {
        std::istringstream in(lines[i]);
        double value = 0;
        ASSERT_TRUE(in >> value && in.eof()) << "not a number: " << lines[i];
        values.push_back(value);
    }
    EXPECT_EQ(values[10], 7200.0) << "a finished two-hour interval lasts 7200 s";
    EXPECT_NEAR(values[7], values[5] * values[10] / 3600.0, 0.01) << "volume = flow x time";
}

TEST_F(DBusLink, ActivationStartsTheClientProgramOnly) {
    TAutoCltPel link;
    link.Connect();
    EXPECT_TRUE(link.Connected());
    EXPECT_TRUE(link.StartedProgram());
    EXPECT_GT(pelsim::NameOwnerProcess(ClientName), 0);
    EXPECT_EQ(pelsim::NameOwnerProcess(ServerName), 0);
    EXPECT_EQ(SplitTextLines(link.DoCommand("GetRepData 0 0 0")).size(), 14u);
}

TEST_F(DBusLink, RunningProgramIsUsedAsItIs) {
    pelsim::SimulatorProcess simulator({"--program", "server", "--no-events"}, ServerName);
    StartSimulator(simulator);
    TAutoPel link;
    link.Connect();
    link.Connect(); // a second connect changes nothing
    EXPECT_FALSE(link.StartedProgram());
    EXPECT_EQ(pelsim::NameOwnerProcess(ServerName), simulator.ProcessId());
    EXPECT_FALSE(link.DoCommand("GetRepData 0 4 0").empty());
}

TEST_F(DBusLink, NameWithoutServiceFileFailsWithinASecond) {
    LinkIdentifiers missing = AutoPelIdentifiers;
    missing.BusName = "ru.pel.test.Missing";
    TAutomationObject link(missing, MakeAutomationBackend());
    try {
        link.Connect();
        FAIL() << "connected to a name nobody provides";
    } catch (const EAutomationSystemError& error) {
        EXPECT_EQ(error.ErrorName, "org.freedesktop.DBus.Error.ServiceUnknown");
        EXPECT_NE(std::string(error.what()).find("ru.pel.test.Missing"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(link.Connected());
    // A command needs the connection too, and fails the same way.
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationSystemError);
}

TEST_F(DBusLink, ProgramThatCannotStartOrNeverTakesItsNameIsASystemError) {
    for (const char* name : {"ru.pel.test.Broken", "ru.pel.test.Hung"}) {
        LinkIdentifiers ids = AutoPelIdentifiers;
        ids.BusName = name;
        TAutomationObject link(ids, MakeAutomationBackend());
        // The private bus gives a program 1.5 s to take its name.
        EXPECT_THROW(link.Connect(), EAutomationSystemError) << name;
        EXPECT_FALSE(link.Connected());
    }
}

TEST_F(DBusLink, ObjectWithoutTheDefaultInterfaceIsAnAutomationError) {
    pelsim::SimulatorProcess simulator({"--program", "client", "--no-events"}, ClientName);
    StartSimulator(simulator);
    LinkIdentifiers ids = AutoCltPelIdentifiers;
    ids.Interface = AutoPelIdentifiers.Interface;
    TAutomationObject link(ids, MakeAutomationBackend());
    EXPECT_THROW(link.Connect(), EAutomationError);
    EXPECT_FALSE(link.Connected());
}

TEST_F(DBusLink, RefreshDataReachesOnRefreshDataUntilDisconnected) {
    pelsim::SimulatorProcess simulator({"--program", "server", "--period", "0.05"}, ServerName);
    StartSimulator(simulator);
    int events = 0;
    MeteringLink* sender = nullptr;
    std::vector<int32_t> inds;
    auto link = std::make_unique<TAutoPel>();
    link->OnRefreshData = [&](MeteringLink& from, int32_t ind) {
        ++events;
        sender = &from;
        inds.push_back(ind);
    };
    link->Connect();
    ASSERT_TRUE(SpinUntil([&] { return events >= 3; }, 3000));
    EXPECT_EQ(sender, link.get());
    EXPECT_LT(inds[0], inds[1]) << "pelsim numbers its refreshes";

    link->Disconnect();
    SpinFor(50); // events already queued before the disconnect
    const int afterDisconnect = events;
    SpinFor(300);
    EXPECT_EQ(events, afterDisconnect) << "no events after a disconnect";

    // Connected again, then destroyed while connected: it stops listening.
    link->Connect();
    ASSERT_TRUE(SpinUntil([&] { return events > afterDisconnect; }, 3000));
    link.reset();
    const int afterDestroy = events;
    SpinFor(300);
    EXPECT_EQ(events, afterDestroy);
}

TEST_F(DBusLink, ErrorReplyRaisesAnAutomationErrorWithItsMessage) {
    pelsim::SimulatorProcess simulator({"--program", "server", "--error-replies"}, ServerName);
    StartSimulator(simulator);
    TAutoPel link;
    try {
        link.DoCommand("GetRepData 0 0 0");
        FAIL() << "an error reply passed as a reply";
    } catch (const EAutomationError& error) {
        EXPECT_STREQ(error.what(), "Отчет недоступен: архив станции занят");
        EXPECT_EQ(error.ErrorName, "ru.pel.Error.Failed");
    }
    EXPECT_TRUE(link.Connected()) << "a failed call keeps the connection";
}

TEST_F(DBusLink, UnknownCommandIsRefused) {
    TAutoPel link;
    EXPECT_THROW(link.DoCommand("GetRepData 0 5 0"), EAutomationError);
}

TEST_F(DBusLink, HungApplicationIsReportedAfterTheCallTimeOut) {
    pelsim::SimulatorProcess simulator({"--program", "server", "--reply-delay", "3000"},
                                       ServerName);
    StartSimulator(simulator);
    TAutoPel link;
    link.CallTimeoutMs = 200;
    link.Connect();
    try {
        link.DoCommand("GetRepData 0 0 0");
        FAIL() << "a reply came from a hung application";
    } catch (const EAutomationError& error) {
        EXPECT_NE(std::string(error.what()).find("не ответила за 200 мс"), std::string::npos)
            << error.what();
    }
}

TEST_F(DBusLink, ShortRepliesHaveTheLinesAsked) {
    pelsim::SimulatorProcess simulator({"--program", "server", "--reply-lines", "8"}, ServerName);
    StartSimulator(simulator);
    TAutoPel link;
    EXPECT_EQ(SplitTextLines(link.DoCommand("GetRepData 0 0 0")).size(), 8u);
}

uint16_t Register(const TInOutPort& port, int index) {
    return LoadBigEndian16(&port.BufReg[2 * index]);
}

ReportSources LinkSources(MeteringLink& link, const std::vector<std::string>& entries) {
    ReportSources sources;
    sources.DoCommand = [&link](const std::string& command) { return link.DoCommand(command); };
    sources.ManualEntries = &entries;
    sources.Format = UserFormatSettings(); // pelsim writes with the same locale
    sources.GetTickCount = [] { return 777u; };
    return sources;
}

TEST_F(DBusLink, RefreshThroughTheLinkFillsFloatsRegistersAndDates) {
    // Without events pelsim's data stand still, so a second ask sees what the
    // refresh saw.
    pelsim::SimulatorProcess simulator({"--program", "server", "--no-events"}, ServerName);
    StartSimulator(simulator);
    TAutoPel link;
    TInOutPort port;
    const std::vector<std::string> entries;
    uint32_t lastReportTick = 0;
    ReportRefresh(port, LinkSources(link, entries), lastReportTick);
    EXPECT_EQ(lastReportTick, 777u);

    const auto lines = SplitTextLines(link.DoCommand("GetRepData 0 0 0"));
    ASSERT_EQ(lines.size(), 14u);
    for (int i = 0; i < 11; ++i) {
        const float served = static_cast<float>(StrToFloat(lines[3 + i], UserFormatSettings()));
        EXPECT_EQ(port.BufFloat[i], served) << "float " << i;
        const uint32_t bits = std::bit_cast<uint32_t>(served);
        EXPECT_EQ(Register(port, 2 * i), bits >> 16) << "register " << 2 * i;
        EXPECT_EQ(Register(port, 2 * i + 1), bits & 0xFFFF) << "register " << 2 * i + 1;
    }
    const std::string& date = lines[1];
    const std::string& time = lines[2];
    EXPECT_EQ(Register(port, 250), std::stoi(date.substr(6, 4)));
    EXPECT_EQ(Register(port, 251), std::stoi(date.substr(3, 2)));
    EXPECT_EQ(Register(port, 252), std::stoi(date.substr(0, 2)));
    EXPECT_EQ(Register(port, 253), std::stoi(time.substr(0, 2)));
    EXPECT_EQ(Register(port, 254), std::stoi(time.substr(3, 2)));
    EXPECT_EQ(Register(port, 255), std::stoi(time.substr(6, 2)));
    // The finished day: 86400 s in float 87, the last of kind 7.
    EXPECT_EQ(port.BufFloat[87], 86400.0f);
}

TEST_F(DBusLink, ErrorReplyStopsTheRefreshAndKeepsTheLastReportTick) {
    pelsim::SimulatorProcess simulator({"--program", "server", "--error-replies"}, ServerName);
    StartSimulator(simulator);
    TAutoPel link;
    TInOutPort port;
    const std::vector<std::string> entries;
    uint32_t lastReportTick = 1234;
    EXPECT_THROW(ReportRefresh(port, LinkSources(link, entries), lastReportTick), EAutomationError);
    EXPECT_EQ(lastReportTick, 1234u);
    EXPECT_EQ(Register(port, 250), 0) << "no date written";
}

// Run with DBUS_SESSION_BUS_ADDRESS pointing nowhere.
TEST(NoBus, UnreachableBusIsASystemError) {
    TAutoPel link;
    EXPECT_THROW(link.Connect(), EAutomationSystemError);
    EXPECT_FALSE(link.Connected());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
