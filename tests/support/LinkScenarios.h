// The metering link against pelsim, written once and run over each link
// backend (D-Bus with pelsim, COM with pelsim.exe under Wine): a running
// program used as it is, a program started for the command that needs it
// and for its own class only, events through the loop until the link lets
// go, a program nobody provides, an object without the link's interface, an
// error reply, a hung program, and a report refresh whose registers equal
// what the program served.
//
// A backend's station type gives:
//   static void SetUpSuite(); static void TearDownSuite();
//   void SetUp();                        no program runs (a fatal failure
//                                        when one cannot be ended)
//   void Start(const LinkIdentifiers& program, const std::vector<std::string>& options);
//                                        starts the program of that class
//                                        with pelsim's options and waits
//                                        until it serves (a fatal failure
//                                        when it does not); the one started
//                                        before ends first, the last with
//                                        the station
//   bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
//                                        runs the loop the link's events
//                                        arrive on until `done` holds
//   int CountPrograms();                 programs running, of either class
//   static LinkIdentifiers NobodyProvides();    the server's identifiers
//                                        with a class or name nobody provides
//   static LinkIdentifiers InterfaceNotServed();  the server's program with
//                                        an interface it does not serve
//   static constexpr std::string_view MissingProgramError;  the system
//                                        error's name for a program nobody
//                                        provides
//   static constexpr std::string_view FailedCallError;  the error's name
//                                        for an error reply
//   static constexpr bool CarriesErrorText;  whether the application's own
//                                        error text reaches the caller
//   TFormatSettings Format;              how programs the link starts
//                                        write their numbers
#pragma once

#include "AutomationErrors.h"
#include "ByteOrder.h"
#include "CltPel_TLB.h"
#include "InOutPort.h"
#include "LocaleNumbers.h"
#include "Pel_TLB.h"
#include "ReportRefresh.h"
#include "StationReplies.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>

namespace pelmbus::testsupport {

template <class Station> class Link : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Station::SetUpSuite(); }
    static void TearDownTestSuite() { Station::TearDownSuite(); }
    void SetUp() override { Server.SetUp(); }

    void PumpFor(int ms) {
        Server.PumpUntil([] { return false; }, ms);
    }
    uint16_t Register(const TInOutPort& port, int index) const {
        return LoadBigEndian16(&port.BufReg[2 * index]);
    }
    // A report refresh through `link`, numbers read as the programs write them.
    ReportSources SourcesOf(MeteringLink& link) {
        ReportSources sources;
        sources.DoCommand = [&link](const std::string& command) { return link.DoCommand(command); };
        sources.ManualEntries = &NoEntries;
        sources.Format = Server.Format;
        sources.GetTickCount = [] { return 777u; };
        return sources;
    }

    Station Server;
    const std::vector<std::string> NoEntries{};
};

TYPED_TEST_SUITE_P(Link);

TYPED_TEST_P(Link, RunningProgramIsUsedAsItIs) {
    // Eight-line replies tell this program from one the link would start.
    this->Server.Start(AutoPelIdentifiers,
                       {"--program", "server", "--no-events", "--reply-lines", "8"});
    TAutoPel link;
    link.Connect();
    link.Connect(); // a second connect changes nothing
    EXPECT_FALSE(link.StartedProgram());
    EXPECT_EQ(SplitTextLines(link.DoCommand("GetRepData 0 0 0")).size(), 8u);
    EXPECT_EQ(this->Server.CountPrograms(), 1);
}

TYPED_TEST_P(Link, NothingRunningSoTheCommandStartsTheServerProgramAndItsReportsParse) {
    TAutoPel link;
    ASSERT_FALSE(link.Connected());
    const std::string reply = link.DoCommand("GetRepData 0 2 1"); // connects first
    EXPECT_TRUE(link.Connected());
    EXPECT_TRUE(link.StartedProgram());
    EXPECT_EQ(this->Server.CountPrograms(), 1);

    const auto lines = SplitTextLines(reply);
    ASSERT_EQ(lines.size(), 14u) << reply;
    EXPECT_EQ(lines[0], "Отчет за прошедшую двухчасовку") << "Cyrillic crosses the link";
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d\d\.\d\d\.\d{4})"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d\d:\d\d:\d\d)"))) << lines[2];
    std::vector<double> values;
    for (size_t i = 3; i < 14; ++i) {
        values.push_back(StrToFloat(lines[i], this->Server.Format));
    }
    EXPECT_EQ(values[10], 7200.0) << "a finished two-hour interval lasts 7200 s";
    EXPECT_NEAR(values[7], values[5] * values[10] / 3600.0, 0.01) << "volume = flow x time";
}

