// TFPelMBus: the program's only window. It owns the port component, shows
// and edits its settings on the settings tab, keeps the manual register
// entries, and turns the port's and the metering link's events into
// WM_MBUSDATA work for the message loop.
#pragma once

#include "Controls.h"
#include "FormHost.h"
#include "FormJournal.h"
#include "InOutPort.h"
#include "MeteringLink.h"

#include <array>
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
    // A close that a signal asked for: nobody may be at the screen, so
    // FormClose shows no message and the program reports CloseFailure.
    bool QuietClose = false;
    // What the last FormClose could not store, one text that names each file
    // kept and why (after a quiet close also a failed disconnect); empty when
    // everything was stored.
    std::string CloseFailure;
    // The session ends while a call to the station's program may still be
    // on the stack: the two files are stored now, as FormClose stores them,
    // and nothing the call uses is released. Failures go to CloseFailure.
    void SaveForSessionEnd();
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
    // WM_MBUSDATA 230: the refresh, unless a later message will run it.
    void RefreshMessage();
    // WM_MBUSDATA 230: the reports of the selected kinds through the link.
    void ReportRefresh();

    // Manual register entries: "RegData.mrd" beside the executable.
    void LoadManualEntries();
    bool SaveManualEntries(std::string& failure);
    // The two saves of a close; each failure is added to `failures`.
    void SaveManualEntriesOnClose(std::vector<std::string>& failures);
    void SaveConfigOnClose(std::vector<std::string>& failures);

    // Manual input tab.
    void sbRegUpClick();
    void sbRegDownClick();
    void AddBtnClick();
    void lbParamsClick();
    void DelBtnClick();
    void eParamKeyPress(char& key);
    void eCommentKeyPress(char& key);

    // Register inspector tab. Edit4Change is its refresh: register
    // RegNomer - 1 of BufReg in the chosen representation.
    void Edit4Change();
    void SpinButton1UpClick();
    void SpinButton1DownClick();
    void ComboBox2Change();
    void Edit5KeyPress(char& key);
    void Button2Click();
    void Button3Click();
    // The last step of a report refresh: while the inspector's tab is the
    // active one, the register it shows follows the new data.
    void RefreshInspectorAfterReport();

    // Exchange monitor tab: the port's events copy a frame and post
    // WM_MBUSDATA; the message adds the frame's line to its memo.
    void InOutPort1PriemDataReady(TInOutPort& sender);
    void InOutPort1PeredDataReady(TInOutPort& sender);
    void ShowPriemFrame();
    void ShowPeredFrame();

    // Program-wide state of the window, main thread only.
    std::unique_ptr<TInOutPort> InOutPort1;
    std::string ExeDir;
    // The last request and response frames, copied for the exchange monitor.
    std::array<uint8_t, TInOutPort::BlockSize> PriemCopy{};
    std::array<uint8_t, TInOutPort::BlockSize> PeredCopy{};
    int32_t PriemLen = 0;
    int32_t PeredLen = 0;
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

    // Exchange monitor tab: the last request and response frames.
    TLabel Label7{&TabSheet2, "Label7", {6, 2, 100, 14}, "Прием  "};
    TMemo Memo2{&TabSheet2, "Memo2", {4, 16, 238, 74}};
    TLabel Label8{&TabSheet2, "Label8", {6, 92, 100, 14}, "Передача  "};
    TMemo Memo3{&TabSheet2, "Memo3", {4, 106, 238, 74}};

    // Manual input tab: the entry being edited and the list of entries.
    TLabel Label11{&TabSheet3, "Label11", {6, 4, 60, 14}, "Регистр:"};
    TEdit eRegNum{&TabSheet3, "eRegNum", {6, 18, 36, 20}, "100"};
    TSpinButton sbReg{&TabSheet3, "sbReg", {42, 18, 15, 20}};
    TLabel Label12{&TabSheet3, "Label12", {62, 4, 60, 14}, "Данные:"};
    TEdit eParam{&TabSheet3, "eParam", {62, 18, 62, 20}, "100,000"};
    TLabel Label13{&TabSheet3, "Label13", {128, 4, 80, 14}, "Параметр:"};
    TEdit eComment{&TabSheet3, "eComment", {128, 18, 90, 20}, "Параметр №1"};
    TSpeedButton AddBtn{&TabSheet3, "AddBtn", {220, 16, 24, 24}, ""};
    TListBox lbParams{&TabSheet3, "lbParams", {6, 44, 238, 114}};
    TSpeedButton DelBtn{&TabSheet3, "DelBtn", {6, 160, 128, 22}, "Удалить параметр"};

    // Register inspector tab: one register as an integer or a float.
    TGroupBox GroupBox4{&SetSheet, "GroupBox4", {4, 2, 96, 46}, "Регистр"};
    TEdit Edit4{&GroupBox4, "Edit4", {8, 18, 62, 20}, ""};
    TSpinButton SpinButton1{&GroupBox4, "SpinButton1", {70, 18, 16, 20}};
    TGroupBox GroupBox7{&SetSheet, "GroupBox7", {104, 2, 140, 46}, "Представление"};
    TComboBox ComboBox2{&GroupBox7, "ComboBox2", {8, 18, 124, 20}, {"Целое", "Вещественное"}};
    TGroupBox GroupBox3{&SetSheet, "GroupBox3", {4, 52, 240, 80}, "Данные"};
    TLabel Label10{&GroupBox3, "Label10", {8, 22, 76, 14}, "Значение DEC"};
    TEdit Edit5{&GroupBox3, "Edit5", {86, 18, 94, 20}, ""};
    TButton Button3{&GroupBox3, "Button3", {184, 17, 50, 22}, "Ввод"};
    TLabel Label1{&GroupBox3, "Label1", {8, 50, 76, 14}, "Значение HEX"};
    TEdit Edit6{&GroupBox3, "Edit6", {86, 46, 94, 20}, ""};
    TButton Button2{&GroupBox3, "Button2", {184, 45, 50, 22}, "Сброс"};

    TTimer Timer1{*this, "Timer1", 60000};

    // The journal of what happened; the program gives it its file. Its own
    // timer, so that the hourly line does not wait while the watchdog does.
    TFormJournal Journal{[this] { return FHost.TickCount(); }};
    TTimer JournalTimer{*this, "JournalTimer", 60000};

