// The window with a metering link, written once and run over each link
// backend: a station model behind a fake link, D-Bus with pelsim, COM with
// pelsim.exe. A RefreshData event becomes a code-230 message and a refresh
// that fills the registers; an error reply stops the refresh with the error
// report; without the setting no link is made until the operator ticks the
// box, and unticking it drops the link; a program nobody registered leaves
// the box unticked without a message and without watchdog attempts.
//
// A backend's station type gives what the link scenarios (LinkScenarios.h)
// ask of it, as far as the window needs it: SetUpSuite, TearDownSuite,
// Start, PumpUntil, CountPrograms and CarriesErrorText, and
//   using Host = ...;  a FakeFormHost whose CreateAutoPel makes the
//                      backend's link, counting them in LinksMade;
//                      UseUnregisteredProgram() points it at a program
//                      nobody registered (AutomationFormHost for a real
//                      backend)
//   void Prepare(Host&);                  before the window exists
#pragma once

#include "ByteOrder.h"
#include "FakeFormHost.h"
#include "HostYear.h"
#include "Pel_TLB.h"
#include "StationReplies.h"
#include "TextFile.h"
#include "UPelMBus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelmbus::testsupport {

template <class Station> class LinkForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Station::SetUpSuite(); }
    static void TearDownTestSuite() { Station::TearDownSuite(); }

    LinkForm() {
        Host.Directory = Dir.Path;
        Server.Prepare(Host);
    }
    ~LinkForm() override {
        if (Form.InOutPort1) {
            Form.FormClose();
        }
    }

    // Settings that keep the serial port shut.
    void Create(bool connect) {
        ASSERT_TRUE(
            WriteTextLines(Dir.Path + "CfgMBus.txt",
                           {connect ? "Соединение_с_сервером=true" : "Соединение_с_сервером=false",
                            "Настройка_COM_порта=COM99:9600,N,8,2"}));
        Form.RunGuarded([this] { Form.FormCreate(); });
        ASSERT_TRUE(Form.InOutPort1);
    }

    // A server program that raises RefreshData every 0.1 s.
    void StartServer(bool errorReplies) {
        std::vector<std::string> options{"--program", "server", "--period", "0.1"};
        if (errorReplies) {
            options.push_back("--error-replies");
        }
        Server.Start(AutoPelIdentifiers, options);
    }
    // Runs the loop the link's events arrive on until the window has a
    // message.
    bool PumpUntilPosted() {
        return Server.PumpUntil([this] { return !Host.Posted.empty(); }, 30000);
    }
    bool Flag9() const { return Form.InOutPort1->DataFlags[9]; }
    uint16_t Register(int index) const {
        return LoadBigEndian16(&Form.InOutPort1->BufReg[2 * index]);
    }

    TempDirectory Dir;
    Station Server;
    typename Station::Host Host;
    TFPelMBus Form{Host};
};

TYPED_TEST_SUITE_P(LinkForm);

TYPED_TEST_P(LinkForm, RefreshDataBecomesACode230MessageAndARefreshThatFillsTheRegisters) {
    this->StartServer(false);
    this->Create(true);
    ASSERT_TRUE(this->Form.AutoPel && this->Form.AutoPel->Connected());
    EXPECT_TRUE(this->Form.CheckBox1.Checked());

    ASSERT_TRUE(this->PumpUntilPosted());
    EXPECT_EQ(this->Host.Posted.front().Id, WM_MBUSDATA);
    EXPECT_EQ(this->Host.Posted.front().WParam, MBusDataRefresh);
    this->Host.Tick = 123456;
    this->Host.DeliverMessages(this->Form);
    EXPECT_TRUE(this->Host.Errors.empty()) << this->Host.Errors.front();
    EXPECT_EQ(this->Form.LastReportTick, 123456u);
    EXPECT_EQ(this->Register(250), HostYear()) << "the year of the current values";
    EXPECT_GE(this->Register(292), HostYear() - 1) << "the year of the past day";
    EXPECT_LE(this->Register(292), HostYear()) << "the year of the past day";
    EXPECT_EQ(this->Form.InOutPort1->BufFloat[87], 86400.0f) << "the past day lasted 86400 s";
}

TYPED_TEST_P(LinkForm, ErrorReplyStopsTheRefreshWithTheErrorReport) {
    this->StartServer(true);
    this->Create(true);
    this->Form.LastReportTick = 5;
    ASSERT_TRUE(this->PumpUntilPosted());
    this->Host.Tick = 123456;
    this->Host.DeliverMessages(this->Form);
    ASSERT_FALSE(this->Host.Errors.empty());
    if (TypeParam::CarriesErrorText) {
        EXPECT_EQ(this->Host.Errors.front(), pelsim::ArchiveBusyText);
    } else {
        EXPECT_FALSE(this->Host.Errors.front().empty());
    }
    EXPECT_EQ(this->Form.LastReportTick, 5u);
    EXPECT_EQ(this->Register(250), 0);
}

TYPED_TEST_P(LinkForm, StartWithoutTheFlagMakesNoLinkAndTheOperatorConnectsAndDisconnects) {
    this->StartServer(false);
    this->Create(false);
    EXPECT_EQ(this->Host.LinksMade, 0);
    EXPECT_FALSE(this->Form.AutoPel);
    this->Form.CheckBox1.UserClick();
    EXPECT_EQ(this->Host.LinksMade, 1);
    ASSERT_TRUE(this->Form.AutoPel && this->Form.AutoPel->Connected());
    EXPECT_TRUE(this->Flag9());
    this->Form.CheckBox1.UserClick();
    EXPECT_FALSE(this->Form.AutoPel);
    EXPECT_FALSE(this->Flag9());
    EXPECT_TRUE(this->Host.Errors.empty());
}

TYPED_TEST_P(LinkForm, ProgramNotRegisteredLeavesTheBoxUntickedWithoutAMessage) {
    this->Host.UseUnregisteredProgram();
    this->Create(false);
    this->Form.CheckBox1.UserClick();
    EXPECT_FALSE(this->Form.CheckBox1.Checked());
    EXPECT_FALSE(this->Flag9());
    EXPECT_FALSE(this->Form.AutoPel);
    EXPECT_TRUE(this->Host.Messages.empty());
    EXPECT_TRUE(this->Host.Errors.empty());

    this->Host.Tick = 10 * 60000;
    this->Form.Timer1.Fire();
    EXPECT_EQ(this->Host.LinksMade, 1) << "the watchdog makes no attempt";
    EXPECT_EQ(this->Server.CountPrograms(), 0);
}

REGISTER_TYPED_TEST_SUITE_P(LinkForm,
                            RefreshDataBecomesACode230MessageAndARefreshThatFillsTheRegisters,
                            ErrorReplyStopsTheRefreshWithTheErrorReport,
                            StartWithoutTheFlagMakesNoLinkAndTheOperatorConnectsAndDisconnects,
                            ProgramNotRegisteredLeavesTheBoxUntickedWithoutAMessage);

} // namespace pelmbus::testsupport
