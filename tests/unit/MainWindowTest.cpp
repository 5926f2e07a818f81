// The main window driven through its control models with a fake host: start,
// settings tab, data-kind selection, tab guard, port string and close.
#include "FakeFormHost.h"
#include "FileTestSupport.h"
#include "PseudoTerminal.h"
#include "TextFile.h"
#include "UPelMBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

const std::string NotAPort = "/nonexistent/tty:9600,N,8,2";

class MainWindow : public ::testing::Test {
protected:
    MainWindow() { Host.Directory = Dir.Path; }
    ~MainWindow() override {
        if (Form.InOutPort1) {
            Form.FormClose();
        }
    }

    void WriteConfig(const std::vector<std::string>& lines) {
        ASSERT_TRUE(WriteTextLines(Dir.Path + "CfgMBus.txt", lines));
    }
    std::vector<std::string> ReadConfig() const {
        std::vector<std::string> lines;
        EXPECT_TRUE(ReadTextLines(Dir.Path + "CfgMBus.txt", lines));
        return lines;
    }
    bool ConfigHas(const std::string& line) const {
        const auto lines = ReadConfig();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    void Create() {
        Form.RunGuarded([this] { Form.FormCreate(); });
        ASSERT_TRUE(Form.InOutPort1);
    }
    void TypeIntoEdit10(const std::string& text) {
        for (char c : text) {
            Form.Edit10.UserKeyPress(c);
        }
        Form.Edit10.UserSetText(text);
    }
    std::vector<bool> Ticks() const {
        std::vector<bool> ticks;
        for (int i = 0; i < Form.CheckListBox1.Count(); ++i) {
            ticks.push_back(Form.CheckListBox1.Checked(i));
        }
        return ticks;
    }
    void SetTicks(const std::vector<int>& ticked) {
        for (int i = 0; i < Form.CheckListBox1.Count(); ++i) {
            const bool want = std::find(ticked.begin(), ticked.end(), i) != ticked.end();
            if (Form.CheckListBox1.Checked(i) != want) {
                Form.CheckListBox1.UserToggle(i);
            }
        }
    }

    TempDirectory Dir;
    FakeFormHost Host;
    TFPelMBus Form{Host};
};

// Sends a function-3 request for register 0 over the line and waits for an
// answer, running what the receive thread hands to the main thread.
std::vector<uint8_t> Ask(const PseudoTerminal& pty, FakeFormHost& host, uint8_t slave) {
    uint8_t request[8] = {slave, 3, 0, 0, 0, 1, 0, 0};
    const uint16_t crc = TInOutPort::CalcCRC(request, 6);
    request[6] = static_cast<uint8_t>(crc & 0xFF);
    request[7] = static_cast<uint8_t>(crc >> 8);
    pty.Write(request, sizeof request);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    std::vector<uint8_t> answer;
    while (answer.empty() && std::chrono::steady_clock::now() < deadline) {
        host.RunMainThreadWork();
        answer = pty.ReadBurst(20ms, 20ms);
    }
    host.RunMainThreadWork();
    return answer;
}

// Runs what the receive thread hands over until the status shows `colour`.
bool StatusBecomes(TFPelMBus& form, FakeFormHost& host, TColor colour,
                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (form.shStatus.BrushColor() != colour && std::chrono::steady_clock::now() < deadline) {
        host.RunMainThreadWork();
        std::this_thread::sleep_for(10ms);
    }
    return form.shStatus.BrushColor() == colour;
}

} // namespace