private:
    static std::vector<std::string> DataKindTexts();
    std::string ManualEntriesPath() const;
    // "RegData.mrd" existed at start but could not be read: it is kept.
    bool FEntriesUnreadable = false;
    TTextFileRead FEntriesRead = TTextFileRead::Missing;
    // Controls disabled while the data kinds are chosen.
    void SetSelectionMode(bool on);
    void ShowPortStatus();
    // A failed connect or disconnect of `program`, for the journal.
    void JournalLinkFailure(const std::string& program, bool connect, const std::string& error,
                            bool unticked);
    // Handlers and looks of the three operator tabs, set once by the
    // constructor.
    void BindManualEntryTab();
    void BindInspector();
    void BindExchangeMonitor();
    // Inspector: edit mode (a typed value waits for "Ввод" or "Сброс") or
    // browsing.
    void SetInspectorEditMode(bool on);
    // The inspector's refresh; without showValue, Edit5 keeps its text.
    void ShowInspectedRegister(bool showValue);
    // Monitor: one line for a frame, at most four lines kept.
    void AddMonitorLine(TMemo& memo, const std::array<uint8_t, TInOutPort::BlockSize>& frame,
                        int32_t length);

    TFormHost& FHost;
    TFormatSettings FFormat;
    // The representation the inspector's bounds were set for, so that each
    // change of ComboBox2 moves RegNomerMax once.
    bool FInspectorFloat = false;
    bool FInspectorRefreshing = false;
    // Refresh messages posted and not yet delivered: all but the last are
    // passed over, so data events that come while a refresh waits or runs
    // make one more refresh, not one each.
    int FRefreshesQueued = 0;
};

} // namespace pelmbus