TYPED_TEST_P(Link, ClientClassStartsTheClientProgramOnly) {
    TAutoCltPel link;
    link.Connect();
    EXPECT_TRUE(link.StartedProgram());
    EXPECT_EQ(this->Server.CountPrograms(), 1);
    EXPECT_EQ(SplitTextLines(link.DoCommand("GetRepData 0 3 1"))[0], "Отчет за прошедшую смену");
    // The server class is another program.
    TAutoPel server;
    server.Connect();
    EXPECT_TRUE(server.StartedProgram());
    EXPECT_EQ(this->Server.CountPrograms(), 2);
}

TYPED_TEST_P(Link, EventsArriveThroughTheLoopUntilTheLinkLetsGo) {
    this->Server.Start(AutoPelIdentifiers, {"--program", "server", "--period", "0.05"});
    std::vector<int32_t> inds;
    MeteringLink* sender = nullptr;
    bool onThisThread = true;
    const auto thisThread = std::this_thread::get_id();
    auto link = std::make_unique<TAutoPel>();
    link->OnRefreshData = [&](MeteringLink& from, int32_t ind) {
        inds.push_back(ind);
        sender = &from;
        onThisThread = onThisThread && std::this_thread::get_id() == thisThread;
    };
    link->Connect();
    EXPECT_TRUE(inds.empty()) << "no event outside the loop";
    ASSERT_TRUE(this->Server.PumpUntil([&] { return inds.size() >= 3; }, 5000));
    EXPECT_TRUE(onThisThread);
    EXPECT_EQ(sender, link.get());
    EXPECT_LT(inds[0], inds[1]) << "pelsim numbers its refreshes";

    link->Disconnect();
    this->PumpFor(100); // events already on their way before the disconnect
    const size_t afterDisconnect = inds.size();
    this->PumpFor(400);
    EXPECT_EQ(inds.size(), afterDisconnect) << "no events after a disconnect";

    // Connected again, then destroyed while connected: it stops listening.
    link->Connect();
    ASSERT_TRUE(this->Server.PumpUntil([&] { return inds.size() > afterDisconnect; }, 5000));
    link.reset();
    const size_t afterDestroy = inds.size();
    this->PumpFor(400);
    EXPECT_EQ(inds.size(), afterDestroy);
}

TYPED_TEST_P(Link, ProgramNobodyProvidesIsASystemErrorAndLeavesNothingRunning) {
    TAutomationObject link(TypeParam::NobodyProvides(), MakeAutomationBackend());
    try {
        link.Connect();
        FAIL() << "connected to a program nobody provides";
    } catch (const EAutomationSystemError& error) {
        EXPECT_EQ(error.ErrorName, TypeParam::MissingProgramError) << error.what();
    }
    EXPECT_FALSE(link.Connected());
    // A command needs the connection too, and fails the same way.
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationSystemError);
    EXPECT_EQ(this->Server.CountPrograms(), 0);
}

TYPED_TEST_P(Link, ObjectWithoutTheLinksInterfaceIsAnAutomationErrorAndUnsubscribes) {
    this->Server.Start(AutoPelIdentifiers, {"--program", "server", "--period", "0.05"});
    int events = 0;
    TAutomationObject link(TypeParam::InterfaceNotServed(), MakeAutomationBackend());
    link.OnRefreshData = [&](MeteringLink&, int32_t) { ++events; };
    EXPECT_THROW(link.Connect(), EAutomationError);
    EXPECT_FALSE(link.Connected());
    this->PumpFor(400);
    EXPECT_EQ(events, 0) << "nothing stays subscribed";
}

TYPED_TEST_P(Link, ErrorReplyIsAnAutomationErrorAndKeepsTheConnection) {
    this->Server.Start(AutoPelIdentifiers, {"--program", "server", "--error-replies"});
    TAutoPel link;
    try {
        link.DoCommand("GetRepData 0 0 0");
        FAIL() << "an error reply passed as a reply";
    } catch (const EAutomationError& error) {
        EXPECT_EQ(error.ErrorName, TypeParam::FailedCallError) << error.what();
        if (TypeParam::CarriesErrorText) {
            EXPECT_EQ(error.what(), pelsim::ArchiveBusyText);
        } else {
            EXPECT_STRNE(error.what(), "");
        }
    }
    EXPECT_TRUE(link.Connected()) << "a failed call keeps the connection";
    EXPECT_THROW(link.DoCommand("GetRepData 0 5 0"), EAutomationError) << "an unknown report";
}