TEST_F(MainWindow, StartWithoutFilesShowsThePortsDefaultsNotTheDesignValues) {
    Create();
    EXPECT_EQ(Form.Edit10.Text(), "COM1:9600,N,8,2");
    EXPECT_EQ(Form.Edit1.Text(), "1");
    EXPECT_EQ(Form.Edit2.Text(), "250");
    EXPECT_EQ(Form.Edit8.Text(), "0");
    EXPECT_EQ(Form.Edit3.Text(), "6");
    EXPECT_EQ(Form.Edit7.Text(), "6");
    EXPECT_EQ(Form.UpDown2.Position(), 250);
    EXPECT_EQ(Form.UpDown5.Position(), 0);
    EXPECT_EQ(Ticks(), std::vector<bool>(9, true));
    EXPECT_FALSE(Form.CheckBox1.Checked());
    EXPECT_FALSE(Form.InOutPort1->DataFlags[9]);

    // Whether or not COM1 opens here: the status shows it, "Ввод" waits
    // for a key, and the thread runs.
    EXPECT_EQ(Form.shStatus.BrushColor(), Form.InOutPort1->PortOpen ? clLime : clGreen);
    EXPECT_FALSE(Form.Button6.Enabled());
    ASSERT_TRUE(Form.InOutPort1->Looker);
    EXPECT_FALSE(Form.InOutPort1->Looker->Stopped());
    EXPECT_TRUE(Form.Timer1.Enabled());
    EXPECT_FALSE(Form.CheckListBox1.Visible());
    EXPECT_EQ(Form.PageControl1.ActivePageIndex(), 0);

    EXPECT_TRUE(Form.lbParams.Items().empty());
    EXPECT_EQ(Form.eRegNum.Text(), "178");
    EXPECT_EQ(Form.eParam.Text(), "100,000");
    EXPECT_EQ(Form.eComment.Text(), "Параметр №1");
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_TRUE(Host.Errors.empty());
}

TEST_F(MainWindow, ValuesOutsideTheRangesShowClampedAndOnlyTheEditedOnesAreWrittenBack) {
    WriteConfig({"Номер_slave_устройства=0", "Уставка_усреднения=500",
                 "Уставка_скользящего_усреднения=1000", "Цикл_опроса_порта=3",
                 "Задержка_ответа=500", "Настройка_COM_порта=" + NotAPort});
    Create();
    // The slave address' edit held "1" already, and still the port serves
    // the address it shows, never 0.
    EXPECT_EQ(Form.Edit1.Text(), "1");
    EXPECT_EQ(Form.InOutPort1->SlaveNomer, 1);
    EXPECT_EQ(Form.Edit3.Text(), "300");
    EXPECT_EQ(Form.InOutPort1->UstUsredn, 300u);
    EXPECT_EQ(Form.Edit7.Text(), "300");
    EXPECT_EQ(Form.InOutPort1->UstUsrednCl(), 300u);
    EXPECT_EQ(Form.InOutPort1->UsrednClA.size(), 300u);
    // The cycle keeps its loaded value until clicked; the delay is served
    // as shown, not as a pause of half a second per byte.
    EXPECT_EQ(Form.Edit2.Text(), "5");
    EXPECT_EQ(Form.InOutPort1->CiclOprosa, 3u);
    EXPECT_EQ(Form.Edit8.Text(), "200");
    EXPECT_EQ(Form.InOutPort1->ZaderOtveta, 200);

    Form.UpDown2.UserClick(TUDBtnType::btNext);
    EXPECT_EQ(Form.InOutPort1->CiclOprosa, 10u);
    Form.UpDown5.UserClick(TUDBtnType::btPrev);
    EXPECT_EQ(Form.InOutPort1->ZaderOtveta, 199);
}

TEST_F(MainWindow, CycleFrom1000OnIsGroupedWithTheLocalesSeparator) {
    Host.Format.ThousandSeparator = "\u00a0"; // a non-breaking space
    WriteConfig({"Цикл_опроса_порта=995", "Настройка_COM_порта=" + NotAPort});
    Create();
    EXPECT_EQ(Form.Edit2.Text(), "995");
    Form.UpDown2.UserClick(TUDBtnType::btNext);
    EXPECT_EQ(Form.Edit2.Text(), "1\u00a0000");
    EXPECT_EQ(Form.InOutPort1->CiclOprosa, 1000u);
}

