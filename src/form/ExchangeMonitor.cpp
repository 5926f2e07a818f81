// The exchange monitor tab: the last request and response frames in
// hexadecimal with the local date and time. The port's events only copy the
// frame and post WM_MBUSDATA, so the receive thread waits no longer than the
// copy; the lines are made when the loop delivers the message.
#include "UPelMBus.h"

#include "DateTimeText.h"

#include <algorithm>

namespace pelmbus {

namespace {

// Light green, as the entry list.
constexpr TColor MonitorColor = RGBColor(209, 231, 209);
constexpr size_t MonitorLines = 4;

// The copy keeps the length as the port gave it, but never reads or writes
// more than the 1024 bytes of either buffer.
void CopyFrame(const std::array<uint8_t, TInOutPort::BlockSize>& from, int32_t length,
               std::array<uint8_t, TInOutPort::BlockSize>& to, int32_t& copyLength) {
    copyLength = length;
    if (length > 0) {
        std::copy_n(from.begin(), std::min(length, TInOutPort::BlockSize), to.begin());
    }
}

} // namespace

void TFPelMBus::BindExchangeMonitor() {
    for (TMemo* memo : {&Memo2, &Memo3}) {
        memo->Color = MonitorColor;
        memo->ScrollBars = TScrollStyle::ssBoth;
        memo->WordWrap = false;
    }
}

void TFPelMBus::InOutPort1PriemDataReady(TInOutPort& sender) {
    CopyFrame(sender.BufIn, sender.LenIn, PriemCopy, PriemLen);
    FHost.PostWindowMessage(WM_MBUSDATA, MBusDataPriem, 0);
}

void TFPelMBus::InOutPort1PeredDataReady(TInOutPort& sender) {
    CopyFrame(sender.BufOut, sender.LenOut, PeredCopy, PeredLen);
    FHost.PostWindowMessage(WM_MBUSDATA, MBusDataPered, 0);
}

void TFPelMBus::ShowPriemFrame() {
    AddMonitorLine(Memo2, PriemCopy, PriemLen);
}

void TFPelMBus::ShowPeredFrame() {
    AddMonitorLine(Memo3, PeredCopy, PeredLen);
}

// The time is read now, when the line is made. Lines the operator typed
// count as lines; one line is dropped per update, the oldest.
void TFPelMBus::AddMonitorLine(TMemo& memo, const std::array<uint8_t, TInOutPort::BlockSize>& frame,
                               int32_t length) {
    std::vector<std::string> lines = memo.Lines();
    lines.push_back(TInOutPort::FrameToHex(frame, length) + "   " +
                    DateTimeToStr(FHost.Now(), FFormat));
    if (lines.size() > MonitorLines) {
        lines.erase(lines.begin());
    }
    memo.SetLines(std::move(lines));
}

} // namespace pelmbus
