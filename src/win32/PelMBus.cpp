// Program start: the main thread's COM apartment for the automation link,
// the common controls, the one window, and the message loop until the
// window closes.
#include "ComApartment.h"
#include "Journal.h"
#include "OneProgramPerDirectory.h"
#include "SystemServices.h"
#include "TimerThrottling.h"
#include "UPelMBus.h"
#include "WideText.h"
#include "Win32FormHost.h"
#include "Win32FormView.h"

#include <windows.h>

#include <commctrl.h>

#include <memory>

using namespace pelmbus;

namespace {

std::wstring ExecutablePath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
    // A second start in the same directory would share the port and the
    // files with the first: it shows the first window instead.
    const TDirectoryClaim claim(WideFromUtf8(ExecutableDirectory()));
    if (!claim.First()) {
        (void)BringRunningWindowForward(ExecutablePath());
        return 0;
    }
    // The receive thread's fine timer must hold while the window is
    // minimized, as it is at a station.
    (void)KeepTimerResolutionWhileHidden();
    const ComApartment apartment;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS |
                                                       ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    TWin32FormHost host;
    TJournal journal(host.ExecutableDirectory() + TJournal::FileName);
    TFPelMBus form(host);
    form.Journal.Sink = &journal;
    std::unique_ptr<TWin32FormView> window;
    try {
        window = std::make_unique<TWin32FormView>(form, instance);
    } catch (const std::exception& error) {
        // Told where it can be seen; the program must not stay alive
        // without a window.
        MessageBoxW(nullptr, WideFromUtf8(error.what()).c_str(), L"ModBus",
                    MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
        return 1;
    }
    TWin32FormView& view = *window;
    host.SetView(&view);
    view.OnMBusData = [&form](uintptr_t wParam, intptr_t lParam) {
        form.RunGuarded([&] { form.WMMBusData(wParam, lParam); });
    };
    view.OnClose = [&form] { form.RunGuarded([&] { form.FormClose(); }); };
    // A close posted while a message window is open (taskkill) ends that
    // window first and runs from this loop, once.
    view.DeferClose = [&host] { return host.EndMessagesBeforeClose(); };
    view.OnSessionEnd = [&form](bool callOnStack) {
        form.Journal.CloseCause = TCloseCause::Shutdown;
        if (callOnStack) {
            form.SaveForSessionEnd();
        }
    };

    // The start may wait for the station's program; a session end inside
    // that wait is one during a handler.
    view.RunHandler([&form] { form.RunGuarded([&] { form.FormCreate(); }); });
    view.Show(showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!view.PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    host.SetView(nullptr);
    return static_cast<int>(message.wParam);
}
