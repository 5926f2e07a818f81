// Program start: the main thread's COM apartment for the automation link,
// the common controls, the one window, and the message loop until the
// window closes.
#include "ComApartment.h"
#include "Journal.h"
#include "TimerThrottling.h"
#include "UPelMBus.h"
#include "Win32FormHost.h"
#include "Win32FormView.h"

#include <windows.h>

#include <commctrl.h>

using namespace pelmbus;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
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
    TWin32FormView view(form, instance);
    host.SetView(&view);
    view.OnMBusData = [&form](uintptr_t wParam, intptr_t lParam) {
        form.RunGuarded([&] { form.WMMBusData(wParam, lParam); });
    };
    view.OnClose = [&form] { form.RunGuarded([&] { form.FormClose(); }); };
    // A close posted while a message window is open (taskkill) ends that
    // window first and runs from this loop, once.
    view.DeferClose = [&host] { return host.EndMessagesBeforeClose(); };

    form.RunGuarded([&] { form.FormCreate(); });
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
