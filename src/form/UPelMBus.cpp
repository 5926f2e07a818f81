// TFPelMBus: construction of the window, its creation and close, the private
// message and the watchdog timer.
#include "UPelMBus.h"

#include "DataKinds.h"
#include "LocaleNumbers.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace pelmbus {

namespace {

// Background of the manual-entry edits and of the entry list.
constexpr TColor EntryEditColor = RGBColor(252, 251, 248);
constexpr TColor EntryListColor = RGBColor(209, 231, 209);

// Runs one step of the close; an error is noted in failure, not thrown, so
// that the remaining steps still run.
bool RunCloseStep(const std::function<bool()>& step, std::string& failure) {
    try {
        return step();
    } catch (const std::exception& e) {
        failure = e.what();
        return false;
    }
}

std::string JoinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

} // namespace

TFPelMBus::TFPelMBus(TFormHost& host)
    : TForm("FPelMBus", "Модуль ModBus v2.20", {302, 141, 250, 211}), FHost(host) {
    OnErrorReport = [this](const std::string& text) { FHost.ShowError(text); };
    FontName = "MS Sans Serif";
    FontSize = 8;

    PageControl1.HotTrack = true;
    PageControl1.OnChanging = [this](bool& allowChange) { PageControl1Changing(allowChange); };

    Edit10.Bold = true;
    Edit10.OnKeyPress = [this](char& key) { Edit10KeyPress(key); };
    Button6.SetEnabled(false);
    Button6.OnClick = [this] { Button6Click(); };
    shStatus.SetBrushColor(clGreen);

    // The up-down edits change only through their up-downs; positions from
    // 1000 on are grouped with the locale's thousands separator.
    for (TUpDown* upDown : {&UpDown1, &UpDown5, &UpDown2, &UpDown3, &UpDown4}) {
        upDown->Associate().ReadOnly = true;
        upDown->FormatPosition = [this](int position) {
            return FormatThousands(position, FFormat);
        };
    }
    Edit1.OnChange = [this] { Edit1Change(); };
    Edit3.OnChange = [this] { Edit3Change(); };
    Edit7.OnChange = [this] { Edit7Change(); };
    UpDown2.OnClick = [this](TUDBtnType button) { UpDown2Click(button); };
    UpDown5.OnClick = [this](TUDBtnType button) { UpDown5Click(button); };

    CheckBox1.OnClick = [this] { CheckBox1Click(); };
    Button1.OnClick = [this] { Button1Click(); };
    Button7.SetEnabled(false);
    Button7.OnClick = [this] { Button7Click(); };
    CheckListBox1.SetEnabled(false);
    CheckListBox1.SetVisible(false);

    eRegNum.ReadOnly = true;
    for (TEdit* edit : {&eRegNum, &eParam, &eComment}) {
        edit->Bold = true;
        edit->Color = EntryEditColor;
    }
    lbParams.Bold = true;
    lbParams.Color = EntryListColor;

    BindExchangeMonitor();
    BindManualEntryTab();
    BindInspector();

    Timer1.OnTimer = [this] { Timer1Timer(); };
    JournalTimer.OnTimer = [this] {
        if (InOutPort1) {
            Journal.Periodic(InOutPort1->Counters);
        }
    };
}

// The port is freed by FormClose; a window that never closed frees it here,
// after stopping its thread.
TFPelMBus::~TFPelMBus() {
    if (InOutPort1) {
        InOutPort1->StopLooker();
        InOutPort1->SetPortActive(false);
    }
}

std::vector<std::string> TFPelMBus::DataKindTexts() {
    std::vector<std::string> texts;
    for (const DataKind& kind : DataKinds) {
        texts.emplace_back(kind.CheckListText);
    }
    return texts;
}

