// The register inspector tab: any holding register of BufReg, read and
// written directly as a Modbus master sees it, either as one 16-bit integer
// or as a single-precision float over two registers. BufFloat is not
// touched, so the next report refresh or conversion rewrites what is written
// into registers 0 to 219.
#include "UPelMBus.h"

#include "LocaleNumbers.h"
#include "SinglePrecision.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace pelmbus {

namespace {

constexpr int IntegerItem = 0;
constexpr int FloatItem = 1;

// Bytes of BufReg that one representation covers.
int ValueWidth(int item) {
    return item == IntegerItem ? 2 : 4;
}

// "%1.3f": fixed, three decimals, the locale's separator.
std::string FormatFixed3(float value, const TFormatSettings& format) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    return FormatFixed(value, 3, format);
}

std::string FormatHex(const char* picture, uint32_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, picture, static_cast<unsigned>(value));
    return buffer;
}

} // namespace

void TFPelMBus::BindInspector() {
    Edit4.OnChange = [this] { Edit4Change(); };
    SpinButton1.OnUpClick = [this] { SpinButton1UpClick(); };
    SpinButton1.OnDownClick = [this] { SpinButton1DownClick(); };
    ComboBox2.OnChange = [this] { ComboBox2Change(); };
    Edit5.OnKeyPress = [this](char& key) { Edit5KeyPress(key); };
    Edit6.ReadOnly = true;
    Button3.OnClick = [this] { Button3Click(); };
    Button2.OnClick = [this] { Button2Click(); };
    SetInspectorEditMode(false);
}

void TFPelMBus::Edit4Change() {
    ShowInspectedRegister(true);
}

void TFPelMBus::ShowInspectedRegister(bool showValue) {
    // Setting Edit4's text below runs this handler again; that inner run has
    // nothing to add.
    if (FInspectorRefreshing) {
        return;
    }
    FInspectorRefreshing = true;
    struct TClearOnExit {
        bool& Flag;
        ~TClearOnExit() { Flag = false; }
    } done{FInspectorRefreshing};

    Edit4.SetText(std::to_string(RegNomer - 1));
    const int item = ComboBox2.ItemIndex();
    if (!InOutPort1 || (item != IntegerItem && item != FloatItem)) {
        return;
    }
    const int offset = 2 * (RegNomer - 1);
    const int width = ValueWidth(item);
    if (offset < 0 || offset + width > TInOutPort::BlockSize) {
        return; // a position outside the image shows nothing rather than reading past it
    }
    uint32_t bits = 0;
    {
        std::lock_guard lock(InOutPort1->ImageMutex);
        for (int i = 0; i < width; ++i) {
            bits = (bits << 8) | InOutPort1->BufReg[static_cast<size_t>(offset + i)];
        }
    }
    if (item == IntegerItem) {
        if (showValue) {
            Edit5.SetText(std::to_string(bits));
        }
        Edit6.SetText(FormatHex("%12.4X", bits));
    } else {
        if (showValue) {
            Edit5.SetText(FormatFixed3(std::bit_cast<float>(bits), FFormat));
        }
        Edit6.SetText(FormatHex("%.8X", bits));
    }
}

// Both directions wrap. A position beyond a bound (none arises) counts as
// the bound, so the next step brings it back.
void TFPelMBus::SpinButton1UpClick() {
    const int item = ComboBox2.ItemIndex();
    if (item == IntegerItem || item == FloatItem) {
        const int step = item == IntegerItem ? 1 : 2;
        RegNomer = static_cast<int16_t>(RegNomer >= RegNomerMax ? RegNomerMin : RegNomer + step);
    }
    Edit4Change();
}

void TFPelMBus::SpinButton1DownClick() {
    const int item = ComboBox2.ItemIndex();
    if (item == IntegerItem || item == FloatItem) {
        const int step = item == IntegerItem ? 1 : 2;
        RegNomer = static_cast<int16_t>(RegNomer <= RegNomerMin ? RegNomerMax : RegNomer - step);
    }
    Edit4Change();
}

// A float starts at an even register: an even position moves down to the
// odd one before it. The upper bound is 511 for floats, 512 for integers.
void TFPelMBus::ComboBox2Change() {
    const int item = ComboBox2.ItemIndex();
    if (item == FloatItem && !FInspectorFloat) {
        if (RegNomer % 2 == 0) {
            --RegNomer;
        }
        --RegNomerMax;
        FInspectorFloat = true;
    } else if (item == IntegerItem && FInspectorFloat) {
        ++RegNomerMax;
        FInspectorFloat = false;
    }
    Edit4Change();
}

void TFPelMBus::SetInspectorEditMode(bool on) {
    Button3.SetEnabled(on);
    Button2.SetEnabled(on);
    SpinButton1.SetEnabled(!on);
    ComboBox2.SetEnabled(!on);
}

// Any key, not filtered (Enter too): a value is being typed.
void TFPelMBus::Edit5KeyPress(char& /*key*/) {
    SetInspectorEditMode(true);
}

void TFPelMBus::Button2Click() {
    SetInspectorEditMode(false);
    Edit4Change();
}

void TFPelMBus::Button3Click() {
    const int item = ComboBox2.ItemIndex();
    const int offset = 2 * (RegNomer - 1);
    if (InOutPort1 && (item == IntegerItem || item == FloatItem) && offset >= 0 &&
        offset + ValueWidth(item) <= TInOutPort::BlockSize) {
        uint32_t bits = 0;
        if (item == IntegerItem) {
            // Stored modulo 65536: -1 becomes 65535, 70000 becomes 4464.
            int32_t value = 0;
            if (!TryStrToInt(Edit5.Text(), value)) {
                Edit5.SetText("Ошибка");
                return;
            }
            bits = static_cast<uint32_t>(value) & 0xFFFFu;
        } else {
            // A number beyond the single-precision range has no float to
            // write: it is refused like text that is not a number.
            double value = 0.0;
            if (!TryStrToFloat(Edit5.Text(), value, FFormat) || !FitsSingle(value)) {
                Edit5.SetText("Ошибка");
                return;
            }
            bits = std::bit_cast<uint32_t>(static_cast<float>(value));
        }
        const int width = ValueWidth(item);
        std::lock_guard lock(InOutPort1->ImageMutex);
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (width - 1 - i);
            InOutPort1->BufReg[static_cast<size_t>(offset + i)] =
                static_cast<uint8_t>(bits >> shift);
        }
    }
    Edit4Change();
    SetInspectorEditMode(false);
}

// In edit mode Edit5 holds what the operator is typing: the new data must
// not replace it, or "Ввод" would store a value never typed.
void TFPelMBus::RefreshInspectorAfterReport() {
    if (&PageControl1.Page(PageControl1.ActivePageIndex()) == &SetSheet) {
        ShowInspectedRegister(!Button3.Enabled());
    }
}

} // namespace pelmbus
