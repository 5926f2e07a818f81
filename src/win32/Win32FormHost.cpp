#include "Win32FormHost.h"

#include "CltPel_TLB.h"
#include "MessageWindow.h"
#include "Pel_TLB.h"
#include "SystemServices.h"
#include "Win32FormView.h"

#include <windows.h>

#include <chrono>
#include <string_view>

namespace pelmbus {

// The form names its message by number; it is the window system's own.
static_assert(WM_MBUSDATA == WM_USER + 180);

// Posted, never sent: the work runs when the loop delivers it.
void TWin32FormHost::PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (FView != nullptr) {
        PostMessageW(FView->Window(), message, static_cast<WPARAM>(wParam),
                     static_cast<LPARAM>(lParam));
    }
}

void TWin32FormHost::ShowBox(const std::string& text, bool error) {
    ++FOpenMessages;
    ShowMessageWindow(FView != nullptr ? FView->Window() : nullptr, text, error);
    --FOpenMessages;
    if (FOpenMessages == 0 && FCloseAfterMessages) {
        FCloseAfterMessages = false;
        if (FView != nullptr) {
            PostMessageW(FView->Window(), WM_CLOSE, 0, 0);
        }
    }
}

void TWin32FormHost::ShowMessage(const std::string& text) {
    ShowBox(text, false);
}

void TWin32FormHost::ShowError(const std::string& text) {
    ShowBox(text, true);
}

namespace {

// A message window of this thread, owned by the window named in `owner`.
BOOL CALLBACK EndMessageWindow(HWND window, LPARAM owner) {
    wchar_t className[16] = {};
    if (GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
        GetClassNameW(window, className, 16) > 0 && std::wstring_view(className) == L"#32770") {
        EndDialog(window, IDOK);
    }
    return TRUE;
}

} // namespace

bool TWin32FormHost::EndMessagesBeforeClose() {
    if (FOpenMessages == 0) {
        return false;
    }
    FCloseAfterMessages = true;
    const HWND owner = FView != nullptr ? FView->Window() : nullptr;
    EnumThreadWindows(GetCurrentThreadId(), EndMessageWindow, reinterpret_cast<LPARAM>(owner));
    return true;
}

uint32_t TWin32FormHost::TickCount() {
    return GetTickCount();
}

std::string TWin32FormHost::ExecutableDirectory() {
    return pelmbus::ExecutableDirectory();
}

TFormatSettings TWin32FormHost::FormatSettings() {
    return UserFormatSettings();
}

// A message to the main window: the loop is the only way work reaches the
// main thread.
void TWin32FormHost::PostToMainThread(std::function<void()> work) {
    if (FView != nullptr) {
        FView->PostWork(std::move(work));
    }
}

std::unique_ptr<MeteringLink> TWin32FormHost::CreateAutoPel() {
    return std::make_unique<TAutoPel>(MakeAutomationBackend(&FHandOvers));
}

std::unique_ptr<MeteringLink> TWin32FormHost::CreateAutoCltPel() {
    return std::make_unique<TAutoCltPel>(MakeAutomationBackend(&FHandOvers));
}

void TWin32FormHost::THandOvers::RunPending() {
    if (FHost.FView != nullptr) {
        FHost.FView->RunQueuedWork();
    }
}

void TWin32FormHost::THandOvers::WaitForPending(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (FHost.FView == nullptr || left.count() <= 0) {
        return;
    }
    WaitForSingleObject(FHost.FView->WorkEvent(), static_cast<DWORD>(left.count()));
}

} // namespace pelmbus
