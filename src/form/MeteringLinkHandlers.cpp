// The window's side of the metering application link: connecting and
// disconnecting the link that ServerPel selects, its data event, and the
// report refresh that the event queues.
#include "UPelMBus.h"

#include "AutomationErrors.h"
#include "ReportRefresh.h"

namespace pelmbus {

namespace {

// Drops a link whose connect failed; a disconnect that fails as well leaves
// nothing that could still be subscribed, so its error is of no use.
void ReleaseFailedLink(std::unique_ptr<MeteringLink>& link) {
    if (!link) {
        return;
    }
    try {
        link->Disconnect();
    } catch (const std::exception&) {
    }
    link.reset();
}

// The text of the exception being handled.
std::string CurrentErrorText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Неизвестная ошибка";
    }
}

} // namespace

void TFPelMBus::JournalLinkFailure(const std::string& program, bool connect,
                                   const std::string& error, bool unticked) {
    if (connect) {
        // The watchdog's disconnect has unticked the box already; its failed
        // reconnect leaves it so.
        Journal.LinkConnectFailed(program, error,
                                  unticked || Journal.LinkCause == TLinkCause::Watchdog);
    } else {
        Journal.LinkDisconnectFailed(program, error);
    }
}

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
            Journal.LinkConnected("Pel.exe", AutoPel->StartedProgram());
            if (!CheckBox1.Checked()) {
                CheckBox1.SetChecked(true);
            }
        } else if (AutoPel) {
            AutoPel->Disconnect();
            AutoPel.reset();
            Journal.LinkDisconnected("Pel.exe");
            if (CheckBox1.Checked()) {
                CheckBox1.SetChecked(false);
            }
        }
    } catch (const EAutomationSystemError& e) {
        JournalLinkFailure("Pel.exe", connect, e.what(), CheckBox1.Checked());
        AutoPel.reset();
        if (CheckBox1.Checked()) {
            CheckBox1.SetChecked(false);
        }
    } catch (const std::exception& e) {
        JournalLinkFailure("Pel.exe", connect, e.what(), connect && CheckBox1.Checked());
        if (connect) {
            // A wrapper that failed to connect is released, so that the next
            // connect makes a new one instead of finding this one.
            ReleaseFailedLink(AutoPel);
            if (CheckBox1.Checked()) {
                CheckBox1.SetChecked(false);
            }
        }
        // A failed disconnect keeps what the link held.
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
            Journal.LinkConnected("CltPel.exe", AutoCltPel->StartedProgram());
            if (!CheckBox1.Checked()) {
                CheckBox1.SetChecked(true);
            }
        } else if (AutoCltPel) {
            AutoCltPel->Disconnect();
            AutoCltPel.reset();
            Journal.LinkDisconnected("CltPel.exe");
            if (CheckBox1.Checked()) {
                CheckBox1.SetChecked(false);
            }
        }
    } catch (const EAutomationSystemError& e) {
        JournalLinkFailure("CltPel.exe", connect, e.what(), CheckBox1.Checked());
        AutoCltPel.reset();
        if (CheckBox1.Checked()) {
            CheckBox1.SetChecked(false);
        }
    } catch (...) {
        JournalLinkFailure("CltPel.exe", connect, CurrentErrorText(), false);
        if (connect) {
            ReleaseFailedLink(AutoCltPel);
        }
        throw;
    }
}

// Never calls the application from inside its own event: the refresh runs
// when the loop delivers the message.
void TFPelMBus::AutoPel1RefreshData(MeteringLink& /*sender*/, int32_t /*ind*/) {
    ++FRefreshesQueued;
    FHost.PostWindowMessage(WM_MBUSDATA, MBusDataRefresh, 0);
}

// Events that came while a refresh was queued or running collapse into the
// last of their messages: one refresh fetches the newest data for all of
// them, and an application that keeps failing costs one failed refresh per
// batch of events, not one per event.
void TFPelMBus::RefreshMessage() {
    if (FRefreshesQueued > 0) {
        --FRefreshesQueued;
    }
    if (FRefreshesQueued > 0) {
        return;
    }
    // The journal keeps what the error box shows, which nobody may see.
    try {
        ReportRefresh();
    } catch (const std::exception& e) {
        Journal.RefreshFailed(e.what());
        throw;
    }
    Journal.RefreshSucceeded();
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
