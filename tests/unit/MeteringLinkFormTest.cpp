// The window's side of the metering link with scripted links: which link is
// made and when, what a failed connect leaves, the one-minute watchdog, the
// data event and the refresh it queues. And the link-and-form scenarios
// shared with the D-Bus and COM backends, over a fake station.
#include "AutomationErrors.h"
#include "ByteOrder.h"
#include "FakeFormHost.h"
#include "LinkFormScenarios.h"
#include "StationReplies.h"
#include "TextFile.h"
#include "UPelMBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <ctime>
#include <functional>
#include <map>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

enum class ConnectResult { Connects, SystemError, OtherError };

struct LinkRecord {
    bool Client = false;
    int Connects = 0;
    int Disconnects = 0;
    bool Connected = false;
    bool Alive = true;
    std::vector<std::string> Commands;
};

// A link whose connect and replies the test decides; what happens to it is
// kept in a record that outlives it.
class ScriptedLink : public MeteringLink {
public:
    ScriptedLink(LinkRecord& record, ConnectResult result,
                 const std::map<std::string, std::string>& replies, bool failCommands)
        : FRecord(record), FResult(result), FReplies(replies), FFailCommands(failCommands) {}
    ~ScriptedLink() override {
        Disconnect();
        FRecord.Alive = false;
    }
    void Connect() override {
        if (FRecord.Connected) {
            return;
        }
        ++FRecord.Connects;
        if (FResult == ConnectResult::SystemError) {
            throw EAutomationSystemError(
                "The name ru.pel.Pel was not provided by any .service files");
        }
        if (FResult == ConnectResult::OtherError) {
            throw EAutomationError("Программа не предоставляет интерфейс");
        }
        FRecord.Connected = true;
    }
    void Disconnect() override {
        if (FRecord.Connected) {
            ++FRecord.Disconnects;
            FRecord.Connected = false;
        }
    }
    bool Connected() const override { return FRecord.Connected; }
    std::string DoCommand(const std::string& command) override {
        Connect();
        FRecord.Commands.push_back(command);
        if (FFailCommands) {
            throw EAutomationError("Отчет недоступен");
        }
        const auto reply = FReplies.find(command);
        return reply == FReplies.end() ? std::string() : reply->second;
    }
    void Raise(int32_t ind) {
        if (FRecord.Connected && OnRefreshData) {
            OnRefreshData(*this, ind);
        }
    }

private:
    LinkRecord& FRecord;
    ConnectResult FResult;
    const std::map<std::string, std::string>& FReplies;
    bool FFailCommands;
};

class LinkHost : public FakeFormHost {
public:
    std::unique_ptr<MeteringLink> CreateAutoPel() override { return Make(false); }
    std::unique_ptr<MeteringLink> CreateAutoCltPel() override { return Make(true); }
    // What happens while an error box is open: its own loop runs.
    void ShowError(const std::string& text) override {
        FakeFormHost::ShowError(text);
        if (WhileErrorShown) {
            WhileErrorShown();
        }
    }
    std::function<void()> WhileErrorShown;

    ConnectResult NextResult = ConnectResult::Connects;
    bool FailCommands = false;
    std::map<std::string, std::string> Replies;
    std::deque<LinkRecord> Records; // one per link made, in order
    std::vector<ScriptedLink*> Live;

private:
    std::unique_ptr<MeteringLink> Make(bool client) {
        Records.push_back({});
        Records.back().Client = client;
        auto link =
            std::make_unique<ScriptedLink>(Records.back(), NextResult, Replies, FailCommands);
        Live.push_back(link.get());
        return link;
    }
};

std::string Report(const std::string& date, const std::string& time, float first) {
    std::string text = "Отчет\r\n" + date + "\r\n" + time + "\r\n";
    for (int i = 0; i < 11; ++i) {
        text += std::to_string(static_cast<int>(first) + i) + ",5\r\n";
    }
    return text;
}

// The journal's events as the window writes them, without times.
struct JournalLines : JournalSink {
    std::vector<std::string> Lines;
    void Record(std::string_view event) override { Lines.emplace_back(event); }
    // The lines from the first that starts with `first` on.
    std::vector<std::string> From(const std::string& first) const {
        const auto start = std::find_if(Lines.begin(), Lines.end(), [&](const std::string& line) {
            return line.rfind(first, 0) == 0;
        });
        return {start, Lines.end()};
    }
};

