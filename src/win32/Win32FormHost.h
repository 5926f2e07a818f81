// The window system's services for the main window, from Win32.
#pragma once

#include "FormHost.h"
#include "MainThreadHandOvers.h"

namespace pelmbus {

class TWin32FormView;

class TWin32FormHost : public TFormHost {
public:
    // view: its window receives WM_MBUSDATA and owns the message windows.
    void SetView(TWin32FormView* view) { FView = view; }

    void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    // For a close that arrives inside a message window's loop, where the
    // code that opened the window still uses the form once it returns: ends
    // every open message window as if its OK button was pressed and posts
    // WM_CLOSE to the view again once the outermost one has returned. False,
    // doing nothing, when no message window is open.
    bool EndMessagesBeforeClose();
    uint32_t TickCount() override;
    std::string ExecutableDirectory() override;
    TFormatSettings FormatSettings() override;
    void PostToMainThread(std::function<void()> work) override;
    // The automation links; their events arrive through this thread's loop.
    std::unique_ptr<MeteringLink> CreateAutoPel() override;
    std::unique_ptr<MeteringLink> CreateAutoCltPel() override;

private:
    // While the main thread waits for the metering application, the
    // receive thread's hand-overs still run; nothing else of the loop does.
    class THandOvers : public MainThreadHandOvers {
    public:
        explicit THandOvers(TWin32FormHost& host) : FHost(host) {}
        void RunPending() override;
        void WaitForPending(std::chrono::steady_clock::time_point deadline) override;

    private:
        TWin32FormHost& FHost;
    };

    void ShowBox(const std::string& text, bool error);

    TWin32FormView* FView = nullptr;
    int FOpenMessages = 0;
    bool FCloseAfterMessages = false;
    THandOvers FHandOvers{*this};
};

} // namespace pelmbus