TEST_F(MainWindow, SettingsChangedOnTheTabReachThePortAtOnceAndTheFileAtClose) {
    WriteConfig(
        {"Настройка_COM_порта=" + NotAPort, "Номер_slave_устройства=1", "Уставка_усреднения=6"});
    Create();
    Form.UpDown1.UserClick(TUDBtnType::btNext);
    EXPECT_EQ(Form.InOutPort1->SlaveNomer, 2);
    Form.UpDown3.UserClick(TUDBtnType::btPrev);
    EXPECT_EQ(Form.InOutPort1->UstUsredn, 5u);
    Form.InOutPort1->UsrednClA[0] = 1.5f;
    Form.UpDown4.UserClick(TUDBtnType::btNext);
    EXPECT_EQ(Form.InOutPort1->UstUsrednCl(), 7u);
    EXPECT_EQ(Form.InOutPort1->UsrednClA, std::vector<float>(7, 0.0f));
    Form.CheckBox1.UserClick();
    EXPECT_TRUE(Form.InOutPort1->DataFlags[9]);

    // Nothing is stored before the close.
    EXPECT_FALSE(ConfigHas("Номер_slave_устройства=2"));
    Form.FormClose();
    EXPECT_EQ(ReadConfig().size(), 17u);
    EXPECT_TRUE(ConfigHas("Номер_slave_устройства=2"));
    EXPECT_TRUE(ConfigHas("Уставка_усреднения=5"));
    EXPECT_TRUE(ConfigHas("Уставка_скользящего_усреднения=7"));
    EXPECT_TRUE(ConfigHas("Соединение_с_сервером=true"));
}

TEST_F(MainWindow, DataKindSelectionTestsTheTicksInOrderAndKeepsTheModeUntilAccepted) {
    Create();
    Form.Button1.UserClick();
    EXPECT_TRUE(Form.CheckListBox1.Visible());
    EXPECT_TRUE(Form.CheckListBox1.Enabled());
    EXPECT_FALSE(Form.Button1.Enabled());
    EXPECT_TRUE(Form.Button7.Enabled());
    for (const TControl* c : std::vector<const TControl*>{
             &Form.TabSheet2, &Form.TabSheet3, &Form.GroupBox5, &Form.GroupBox1, &Form.GroupBox2,
             &Form.CheckBox1, &Form.UpDown3, &Form.UpDown4}) {
        EXPECT_FALSE(c->Enabled()) << c->Name();
    }
    EXPECT_TRUE(Form.GroupBox8.Enabled());
    EXPECT_TRUE(Form.SetSheet.Enabled());
    EXPECT_FALSE(Form.Edit1.AcceptsInput()); // inside a disabled group

    SetTicks({});
    Form.Button7.UserClick();
    SetTicks({1, 8});
    Form.Button7.UserClick();
    SetTicks({8, 3});
    Form.Button7.UserClick();
    EXPECT_EQ(Host.Messages,
              (std::vector<std::string>{
                  "Ни один из видов данных не выбран",
                  "Усреднение не может производиться без текущих параметров",
                  "Расчет скользящего среднего не может производиться без текущих значений"}));
    EXPECT_TRUE(Form.Button7.Enabled());
    EXPECT_TRUE(Form.CheckListBox1.Visible());
    EXPECT_EQ(Form.InOutPort1->DataFlags[3], true); // unchanged while refused
    EXPECT_EQ(Form.InOutPort1->DataFlags[2], true);

    SetTicks({0, 1, 3, 8});
    Form.Button7.UserClick();
    EXPECT_EQ(Host.Messages.size(), 3u);
    const std::array<bool, 10> expected{true,  true,  false, true, false,
                                        false, false, false, true, false};
    EXPECT_EQ(Form.InOutPort1->DataFlags, expected);
    EXPECT_FALSE(Form.CheckListBox1.Visible());
    EXPECT_FALSE(Form.CheckListBox1.Enabled());
    EXPECT_FALSE(Form.Button7.Enabled());
    EXPECT_TRUE(Form.Button1.Enabled());
    EXPECT_TRUE(Form.TabSheet2.Enabled());
    EXPECT_TRUE(Form.UpDown4.Enabled());
    EXPECT_TRUE(Form.Edit1.AcceptsInput());

    Form.FormClose();
    EXPECT_TRUE(ConfigHas("Двухчасовые_текущие_данные=False"));
    EXPECT_TRUE(ConfigHas("Двухчасовые_предыдушие_данные=True"));
}

