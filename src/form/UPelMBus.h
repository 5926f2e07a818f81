// TFPelMBus: the program's only window. It owns the port component, shows
// and edits its settings on the settings tab, keeps the manual register
// entries, and turns the port's and the metering link's events into
// WM_MBUSDATA work for the message loop.
#pragma once

#include "Controls.h"
#include "FormHost.h"
#include "InOutPort.h"
#include "MeteringLink.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelmbus {

class TFPelMBus : public TForm {
public:
    explicit TFPelMBus(TFormHost& host);
    ~TFPelMBus() override;

    // Window events.
    void FormCreate();
    void FormClose();
    // The handler of WM_MBUSDATA: the work of the code in wParam.
    void WMMBusData(uintptr_t wParam, intptr_t lParam);

    void SettingsToControls();

    // Settings tab.
    void Edit10KeyPress(char& key);
    void Button6Click();
    void Edit1Change();
    void Edit3Change();
    void Edit7Change();
    void UpDown2Click(TUDBtnType button);
    void UpDown5Click(TUDBtnType button);
    void Button1Click();
    void Button7Click();
    void CheckBox1Click();
    void PageControl1Changing(bool& allowChange);
    void Timer1Timer();

    // Connects to or disconnects from the metering application that
    // ServerPel selects.
    void ConnectPelApp(bool connect);
    void ConnectAutoPel(bool connect);
    void ConnectAutoCltPel(bool connect);
    // The link's data event: queues the report refresh.
    void AutoPel1RefreshData(MeteringLink& sender, int32_t ind);
    // WM_MBUSDATA 230: the reports of the selected kinds through the link.
    void ReportRefresh();

    // Manual register entries: "RegData.mrd" beside the executable.
    void LoadManualEntries();
    bool SaveManualEntries();

    // Program-wide state of the window, main thread only.
    std::unique_ptr<TInOutPort> InOutPort1;
    std::string ExeDir;
    int16_t RegNomer = 1;
    int16_t RegNomerMin = 1;
    int16_t RegNomerMax = 512;
    int32_t ManualRegNum = 178;
    uint32_t LastReportTick = 0;
    // Links to the server and the client program; empty while disconnected.
    std::unique_ptr<MeteringLink> AutoPel;
    std::unique_ptr<MeteringLink> AutoCltPel;

    // Controls, in the order they are built (parents first). Positions are
    // client coordinates of the parent, in pixels.
    TPageControl PageControl1{this, "PageControl1", {0, 0, 250, 211}};
    TTabSheet TabSheet1{PageControl1, "TabSheet1", "Настройка"};
    TTabSheet TabSheet2{PageControl1, "TabSheet2", "Обмен"};
    TTabSheet TabSheet3{PageControl1, "TabSheet3", "Ручн. ввод"};
    TTabSheet SetSheet{PageControl1, "SetSheet", "Контроль"};

    TGroupBox GroupBox5{&TabSheet1, "GroupBox5", {4, 2, 234, 42}, "Настройка СОМ порта"};
    TEdit Edit10{&GroupBox5, "Edit10", {8, 16, 146, 20}, "COM1:9600,N,8,2"};
    TButton Button6{&GroupBox5, "Button6", {158, 15, 46, 22}, "Ввод"};
    TShape shStatus{&GroupBox5, "shStatus", {210, 17, 16, 18}};

    TGroupBox GroupBox1{&TabSheet1, "GroupBox1", {4, 46, 114, 40}, "Slave"};
    TLabel Label3{&GroupBox1, "Label3", {8, 19, 44, 14}, "Номер  "};
    TEdit Edit1{&GroupBox1, "Edit1", {54, 15, 36, 20}, "1"};
    TUpDown UpDown1{&GroupBox1, "UpDown1", {90, 15, 16, 20}, Edit1, 1, 247, 1, 1};

    TGroupBox GroupBox8{&TabSheet1, "GroupBox8", {4, 88, 114, 40}, "Задержка"};
    TEdit Edit8{&GroupBox8, "Edit8", {8, 15, 46, 20}, "10"};
    TUpDown UpDown5{&GroupBox8, "UpDown5", {54, 15, 16, 20}, Edit8, 0, 200, 1, 10};
    TLabel Label9{&GroupBox8, "Label9", {76, 19, 20, 14}, "мс"};

    TGroupBox GroupBox2{&TabSheet1, "GroupBox2", {4, 130, 114, 40}, "Опрос"};
    TEdit Edit2{&GroupBox2, "Edit2", {8, 15, 46, 20}, "50"};
    TUpDown UpDown2{&GroupBox2, "UpDown2", {54, 15, 16, 20}, Edit2, 5, 1000, 5, 50};
    TLabel Label5{&GroupBox2, "Label5", {76, 19, 20, 14}, "мс"};

    TGroupBox GroupBox6{&TabSheet1, "GroupBox6", {122, 46, 116, 134}, "Другие"};
    TCheckBox CheckBox1{&GroupBox6, "CheckBox1", {8, 15, 104, 18}, "Сервер ПЕЛ"};
    TLabel Label6{&GroupBox6, "Label6", {6, 40, 64, 14}, "Усреднение  "};
    TEdit Edit3{&GroupBox6, "Edit3", {72, 36, 28, 20}, "6"};
    TUpDown UpDown3{&GroupBox6, "UpDown3", {100, 36, 14, 20}, Edit3, 1, 300, 1, 6};
    TLabel Label4{&GroupBox6, "Label4", {6, 60, 64, 14}, "Скользящее"};
    TLabel Label2{&GroupBox6, "Label2", {6, 72, 64, 14}, "Усреднение  "};
    TEdit Edit7{&GroupBox6, "Edit7", {72, 63, 28, 20}, "6"};
    TUpDown UpDown4{&GroupBox6, "UpDown4", {100, 63, 14, 20}, Edit7, 1, 300, 1, 6};
    TButton Button1{&GroupBox6, "Button1", {8, 88, 100, 20}, "Выбор данных"};
    TButton Button7{&GroupBox6, "Button7", {8, 110, 100, 20}, "Принять"};

    // Shown over the middle of the tab while the data kinds are chosen.
    TCheckListBox CheckListBox1{&TabSheet1, "CheckListBox1", {8, 30, 224, 124}, DataKindTexts()};

    // Manual input tab: the entry being edited and the list of entries.
    TLabel Label11{&TabSheet3, "Label11", {6, 4, 60, 14}, "Регистр:"};
    TEdit eRegNum{&TabSheet3, "eRegNum", {6, 18, 44, 20}, "100"};
    TLabel Label12{&TabSheet3, "Label12", {72, 4, 60, 14}, "Данные:"};
    TEdit eParam{&TabSheet3, "eParam", {72, 18, 66, 20}, "100,000"};
    TLabel Label13{&TabSheet3, "Label13", {142, 4, 90, 14}, "Параметр:"};
    TEdit eComment{&TabSheet3, "eComment", {142, 18, 94, 20}, "Параметр №1"};
    TListBox lbParams{&TabSheet3, "lbParams", {6, 44, 230, 134}};

    // The register inspector's "Ввод": enabled while an inspector edit is
    // pending, which keeps the operator on that tab.
    TButton Button3{&SetSheet, "Button3", {150, 96, 60, 22}, "Ввод"};

    TTimer Timer1{*this, "Timer1", 60000};

private:
    static std::vector<std::string> DataKindTexts();
    std::string ManualEntriesPath() const;
    // Controls disabled while the data kinds are chosen.
    void SetSelectionMode(bool on);
    void ShowPortStatus();

    TFormHost& FHost;
    TFormatSettings FFormat;
};

} // namespace pelmbus
