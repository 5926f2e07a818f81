// The window system's services for the main window, from Qt.
#pragma once

#include "FormHost.h"
#include "HandOverQueue.h"

#include <QMessageBox>

#include <functional>
#include <memory>
#include <vector>

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
    // For a close that must not run inside a message window's loop: the code
    // that opened the window still uses the form once the window returns.
    // Closes every open message window as if its OK button was pressed and
    // shows none from then on (their texts go to standard error, as nobody
    // may be at the screen); then runs then() from the message loop once the
    // outermost window's loop has returned, or at once when none is open.
    void EndMessages(std::function<void()> then);
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
    void ShowBox(QMessageBox::Icon icon, const std::string& text);

    QWidget* FWindow = nullptr;
    // The message windows whose loops run now, the innermost last.
    std::vector<QMessageBox*> FOpenBoxes;
    bool FMessagesEnded = false;
    std::function<void()> FAfterMessages;
    THandOverQueue FHandOvers;
    // Wakes the loop for the hand-overs: one write from the receive thread,
    // none of Qt's event posting on its side of the request path.
    int FWakeFd = -1;
    std::unique_ptr<QSocketNotifier> FWakeNotifier;
};

} // namespace pelmbus