TYPED_TEST_P(Link, HungProgramIsReportedAfterTheCallTimeOut) {
    // Hung for a while, not for good: it ends as asked once the test is over.
    this->Server.Start(AutoPelIdentifiers,
                       {"--program", "server", "--no-events", "--reply-delay", "2500"});
    TAutoPel link;
    link.CallTimeoutMs = 800;
    link.Connect();
    const auto start = std::chrono::steady_clock::now();
    try {
        link.DoCommand("GetRepData 0 0 0");
        FAIL() << "a reply came from a hung program";
    } catch (const EAutomationError& error) {
        EXPECT_NE(std::string(error.what()).find("не ответила за 800 мс"), std::string::npos)
            << error.what();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
}

TYPED_TEST_P(Link, RefreshFillsFloatsRegistersAndDatesAsServed) {
    // Without events pelsim's data stand still, so a second ask sees what
    // the refresh saw.
    this->Server.Start(AutoPelIdentifiers, {"--program", "server", "--no-events"});
    TAutoPel link;
    TInOutPort port; // all nine kinds selected
    const ReportSources sources = this->SourcesOf(link);
    uint32_t lastReportTick = 0;
    ReportRefresh(port, sources, lastReportTick);
    EXPECT_EQ(lastReportTick, 777u);

    const auto lines = SplitTextLines(link.DoCommand("GetRepData 0 0 0"));
    ASSERT_EQ(lines.size(), 14u);
    for (int i = 0; i < 11; ++i) {
        const float served = static_cast<float>(StrToFloat(lines[3 + i], sources.Format));
        EXPECT_EQ(port.BufFloat[i], served) << "float " << i;
        const uint32_t bits = std::bit_cast<uint32_t>(served);
        EXPECT_EQ(this->Register(port, 2 * i), bits >> 16) << "register " << 2 * i;
        EXPECT_EQ(this->Register(port, 2 * i + 1), bits & 0xFFFF) << "register " << 2 * i + 1;
    }
    EXPECT_EQ(this->Register(port, 250), std::stoi(lines[1].substr(6, 4)));
    EXPECT_EQ(this->Register(port, 251), std::stoi(lines[1].substr(3, 2)));
    EXPECT_EQ(this->Register(port, 252), std::stoi(lines[1].substr(0, 2)));
    EXPECT_EQ(this->Register(port, 253), std::stoi(lines[2].substr(0, 2)));
    EXPECT_EQ(this->Register(port, 254), std::stoi(lines[2].substr(3, 2)));
    EXPECT_EQ(this->Register(port, 255), std::stoi(lines[2].substr(6, 2)));
    EXPECT_EQ(port.BufFloat[87], 86400.0f) << "the past day lasted 86400 s";
}

TYPED_TEST_P(Link, ErrorReplyStopsTheRefreshAndKeepsTheLastReportTick) {
    this->Server.Start(AutoPelIdentifiers, {"--program", "server", "--error-replies"});
    TAutoPel link;
    TInOutPort port;
    uint32_t lastReportTick = 1234;
    EXPECT_THROW(ReportRefresh(port, this->SourcesOf(link), lastReportTick), EAutomationError);
    EXPECT_EQ(lastReportTick, 1234u);
    EXPECT_EQ(this->Register(port, 250), 0) << "no date written";
}

REGISTER_TYPED_TEST_SUITE_P(Link, RunningProgramIsUsedAsItIs,
                            NothingRunningSoTheCommandStartsTheServerProgramAndItsReportsParse,
                            ClientClassStartsTheClientProgramOnly,
                            EventsArriveThroughTheLoopUntilTheLinkLetsGo,
                            ProgramNobodyProvidesIsASystemErrorAndLeavesNothingRunning,
                            ObjectWithoutTheLinksInterfaceIsAnAutomationErrorAndUnsubscribes,
                            ErrorReplyIsAnAutomationErrorAndKeepsTheConnection,
                            HungProgramIsReportedAfterTheCallTimeOut,
                            RefreshFillsFloatsRegistersAndDatesAsServed,
                            ErrorReplyStopsTheRefreshAndKeepsTheLastReportTick);

} // namespace pelmbus::testsupport
