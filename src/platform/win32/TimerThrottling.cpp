#include "TimerThrottling.h"

#include <windows.h>

namespace pelmbus {

bool KeepTimerResolutionWhileHidden() {
    // Looked up at run time: Windows 7 has no SetProcessInformation, and an
    // imported one would keep the program from starting there.
    using SetProcessInformationFunction =
        BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setProcessInformation =
        kernel == nullptr ? nullptr
                          : reinterpret_cast<SetProcessInformationFunction>(reinterpret_cast<void*>(
                                GetProcAddress(kernel, "SetProcessInformation")));
    if (setProcessInformation == nullptr) {
        return false;
    }
    // The flag in the control mask with its state bit clear: this process's
    // timer resolution is never throttled. Windows versions before the
    // flag existed refuse the request, which changes nothing.
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;
    return setProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state,
                                 sizeof state) != 0;
}

} // namespace pelmbus