class MeteringLinkForm : public ::testing::Test {
protected:
    MeteringLinkForm() {
        Host.Directory = Dir.Path;
        Host.Format.DecimalSeparator = ",";
        Host.Replies["GetRepData 0 0 0"] = Report("07.03.2026", "09:15:30", 10);
    }
    ~MeteringLinkForm() override {
        if (Form.InOutPort1) {
            Form.FormClose();
        }
    }

    // Settings that keep the serial port shut and select kind 0 only.
    void Start(bool connect, bool client) {
        std::vector<std::string> lines{
            std::string("Программа_сервер=") + (client ? "CltPel.exe" : "Pel.exe"),
            std::string("Соединение_с_сервером=") + (connect ? "true" : "false"),
            "Настройка_COM_порта=/nonexistent/tty:9600,N,8,2"};
        for (const char* key : {"Усредненные_текущие_данные", "Двухчасовые_текущие_данные",
                                "Двухчасовые_предыдушие_данные", "Данные_текущей_смены",
                                "Данные_прошедшей_смены", "Текущие_суточные_данные",
                                "Данные_за_прошедшие_сутки", "Усредненные_скользящие_данные"}) {
            lines.push_back(std::string(key) + "=False");
        }
        ASSERT_TRUE(WriteTextLines(Dir.Path + "CfgMBus.txt", lines));
        Form.RunGuarded([this] { Form.FormCreate(); });
        ASSERT_TRUE(Form.InOutPort1);
    }
    bool Flag9() const { return Form.InOutPort1->DataFlags[9]; }
    uint16_t Register(int index) const {
        return LoadBigEndian16(&Form.InOutPort1->BufReg[2 * index]);
    }

    TempDirectory Dir;
    LinkHost Host;
    JournalLines Events; // outlives the window, which writes to it as it closes
    TFPelMBus Form{Host};
};

} // namespace

TEST_F(MeteringLinkForm, StartWithTheFlagConnectsOneServerLinkOnce) {
    Start(true, false);
    ASSERT_EQ(Host.Records.size(), 1u);
    EXPECT_FALSE(Host.Records[0].Client);
    EXPECT_EQ(Host.Records[0].Connects, 1);
    EXPECT_TRUE(Form.AutoPel);
    EXPECT_FALSE(Form.AutoCltPel);
    EXPECT_TRUE(Form.CheckBox1.Checked());
    EXPECT_TRUE(Flag9());

    // Ticking again, by the handler or the operation, makes no second link.
    Form.CheckBox1Click();
    Form.ConnectPelApp(true);
    Form.CheckBox1.SetChecked(true);
    EXPECT_EQ(Host.Records.size(), 1u);
    EXPECT_EQ(Host.Records[0].Connects, 1);
}

TEST_F(MeteringLinkForm, ClientProgramGetsItsOwnLinkAndTheRefreshes) {
    Start(true, true);
    ASSERT_EQ(Host.Records.size(), 1u);
    EXPECT_TRUE(Host.Records[0].Client);
    EXPECT_TRUE(Form.AutoCltPel);
    EXPECT_FALSE(Form.AutoPel);
    Host.Live[0]->Raise(0);
    Host.DeliverMessages(Form);
    EXPECT_EQ(Host.Records[0].Commands, std::vector<std::string>{"GetRepData 0 0 0"});
}

TEST_F(MeteringLinkForm, StartWithoutTheFlagMakesNoLinkAndTheOperatorConnectsAndDisconnects) {
    Start(false, false);
    EXPECT_TRUE(Host.Records.empty());
    Form.CheckBox1.UserClick();
    ASSERT_EQ(Host.Records.size(), 1u);
    EXPECT_TRUE(Host.Records[0].Connected);
    EXPECT_TRUE(Flag9());
    Form.CheckBox1.UserClick();
    EXPECT_FALSE(Form.AutoPel);
    EXPECT_FALSE(Flag9());
    EXPECT_EQ(Host.Records[0].Disconnects, 1);
    EXPECT_FALSE(Host.Records[0].Alive) << "a dropped link is released";
}

