// The window's side of the metering application link: connecting and
// disconnecting the link that ServerPel selects, its data event, and the
// report refresh that the event queues.
#include "UPelMBus.h"

#include "AutomationErrors.h"
#include "ReportRefresh.h"

namespace pelmbus {

void TFPelMBus::ConnectPelApp(bool connect) {
    if (InOutPort1->ServerPel) {
        ConnectAutoCltPel(connect);
    } else {
        ConnectAutoPel(connect);
    }
}

// A failed connect leaves the link empty and the box unticked, which clears
// flag 9, so the watchdog stops retrying. No message: the operator sees the
// box, and ticks it again once the program is there.
void TFPelMBus::ConnectAutoPel(bool connect) {
    try {
        if (connect) {
            if (AutoPel) {
                return;
            }
            AutoPel = FHost.CreateAutoPel();
            AutoPel->OnRefreshData = [this](MeteringLink& sender, int32_t ind) {
                AutoPel1RefreshData(sender, ind);
            };
            AutoPel->Connect();
            if (!CheckBox1.Checked()) {
                CheckBox1.SetChecked(true);
            }
        } else if (AutoPel) {
            AutoPel->Disconnect();
            AutoPel.reset();
            if (CheckBox1.Checked()) {
                CheckBox1.SetChecked(false);
            }
        }
    } catch (const EAutomationSystemError&) {
        AutoPel.reset();
        if (CheckBox1.Checked()) {
            CheckBox1.SetChecked(false);
        }
    } catch (const std::exception&) {
        // The link keeps what it held; unticking disconnects and empties it.
        if (connect && CheckBox1.Checked()) {
            CheckBox1.SetChecked(false);
        }
    }
}

// The same for the client program, except that only a failure to obtain the
// program is quiet: any other error reaches the default error report.
void TFPelMBus::ConnectAutoCltPel(bool connect) {
    try {
        if (connect) {
            if (AutoCltPel) {
                return;
            }
            AutoCltPel = FHost.CreateAutoCltPel();
            AutoCltPel->OnRefreshData = [this](MeteringLink& sender, int32_t ind) {
                AutoPel1RefreshData(sender, ind);
            };
            AutoCltPel->Connect();
            if (!CheckBox1.Checked()) {
                CheckBox1.SetChecked(true);
            }
        } else if (AutoCltPel) {
            AutoCltPel->Disconnect();
            AutoCltPel.reset();
            if (CheckBox1.Checked()) {
                CheckBox1.SetChecked(false);
            }
        }
    } catch (const EAutomationSystemError&) {
        AutoCltPel.reset();
        if (CheckBox1.Checked()) {
            CheckBox1.SetChecked(false);
        }
    }
}

// Never calls the application from inside its own event: the refresh runs
// when the loop delivers the message.
void TFPelMBus::AutoPel1RefreshData(MeteringLink& /*sender*/, int32_t /*ind*/) {
    FHost.PostMessage(WM_MBUSDATA, MBusDataRefresh, 0);
}

void TFPelMBus::ReportRefresh() {
    MeteringLink* link = InOutPort1->ServerPel ? AutoCltPel.get() : AutoPel.get();
    if (link == nullptr) {
        return; // a refresh still queued after a disconnect
    }
    ReportSources sources;
    sources.DoCommand = [link](const std::string& command) { return link->DoCommand(command); };
    sources.ManualEntries = &lbParams.Items();
    sources.Format = FFormat;
    sources.GetTickCount = [this] { return FHost.TickCount(); };
    pelmbus::ReportRefresh(*InOutPort1, sources, LastReportTick);
    RefreshInspectorAfterReport();
}

} // namespace pelmbus