TEST_F(MainWindow, TabGuardRefusesWhileAChoiceOrAnInspectorEditIsOpen) {
    Create();
    Form.Button1.UserClick();
    EXPECT_FALSE(Form.PageControl1.UserSelectPage(1));
    EXPECT_FALSE(Form.PageControl1.UserSelectPage(3));
    EXPECT_EQ(Form.PageControl1.ActivePageIndex(), 0);
    EXPECT_EQ(Host.Messages,
              std::vector<std::string>(2, "Вы не зафиксировали выбранные параметры"));

    Host.Messages.clear();
    Form.Button3.SetEnabled(true); // an inspector edit pending as well
    EXPECT_FALSE(Form.PageControl1.UserSelectPage(2));
    EXPECT_EQ(Host.Messages,
              (std::vector<std::string>{"Вы не зафиксировали выбранные параметры",
                                        "Вы не закончили изменение содержимого регистров"}));

    Host.Messages.clear();
    Form.Button3.SetEnabled(false);
    SetTicks({0});
    Form.Button7.UserClick();
    EXPECT_TRUE(Form.PageControl1.UserSelectPage(2));
    EXPECT_TRUE(Host.Messages.empty());
}

TEST_F(MainWindow, PortStringThatDoesNotOpenLeavesGreenAndInputOpenAndIsTriedAgain) {
    WriteConfig({"Настройка_COM_порта=" + NotAPort, "Номер_slave_устройства=9"});
    Create();
    const auto firstLooker = Form.InOutPort1->Looker;
    const std::string device = Dir.Path + "ttyUSB0";
    TypeIntoEdit10(device + ":9600,N,8,2");
    EXPECT_TRUE(Form.Button6.Enabled());
    EXPECT_FALSE(Form.Timer1.Enabled());

    Form.Button6.UserClick();
    EXPECT_EQ(Form.InOutPort1->StrPort, device + ":9600,N,8,2");
    EXPECT_FALSE(Form.InOutPort1->PortOpen);
    EXPECT_EQ(Form.shStatus.BrushColor(), clGreen);
    EXPECT_TRUE(Form.Button6.Enabled());
    EXPECT_TRUE(Form.Timer1.Enabled());
    EXPECT_TRUE(firstLooker->Stopped());
    ASSERT_NE(Form.InOutPort1->Looker, firstLooker);

    // The adapter comes: the new thread opens it within a few seconds.
    PseudoTerminal pty;
    std::filesystem::create_symlink(pty.SlavePath(), device);
    ASSERT_TRUE(StatusBecomes(Form, Host, clLime, 6s));
    EXPECT_EQ(Ask(pty, Host, 9).size(), 7u);
}