TEST_F(MeteringLinkForm, ProgramNotRegisteredUnticksTheBoxQuietlyAndTheWatchdogLetsItBe) {
    Start(false, false);
    Host.NextResult = ConnectResult::SystemError;
    Form.CheckBox1.UserClick();
    EXPECT_FALSE(Form.CheckBox1.Checked());
    EXPECT_FALSE(Flag9());
    EXPECT_FALSE(Form.AutoPel);
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_TRUE(Host.Errors.empty());

    Host.Tick = 10 * 60000;
    Form.Timer1.Fire();
    EXPECT_EQ(Host.Records.size(), 1u) << "no reconnect attempts";
}

TEST_F(MeteringLinkForm, OtherConnectErrorOfTheServerLinkIsQuietToo) {
    Start(false, false);
    Host.NextResult = ConnectResult::OtherError;
    Form.CheckBox1.UserClick();
    EXPECT_FALSE(Form.CheckBox1.Checked());
    EXPECT_FALSE(Flag9());
    EXPECT_FALSE(Form.AutoPel) << "the nested disconnect empties the link";
    EXPECT_TRUE(Host.Errors.empty());
}

TEST_F(MeteringLinkForm, OtherConnectErrorOfTheClientLinkReachesTheErrorReport) {
    Start(false, true);
    Host.NextResult = ConnectResult::OtherError;
    Form.CheckBox1.UserClick();
    ASSERT_EQ(Host.Errors.size(), 1u);
    EXPECT_EQ(Host.Errors[0], "Программа не предоставляет интерфейс");
    // The client link's system error stays quiet, as the server link's.
    Host.Errors.clear();
    Form.CheckBox1.SetChecked(false);
    Host.NextResult = ConnectResult::SystemError;
    Form.CheckBox1.UserClick();
    EXPECT_TRUE(Host.Errors.empty());
    EXPECT_FALSE(Form.CheckBox1.Checked());
    EXPECT_FALSE(Form.AutoCltPel);
    EXPECT_FALSE(Flag9());
}

TEST_F(MeteringLinkForm, WatchdogReconnectsOnlyAfterMoreThanAMinuteWithoutAReport) {
    Start(true, false);
    Form.LastReportTick = 0xFFFF0000u; // the tick wraps during the minute
    Host.Tick = 0xFFFF0000u + 60000u;  // exactly 60000 ms later
    Form.Timer1.Fire();
    ASSERT_EQ(Host.Records.size(), 1u);
    EXPECT_TRUE(Host.Records[0].Connected);

    Host.Tick += 1; // 60001 ms
    Form.Timer1.Fire();
    ASSERT_EQ(Host.Records.size(), 2u);
    EXPECT_EQ(Host.Records[0].Disconnects, 1);
    EXPECT_FALSE(Host.Records[0].Alive);
    EXPECT_TRUE(Host.Records[1].Connected);
    EXPECT_TRUE(Form.CheckBox1.Checked());
    EXPECT_TRUE(Flag9());
}

TEST_F(MeteringLinkForm, FailedWatchdogReconnectStopsFurtherAttempts) {
    Start(true, false);
    Host.NextResult = ConnectResult::SystemError;
    Host.Tick = 60001;
    Form.Timer1.Fire();
    ASSERT_EQ(Host.Records.size(), 2u);
    EXPECT_FALSE(Flag9());
    EXPECT_FALSE(Form.CheckBox1.Checked());
    Host.Tick = 300000;
    Form.Timer1.Fire();
    EXPECT_EQ(Host.Records.size(), 2u);
}

