// The window system's services for the main window, from Qt.
#pragma once

#include "FormHost.h"
#include "HandOverQueue.h"

#include <memory>

class QSocketNotifier;
class QWidget;

namespace pelmbus {

class TQtFormHost : public TFormHost {
public:
    // Needs the application object: the loop it watches is that thread's.
    TQtFormHost();
    ~TQtFormHost() override;
    TQtFormHost(const TQtFormHost&) = delete;
    TQtFormHost& operator=(const TQtFormHost&) = delete;

    // window: where WM_MBUSDATA is posted; it owns the message windows.
    void SetWindow(QWidget* window) { FWindow = window; }

    void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    uint32_t TickCount() override;
    std::string ExecutableDirectory() override;
    TFormatSettings FormatSettings() override;
    // The receive thread's hand-overs: run by the message loop, and by the
    // links' waits for the metering application, which run nothing else.
    void PostToMainThread(std::function<void()> work) override;
    // The D-Bus links; their events arrive through this thread's loop.
    std::unique_ptr<MeteringLink> CreateAutoPel() override;
    std::unique_ptr<MeteringLink> CreateAutoCltPel() override;

private:
    void RunHandOvers();

    QWidget* FWindow = nullptr;
    THandOverQueue FHandOvers;
    // Wakes the loop for the hand-overs: one write from the receive thread,
    // none of Qt's event posting on its side of the request path.
    int FWakeFd = -1;
    std::unique_ptr<QSocketNotifier> FWakeNotifier;
};

} // namespace pelmbus
