#include "MessageWindow.h"

#include "WideText.h"

namespace pelmbus {

namespace {

// The message box of this thread being shown; the hook centres it on the
// work area of its monitor once, when it is activated.
thread_local HHOOK CentreHook = nullptr;

LRESULT CALLBACK CentreOnScreen(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        RECT frame;
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (GetWindowRect(box, &frame) &&
            GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
            const RECT& work = monitor.rcWork;
            const int width = frame.right - frame.left;
            const int height = frame.bottom - frame.top;
            SetWindowPos(box, nullptr, work.left + (work.right - work.left - width) / 2,
                         work.top + (work.bottom - work.top - height) / 2, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        const HHOOK hook = CentreHook;
        UnhookWindowsHookEx(hook);
        CentreHook = nullptr;
        return CallNextHookEx(hook, code, wParam, lParam);
    }
    return CallNextHookEx(CentreHook, code, wParam, lParam);
}

} // namespace

void ShowMessageWindow(HWND owner, const std::string& text, bool error) {
    if (CentreHook == nullptr) {
        CentreHook = SetWindowsHookExW(WH_CBT, CentreOnScreen, nullptr, GetCurrentThreadId());
    }
    MessageBoxW(owner, WideFromUtf8(text).c_str(), ApplicationTitle,
                MB_OK | (error ? MB_ICONERROR : 0) | MB_SETFOREGROUND);
    if (CentreHook != nullptr) {
        UnhookWindowsHookEx(CentreHook);
        CentreHook = nullptr;
    }
}

} // namespace pelmbus
