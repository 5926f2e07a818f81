// The settings tab: port string, slave address, delays, averaging set points
// and the choice of data kinds, and the guard that keeps the operator on the
// tab while a choice is open.
#include "UPelMBus.h"

#include "DataKinds.h"

namespace pelmbus {

void TFPelMBus::ShowPortStatus() {
    shStatus.SetBrushColor(InOutPort1->PortOpen ? clLime : clGreen);
}

// Any key, not filtered: the string is being edited, so "Ввод" applies it
// and the watchdog waits until then.
void TFPelMBus::Edit10KeyPress(char& /*key*/) {
    Button6.SetEnabled(true);
    Timer1.SetEnabled(false);
}

void TFPelMBus::Button6Click() {
    TInOutPort& port = *InOutPort1;
    port.StopLooker();
    port.StrPort = Edit10.Text();
    port.SetPortActive(true);
    Journal.PortOpened(port, true);
    ShowPortStatus();
    if (port.PortOpen) {
        Button6.SetEnabled(false);
    }
    // Also when the port did not open: the thread tries the settings again
    // every few seconds, for an adapter that is plugged in later.
    port.StartLooker();
    Timer1.SetEnabled(true);
}

void TFPelMBus::Edit1Change() {
    InOutPort1->SlaveNomer = static_cast<uint8_t>(UpDown1.Position());
}

void TFPelMBus::Edit3Change() {
    InOutPort1->UstUsredn = static_cast<uint32_t>(UpDown3.Position());
}

// Also resizes and clears the sliding window.
void TFPelMBus::Edit7Change() {
    InOutPort1->SetUstUsrednCl(static_cast<uint32_t>(UpDown4.Position()));
}

void TFPelMBus::UpDown2Click(TUDBtnType /*button*/) {
    InOutPort1->CiclOprosa = static_cast<uint32_t>(UpDown2.Position());
}

void TFPelMBus::UpDown5Click(TUDBtnType /*button*/) {
    InOutPort1->ZaderOtveta = static_cast<uint16_t>(UpDown5.Position());
}

void TFPelMBus::SetSelectionMode(bool on) {
    CheckListBox1.SetEnabled(on);
    CheckListBox1.SetVisible(on);
    Button1.SetEnabled(!on);
    Button7.SetEnabled(on);
    for (TControl* control :
         std::initializer_list<TControl*>{&TabSheet2, &TabSheet3, &GroupBox5, &GroupBox1,
                                          &GroupBox2, &CheckBox1, &UpDown3, &UpDown4}) {
        control->SetEnabled(!on);
    }
}

void TFPelMBus::Button1Click() {
    SetSelectionMode(true);
}

void TFPelMBus::Button7Click() {
    bool any = false;
    for (int i = 0; i < DataKindCount; ++i) {
        any = any || CheckListBox1.Checked(i);
    }
    const bool current = CheckListBox1.Checked(0);
    if (!any) {
        FHost.ShowMessage("Ни один из видов данных не выбран");
        return;
    }
    if (CheckListBox1.Checked(AccumAverageKind) && !current) {
        FHost.ShowMessage("Усреднение не может производиться без текущих параметров");
        return;
    }
    if (CheckListBox1.Checked(SlidingAverageKind) && !current) {
        FHost.ShowMessage(
            "Расчет скользящего среднего не может производиться без текущих значений");
        return;
    }
    for (int i = 0; i < DataKindCount; ++i) {
        InOutPort1->DataFlags[static_cast<size_t>(i)] = CheckListBox1.Checked(i);
    }
    SetSelectionMode(false);
}

void TFPelMBus::CheckBox1Click() {
    InOutPort1->DataFlags[9] = CheckBox1.Checked();
    const TLinkCauseScope cause(Journal, TLinkCause::Operator);
    ConnectPelApp(CheckBox1.Checked());
}

// Both tests run; each one that holds refuses the change with its message.
void TFPelMBus::PageControl1Changing(bool& allowChange) {
    if (Button7.Enabled()) {
        allowChange = false;
        FHost.ShowMessage("Вы не зафиксировали выбранные параметры");
    }
    if (Button3.Enabled()) {
        allowChange = false;
        FHost.ShowMessage("Вы не закончили изменение содержимого регистров");
    }
}

} // namespace pelmbus