// The adapter is a link to a pseudo-terminal: it is missing at the start,
// plugged in, pulled out (the terminal hangs up) and plugged back under the
// same name. Each time the slave serves again with nobody at the screen.
TEST_F(MainWindow, AdapterPluggedInLaterOrPulledOutAndBackServesAgainByItself) {
    const std::string device = Dir.Path + "ttyUSB0";
    WriteConfig({"Настройка_COM_порта=" + device + ":9600,N,8,2", "Номер_slave_устройства=9",
                 "Задержка_ответа=0"});
    Create();
    EXPECT_EQ(Form.shStatus.BrushColor(), clGreen);
    for (int plugged = 0; plugged < 2; ++plugged) {
        auto pty = std::make_unique<PseudoTerminal>();
        std::filesystem::create_symlink(pty->SlavePath(), device);
        ASSERT_TRUE(StatusBecomes(Form, Host, clLime, 6s)) << plugged;
        const auto answer = Ask(*pty, Host, 9);
        ASSERT_EQ(answer.size(), 7u) << plugged;
        EXPECT_EQ(answer[0], 9);

        pty.reset();
        std::filesystem::remove(device);
        ASSERT_TRUE(StatusBecomes(Form, Host, clGreen, 3s)) << plugged;
        EXPECT_FALSE(Form.InOutPort1->PortOpen);
    }
    EXPECT_FALSE(Form.Button6.Enabled()) << "nothing for the operator to do";
}

TEST_F(MainWindow, PortStringThatOpensGoesLimeAndTheNewThreadAnswers) {
    PseudoTerminal pty;
    WriteConfig(
        {"Настройка_COM_порта=" + NotAPort, "Номер_slave_устройства=9", "Задержка_ответа=0"});
    Create();
    TypeIntoEdit10(pty.SlavePath() + ":9600,N,8,2");
    Form.Button6.UserClick();
    EXPECT_TRUE(Form.InOutPort1->PortOpen);
    EXPECT_EQ(Form.shStatus.BrushColor(), clLime);
    EXPECT_FALSE(Form.Button6.Enabled());
    EXPECT_TRUE(Form.Timer1.Enabled());
    ASSERT_TRUE(Form.InOutPort1->Looker);
    EXPECT_FALSE(Form.InOutPort1->Looker->Stopped());

    const auto answer = Ask(pty, Host, 9);
    ASSERT_EQ(answer.size(), 7u);
    EXPECT_EQ(answer[0], 9);
    EXPECT_EQ(answer[1], 3);

    // The close stops the thread and closes the port: the line stays silent.
    Form.FormClose();
    EXPECT_FALSE(Form.InOutPort1);
    EXPECT_TRUE(Ask(pty, Host, 9).empty());
    EXPECT_TRUE(ConfigHas("Настройка_COM_порта=" + pty.SlavePath() + ":9600,N,8,2"));
}

TEST_F(MainWindow, OnlyTheThreeKnownCodesAreWorkAndLateMessagesAreHarmless) {
    Create();
    const auto before = Form.InOutPort1->BufReg;
    for (uintptr_t code : {0u, 199u, 201u, 220u, 231u, 0x4B4u}) {
        Host.PostWindowMessage(WM_MBUSDATA, code, 0);
    }
    Host.DeliverMessages(Form);
    EXPECT_EQ(Form.InOutPort1->BufReg, before);
    EXPECT_TRUE(Host.Errors.empty());

    Form.FormClose();
    Host.PostWindowMessage(WM_MBUSDATA, MBusDataRefresh, 0);
    Host.DeliverMessages(Form); // after the close: nothing to do, no crash
    Form.Timer1.Fire();
    EXPECT_TRUE(Host.Errors.empty());
}

TEST_F(MainWindow, ManualEntriesComeBackFromTheFileAndAreWrittenAtClose) {
    const std::vector<std::string> entries{"180=12,5 =  Давление ", "178=1 = ", ";комментарий"};
    ASSERT_TRUE(WriteTextLines(Dir.Path + "RegData.mrd", entries));
    std::ifstream in(Dir.Path + "RegData.mrd", std::ios::binary);
    const std::string bytesBefore{std::istreambuf_iterator<char>(in), {}};
    Create();
    EXPECT_EQ(Form.lbParams.Items(), entries);
    EXPECT_EQ(Form.ManualRegNum, 180);
    EXPECT_EQ(Form.eRegNum.Text(), "180");
    EXPECT_EQ(Form.eParam.Text(), "12,5");
    EXPECT_EQ(Form.eComment.Text(), "Давление");

    std::filesystem::remove(Dir.Path + "RegData.mrd");
    Form.FormClose();
    std::ifstream out(Dir.Path + "RegData.mrd", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(out), {}), bytesBefore);
}