void TFPelMBus::FormCreate() {
    FFormat = FHost.FormatSettings();
    ExeDir = FHost.ExecutableDirectory();
    Journal.DecimalSeparator = FFormat.DecimalSeparator;
    LoadManualEntries();

    InOutPort1 = std::make_unique<TInOutPort>();
    InOutPort1->ExeDir = ExeDir;
    // The receive thread's events reach the main thread through the loop.
    InOutPort1->PostToMainThread = [&host = FHost](std::function<void()> work) {
        host.PostToMainThread(std::move(work));
    };
    // The port's receive and send events feed the exchange monitor.
    InOutPort1->OnPriemDataReady = [this](TInOutPort& sender) { InOutPort1PriemDataReady(sender); };
    InOutPort1->OnPeredDataReady = [this](TInOutPort& sender) { InOutPort1PeredDataReady(sender); };
    // The receive thread closed a device that is gone, or opened it again.
    InOutPort1->OnPortOpenChange = [this](TInOutPort& sender) {
        Journal.PortChangedByReceiveThread(sender);
        ShowPortStatus();
    };
    InOutPort1->LoadConfig();
    Journal.Started(Caption(), *InOutPort1);
    Journal.FileLoaded("Файл настроек", InOutPort1->ExeDir + "CfgMBus.txt", InOutPort1->ConfigRead,
                       "действуют настройки по умолчанию");
    Journal.FileLoaded("Файл ручных значений", ManualEntriesPath(), FEntriesRead,
                       "список ручных значений пуст");
    // Started also when the port did not open (it then idles until stopped)
    // and when connecting the link failed: the slave serves the master
    // whatever the link does, and the link's error goes to the error report
    // afterwards.
    std::exception_ptr linkError;
    try {
        SettingsToControls();
    } catch (...) {
        linkError = std::current_exception();
    }
    InOutPort1->StartLooker();
    if (linkError) {
        std::rethrow_exception(linkError);
    }
}

void TFPelMBus::SettingsToControls() {
    TInOutPort& port = *InOutPort1;
    // Larger values than an up-down holds clamp to its maximum.
    const auto position = [](uint32_t value) {
        return static_cast<int>(std::min<uint32_t>(value, INT_MAX));
    };

    ComboBox2.SetItemIndex(0);
    FInspectorFloat = false;
    Edit10.SetText(port.StrPort);
    UpDown1.SetPosition(port.SlaveNomer);
    Edit1.SetText(std::to_string(UpDown1.Position()));
    UpDown3.SetPosition(position(port.UstUsredn));
    UpDown4.SetPosition(position(port.UstUsrednCl()));
    Edit3.SetText(std::to_string(UpDown3.Position()));
    // A loaded value outside an up-down's range shows clamped, but its edit
    // may already have held that text, so that no change handler ran: the
    // port then gets the shown value here, and never serves another one (a
    // slave address of 0 would answer broadcasts).
    if (port.SlaveNomer != UpDown1.Position()) {
        Edit1Change();
    }
    if (port.UstUsredn != static_cast<uint32_t>(UpDown3.Position())) {
        Edit3Change();
    }
    if (port.UstUsrednCl() != static_cast<uint32_t>(UpDown4.Position())) {
        Edit7Change();
    }
    // The polling cycle keeps its loaded value until the operator clicks its
    // up-down.
    UpDown2.SetPosition(position(port.CiclOprosa));

    port.StrPort = Edit10.Text();
    port.SetPortActive(true);
    Journal.PortOpened(port, false);
    ShowPortStatus();

    // The register inspector starts at register 0 in integer form.
    RegNomerMax = 512;
    RegNomerMin = 1;
    RegNomer = 1;
    Edit4.SetText("1");
    Edit4Change();

    UpDown5.SetPosition(port.ZaderOtveta);
    // A loaded delay beyond the up-down's range shows clamped; the port
    // serves the shown one, not a pause of seconds per byte.
    if (port.ZaderOtveta != UpDown5.Position()) {
        port.ZaderOtveta = static_cast<uint16_t>(UpDown5.Position());
    }
    for (int i = 0; i < DataKindCount; ++i) {
        CheckListBox1.SetChecked(i, port.DataFlags[static_cast<size_t>(i)]);
    }
    CheckBox1.SetChecked(port.DataFlags[9]);
    ConnectPelApp(CheckBox1.Checked());
}