TEST_F(MeteringLinkForm, EachDataEventQueuesOneRefreshThatFillsTheRegisters) {
    Start(true, false);
    Host.Live[0]->Raise(5);
    Host.Live[0]->Raise(-7);
    ASSERT_EQ(Host.Posted.size(), 2u);
    for (const auto& message : Host.Posted) {
        EXPECT_EQ(message.Id, WM_MBUSDATA);
        EXPECT_EQ(message.WParam, MBusDataRefresh);
        EXPECT_EQ(message.LParam, 0);
    }
    EXPECT_TRUE(Host.Records[0].Commands.empty()) << "the event itself asks nothing";

    Host.Tick = 424242;
    Host.DeliverMessages(Form);
    EXPECT_EQ(Host.Records[0].Commands.size(), 1u) << "events queued together make one refresh";
    EXPECT_TRUE(Host.Errors.empty());
    EXPECT_EQ(Form.LastReportTick, 424242u);
    EXPECT_EQ(Form.InOutPort1->BufFloat[0], 10.5f);
    EXPECT_EQ(Form.InOutPort1->BufFloat[10], 20.5f);
    EXPECT_EQ(Register(0), std::bit_cast<uint32_t>(10.5f) >> 16);
    EXPECT_EQ(Register(250), 2026);
    EXPECT_EQ(Register(252), 7);
    EXPECT_EQ(Register(255), 30);
}

TEST_F(MeteringLinkForm, RefreshUpdatesTheInspectorOnlyWhileItsTabIsActive) {
    Start(true, false);
    ASSERT_EQ(Form.Edit5.Text(), "0"); // register 0 before any report
    Host.Live[0]->Raise(1);
    Host.DeliverMessages(Form);
    EXPECT_EQ(Form.Edit5.Text(), "0") << "the settings tab is active";

    ASSERT_TRUE(Form.PageControl1.UserSelectPage(3));
    Host.Replies["GetRepData 0 0 0"] = Report("08.03.2026", "10:00:00", 20);
    Host.Live[0]->Raise(1);
    Host.DeliverMessages(Form);
    EXPECT_EQ(Form.Edit5.Text(), std::to_string(std::bit_cast<uint32_t>(20.5f) >> 16));
}

TEST_F(MeteringLinkForm, FailingCommandStopsTheRefreshWithTheErrorReport) {
    Start(true, false);
    Form.LastReportTick = 1000;
    Host.Live[0]->Raise(1);
    Host.Tick = 5000;
    // Reconnected before the loop delivers the refresh, to a program whose
    // commands fail.
    Form.ConnectPelApp(false);
    Host.FailCommands = true;
    Form.CheckBox1.UserClick();
    ASSERT_EQ(Host.Records.size(), 2u);
    Host.DeliverMessages(Form);
    ASSERT_EQ(Host.Errors.size(), 1u);
    EXPECT_EQ(Host.Errors[0], "Отчет недоступен");
    EXPECT_EQ(Form.LastReportTick, 1000u);
    EXPECT_EQ(Register(250), 0) << "the registers were not written";
}

TEST_F(MeteringLinkForm, RefreshWithoutALinkDoesNothing) {
    Start(true, false);
    Host.Live[0]->Raise(1);
    Form.CheckBox1.UserClick(); // disconnects while the refresh is queued
    EXPECT_FALSE(Form.AutoPel);
    Host.DeliverMessages(Form);
    EXPECT_TRUE(Host.Records[0].Commands.empty());
    EXPECT_TRUE(Host.Errors.empty());
    EXPECT_EQ(Form.LastReportTick, 0u);
}

TEST_F(MeteringLinkForm, CloseDisconnectsAfterTheSettingsKeptTheFlag) {
    Start(true, false);
    Form.FormClose();
    EXPECT_EQ(Host.Records[0].Disconnects, 1);
    EXPECT_FALSE(Host.Records[0].Alive);
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(Dir.Path + "CfgMBus.txt", lines));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Соединение_с_сервером=true"), lines.end());
}

TEST_F(MeteringLinkForm, ClientLinkErrorAtStartStillStartsTheSlaveAndIsReportedOnce) {
    Host.NextResult = ConnectResult::OtherError;
    Start(true, true);
    EXPECT_TRUE(Form.InOutPort1->Looker) << "the receive thread was not started";
    ASSERT_EQ(Host.Errors.size(), 1u);
    EXPECT_EQ(Host.Errors[0], "Программа не предоставляет интерфейс");
    EXPECT_FALSE(Form.AutoCltPel) << "a link that failed to connect is released";

    // The next connect makes a new link.
    Host.NextResult = ConnectResult::Connects;
    Form.ConnectPelApp(true);
    ASSERT_EQ(Host.Records.size(), 2u);
    EXPECT_TRUE(Host.Records[1].Connected);
}

