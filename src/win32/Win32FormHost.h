// The window system's services for the main window, from Win32.
#pragma once

#include "FormHost.h"
#include "HandOverQueue.h"

#include <windows.h>

namespace pelmbus {

class TWin32FormView;

class TWin32FormHost : public TFormHost {
public:
    TWin32FormHost();
    ~TWin32FormHost() override;
    TWin32FormHost(const TWin32FormHost&) = delete;
    TWin32FormHost& operator=(const TWin32FormHost&) = delete;

    // view: its window receives WM_MBUSDATA and the hand-overs' drains, and
    // owns the message windows; nullptr once it is gone.
    void SetView(TWin32FormView* view);

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
    // The receive thread's hand-overs: run by the message loop, and by the
    // links' waits for the metering application, which run nothing else.
    void PostToMainThread(std::function<void()> work) override;
    // The automation links; their events arrive through this thread's loop.
    std::unique_ptr<MeteringLink> CreateAutoPel() override;
    std::unique_ptr<MeteringLink> CreateAutoCltPel() override;

private:
    void ShowBox(const std::string& text, bool error);

    TWin32FormView* FView = nullptr;
    int FOpenMessages = 0;
    bool FCloseAfterMessages = false;
    THandOverQueue FHandOvers;
    // Set whenever a hand-over is queued into an empty queue: the links'
    // waits wait on it as well as on the application.
    HANDLE FHandOverPosted;
};

} // namespace pelmbus
