// Program start: COM for the automation link in this thread's apartment,
// the common controls, the one window, and the message loop until the
// window closes.
#include "UPelMBus.h"
#include "Win32FormHost.h"
#include "Win32FormView.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

using namespace pelmbus;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS |
                                                       ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    int exitCode = 0;
    {
        TWin32FormHost host;
        TFPelMBus form(host);
        TWin32FormView view(form, instance);
        host.SetView(&view);
        view.OnMBusData = [&form](uintptr_t wParam, intptr_t lParam) {
            form.RunGuarded([&] { form.WMMBusData(wParam, lParam); });
        };
        view.OnClose = [&form] { form.RunGuarded([&] { form.FormClose(); }); };

        form.RunGuarded([&] { form.FormCreate(); });
        view.Show(showCommand);

        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (!view.PreTranslate(message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        exitCode = static_cast<int>(message.wParam);
        host.SetView(nullptr);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return exitCode;
}