TEST_F(MeteringLinkForm, FailedReconnectLeavesNoDeadLinkForTheNextTick) {
    Start(true, false);
    Host.NextResult = ConnectResult::OtherError;
    Host.Tick = 60001;
    Form.Timer1.Fire(); // the watchdog's reconnect fails
    ASSERT_EQ(Host.Records.size(), 2u);
    EXPECT_FALSE(Form.AutoPel);
    EXPECT_FALSE(Host.Records[1].Alive);
    EXPECT_FALSE(Form.CheckBox1.Checked());
    EXPECT_FALSE(Flag9());

    Host.NextResult = ConnectResult::Connects;
    Form.CheckBox1.UserClick();
    ASSERT_EQ(Host.Records.size(), 3u) << "the tick connected nothing";
    EXPECT_TRUE(Host.Records[2].Connected);
    EXPECT_TRUE(Form.CheckBox1.Checked());
    EXPECT_TRUE(Flag9());
}

TEST_F(MeteringLinkForm, FailingRefreshesShowOneErrorBoxAndCollapseWhileItIsOpen) {
    Host.FailCommands = true;
    Start(true, false);
    ScriptedLink& link = *Host.Live[0];
    int depth = 0;
    int deepest = 0;
    Host.WhileErrorShown = [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        // The box's loop delivers the events that keep coming; a box opened
        // inside it would nest without end, so it is not pumped.
        if (depth == 1) {
            for (int i = 0; i < 3; ++i) {
                link.Raise(1);
                link.Raise(2);
                Host.DeliverMessages(Form);
            }
        }
        --depth;
    };
    link.Raise(1);
    link.Raise(2);
    link.Raise(3);
    Host.DeliverMessages(Form);
    EXPECT_EQ(deepest, 1) << "an error box opened inside another";
    EXPECT_EQ(Host.Errors.size(), 1u);
    // One refresh for the first three events, one per pair inside the box.
    EXPECT_EQ(Host.Records[0].Commands.size(), 4u);
    EXPECT_TRUE(Host.Posted.empty());

    // Once the box is closed, the next failure is shown again.
    Host.WhileErrorShown = nullptr;
    link.Raise(4);
    Host.DeliverMessages(Form);
    EXPECT_EQ(Host.Errors.size(), 2u);
}

TEST_F(MeteringLinkForm, JournalTellsWhoDroppedTheLinkAndWhyItCameBackOrNot) {
    JournalLines& journal = Events;
    Form.Journal.Sink = &journal;
    Start(true, false);
    EXPECT_EQ(journal.Lines.back(),
              "Связь с программой Pel.exe установлена, программа уже работала");

    // The box's own click runs inside the watchdog's reconnect: the cause
    // stays the watchdog's.
    Host.Tick = 61500;
    Form.Timer1.Fire();
    EXPECT_EQ(journal.From("Нет отчетов"),
              (std::vector<std::string>{
                  "Нет отчетов от программы Pel.exe 61 с: связь устанавливается заново",
                  "Связь с программой Pel.exe разорвана сторожевым таймером",
                  "Связь с программой Pel.exe установлена заново, программа уже работала"}));

    Host.NextResult = ConnectResult::SystemError;
    Host.Tick = 200000;
    Form.Timer1.Fire();
    EXPECT_EQ(journal.Lines.back(),
              "Не удалось установить связь с программой Pel.exe: The name ru.pel.Pel was not "
              "provided by any .service files; флажок \"Сервер ПЕЛ\" снят, связь больше не "
              "устанавливается");

    Host.NextResult = ConnectResult::Connects;
    Form.CheckBox1.UserClick();
    Form.CheckBox1.UserClick();
    EXPECT_EQ(journal.Lines.back(), "Связь с программой Pel.exe разорвана оператором");
}