void TFPelMBus::FormClose() {
    if (!InOutPort1) {
        return;
    }
    // Each failure is noted and the close goes on, so that every step runs;
    // the operator is then told once, naming each file kept and why.
    std::vector<std::string> failures;
    SaveManualEntriesOnClose(failures);
    InOutPort1->StopLooker();
    InOutPort1->SetPortActive(false);
    SaveConfigOnClose(failures);
    for (const std::string& failure : failures) {
        Journal.SaveFailed(failure);
    }
    std::string disconnectError;
    {
        const TLinkCauseScope cause(Journal, TLinkCause::Close);
        RunCloseStep(
            [this] {
                ConnectPelApp(false);
                return true;
            },
            disconnectError);
    }
    Journal.Closed(InOutPort1->Counters);
    InOutPort1.reset();

    CloseFailure = JoinedLines(failures);
    // Told before the program ends: otherwise the change would be lost
    // without a word. After a signal nobody may be at the screen: the
    // program tells it without a window.
    if (QuietClose) {
        if (!disconnectError.empty()) {
            CloseFailure += (CloseFailure.empty() ? "" : "\n") + disconnectError;
        }
        return;
    }
    if (!CloseFailure.empty()) {
        FHost.ShowMessage(CloseFailure);
    }
    if (!disconnectError.empty()) {
        FHost.ShowError(disconnectError);
    }
}

void TFPelMBus::SaveForSessionEnd() {
    if (!InOutPort1) {
        return;
    }
    std::vector<std::string> failures;
    SaveManualEntriesOnClose(failures);
    SaveConfigOnClose(failures);
    for (const std::string& failure : failures) {
        Journal.SaveFailed(failure);
    }
    CloseFailure = JoinedLines(failures);
}

void TFPelMBus::SaveManualEntriesOnClose(std::vector<std::string>& failures) {
    std::string why;
    if (!RunCloseStep([&] { return SaveManualEntries(why); }, why)) {
        const std::string what = "Не удалось сохранить ручные значения в файл \"" +
                                 ManualEntriesPath() + "\", он оставлен без изменений";
        failures.push_back(why.empty() ? what : what + ": " + why);
    }
}

void TFPelMBus::SaveConfigOnClose(std::vector<std::string>& failures) {
    std::string why;
    if (!RunCloseStep([&] { return InOutPort1->SaveConfig(why); }, why)) {
        const std::string what = "Не удалось сохранить настройки в файл \"" + InOutPort1->ExeDir +
                                 "CfgMBus.txt\", он оставлен без изменений";
        failures.push_back(why.empty() ? what : what + ": " + why);
    }
}

void TFPelMBus::WMMBusData(uintptr_t wParam, intptr_t /*lParam*/) {
    if (!InOutPort1) {
        return; // a message still queued after the close
    }
    switch (wParam) {
    case MBusDataPriem:
        ShowPriemFrame();
        break;
    case MBusDataPered:
        ShowPeredFrame();
        break;
    case MBusDataRefresh:
        RefreshMessage();
        break;
    default:
        break;
    }
}

void TFPelMBus::Timer1Timer() {
    if (!InOutPort1 || !InOutPort1->DataFlags[9]) {
        return;
    }
    // Unsigned difference: correct across the tick's wrap at 2^32.
    const uint32_t now = FHost.TickCount();
    if (now - LastReportTick > 60000u) {
        Journal.WatchdogReconnect(InOutPort1->ServerPel ? "CltPel.exe" : "Pel.exe",
                                  now - LastReportTick);
        const TLinkCauseScope cause(Journal, TLinkCause::Watchdog);
        ConnectPelApp(false);
        ConnectPelApp(true);
    }
}

} // namespace pelmbus