TEST_F(MainWindow, FirstEntryWithoutARegisterNumberStillStarts) {
    ASSERT_TRUE(WriteTextLines(Dir.Path + "RegData.mrd", {"abc=5 = x"}));
    Create();
    EXPECT_EQ(Form.lbParams.Count(), 1);
    EXPECT_EQ(Form.ManualRegNum, 178);
    EXPECT_EQ(Form.eRegNum.Text(), "178");
    EXPECT_EQ(Form.eParam.Text(), "100,000");
    EXPECT_TRUE(Host.Errors.empty());
}

TEST_F(MainWindow, SavesThatFailAtCloseAreShownAndTheCloseStillCompletes) {
    PseudoTerminal pty;
    WriteConfig({"Настройка_COM_порта=" + pty.SlavePath() + ":9600,N,8,2"});
    Create();
    ASSERT_TRUE(Form.InOutPort1->PortOpen);
    const auto looker = Form.InOutPort1->Looker;
    std::filesystem::remove_all(Dir.Path);

    Form.FormClose();
    EXPECT_FALSE(Form.InOutPort1);
    EXPECT_TRUE(looker->Stopped());
    ASSERT_EQ(Host.Messages.size(), 1u) << "one message after every step has run";
    EXPECT_NE(Host.Messages[0].find("RegData.mrd"), std::string::npos);
    EXPECT_NE(Host.Messages[0].find("CfgMBus.txt"), std::string::npos);
}

TEST_F(MainWindow, FilesThatCouldNotBeReadAtStartAreKeptAndToldOnceAtClose) {
    const std::string config = Dir.Path + "CfgMBus.txt";
    const std::string entries = Dir.Path + "RegData.mrd";
    WriteConfig({"Настройка_COM_порта=" + NotAPort, "Номер_slave_устройства=17"});
    ASSERT_TRUE(WriteTextLines(entries, {"180=12,5 = Давление"}));
    const std::string configBefore = testing_files::ReadBytes(config);
    const std::string entriesBefore = testing_files::ReadBytes(entries);
    std::filesystem::permissions(config, std::filesystem::perms::none);
    std::filesystem::permissions(entries, std::filesystem::perms::none);

    const auto result = testing_files::RunWhereUnreadable(config, [&] {
        Create();
        Form.FormClose();
        return Host.Messages.size() == 1 &&
               Host.Messages[0].find("CfgMBus.txt") != std::string::npos &&
               Host.Messages[0].find("RegData.mrd") != std::string::npos;
    });
    std::filesystem::permissions(config, std::filesystem::perms::owner_all);
    std::filesystem::permissions(entries, std::filesystem::perms::owner_all);
    if (result == testing_files::StepResult::CannotDropOverride) {
        GTEST_SKIP() << "this machine cannot read without the power to override permissions";
    }
    EXPECT_EQ(result, testing_files::StepResult::True);
    EXPECT_EQ(testing_files::ReadBytes(config), configBefore);
    EXPECT_EQ(testing_files::ReadBytes(entries), entriesBefore);
}

TEST_F(MainWindow, CloseAskedForBySignalShowsNoWindowAndNamesTheFileKept) {
    WriteConfig({"Настройка_COM_порта=" + NotAPort});
    const std::string config = Dir.Path + "CfgMBus.txt";
    const std::string before = testing_files::ReadBytes(config);
    std::filesystem::permissions(config, std::filesystem::perms::owner_read);
    Create();
    Form.QuietClose = true;
    Form.FormClose();
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_NE(Form.CloseFailure.find(config), std::string::npos);
    EXPECT_EQ(Form.CloseFailure.find("RegData.mrd"), std::string::npos);
    EXPECT_EQ(testing_files::ReadBytes(config), before);
}