TEST_F(MeteringLinkForm, JournalWritesTheExchangeHourlyAndFoldsFailingRefreshes) {
    JournalLines& journal = Events;
    Form.Journal.Sink = &journal;
    Host.FailCommands = true;
    Start(true, false);
    for (int i = 0; i < 5; ++i) {
        Host.Tick += 1000;
        Host.Live[0]->Raise(i);
        Host.DeliverMessages(Form);
    }
    EXPECT_EQ(journal.Lines.back(), "Ошибка обновления данных: Отчет недоступен");

    Host.Tick = 59 * 60000;
    Form.JournalTimer.Fire();
    EXPECT_EQ(journal.Lines.back(),
              "Ошибка обновления данных повторилась ещё 4 раз за 4 с: Отчет недоступен")
        << "no repeat within a minute ends the run";
    Form.InOutPort1->Counters.CountAnswered();
    Host.Tick = 60 * 60000;
    Form.JournalTimer.Fire();
    EXPECT_EQ(journal.Lines.back().rfind("Обмен за 60 мин: ответов на запросы 1, ", 0), 0u)
        << journal.Lines.back();
    Form.JournalTimer.Fire(); // the same hour: nothing more
    EXPECT_EQ(std::count_if(journal.Lines.begin(), journal.Lines.end(),
                            [](const std::string& line) { return line.rfind("Обмен", 0) == 0; }),
              1);
}

namespace {

// The link-and-form scenarios (LinkFormScenarios.h) over a fake link that
// answers from pelsim's own station model, the way pelsim does.
struct FakeStation {
    class Host;

    class StationLink final : public MeteringLink {
    public:
        explicit StationLink(Host& host) : FHost(host) {
            FFaults.ErrorReplies = host.ErrorReplies;
            FFaults.DecimalSeparator = host.Format.DecimalSeparator;
        }
        ~StationLink() override {
            if (FHost.Live == this) {
                FHost.Live = nullptr;
            }
        }
        void Connect() override {
            if (!FHost.Registered) {
                throw EAutomationSystemError("Class not registered", "0x80040154");
            }
            FConnected = true;
            FHost.ServersRunning = 1; // a program that was not running is started
        }
        void Disconnect() override { FConnected = false; }
        bool Connected() const override { return FConnected; }
        std::string DoCommand(const std::string& command) override {
            Connect();
            const pelsim::StationReply reply = pelsim::AnswerCommand(FModel, command, FFaults);
            if (!reply.Ok) {
                throw EAutomationError(reply.Text, reply.ErrorName);
            }
            return reply.Text;
        }
        void RaiseRefreshData() {
            FModel.Advance(std::time(nullptr));
            if (FConnected && OnRefreshData) {
                OnRefreshData(*this, FModel.Generation());
            }
        }

    private:
        Host& FHost;
        bool FConnected = false;
        pelsim::StationModel FModel{0.1, std::time(nullptr)};
        pelsim::ReplyFaults FFaults;
    };

    class Host : public FakeFormHost {
    public:
        std::unique_ptr<MeteringLink> CreateAutoPel() override {
            ++LinksMade;
            auto link = std::make_unique<StationLink>(*this);
            Live = link.get();
            return link;
        }
        void UseUnregisteredProgram() { Registered = false; }

        int LinksMade = 0;
        bool Registered = true;
        bool ErrorReplies = false;
        int ServersRunning = 0;
        StationLink* Live = nullptr;
    };

    static constexpr bool CarriesErrorText = true;
    static void SetUpSuite() {}
    static void TearDownSuite() {}

    void Prepare(Host& host) { FHost = &host; }
    void Start(const LinkIdentifiers&, const std::vector<std::string>& options) {
        FHost->ErrorReplies =
            std::find(options.begin(), options.end(), "--error-replies") != options.end();
        FHost->ServersRunning = 1;
    }
    // Each turn of the loop is a refresh of the station.
    bool PumpUntil(const std::function<bool()>& done, int) {
        if (!done() && FHost->Live != nullptr) {
            FHost->Live->RaiseRefreshData();
        }
        return done();
    }
    int CountPrograms() { return FHost->ServersRunning; }

private:
    Host* FHost = nullptr;
};

} // namespace

namespace pelmbus::testsupport {
INSTANTIATE_TYPED_TEST_SUITE_P(LinkFormFake, LinkForm, FakeStation);
} // namespace pelmbus::testsupport
