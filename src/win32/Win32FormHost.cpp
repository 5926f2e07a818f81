#include "Win32FormHost.h"

#include "CltPel_TLB.h"
#include "ComAutomationBackend.h"
#include "MessageWindow.h"
#include "Pel_TLB.h"
#include "SystemServices.h"
#include "Win32FormView.h"

#include <windows.h>

#include <string_view>
#include <system_error>

namespace pelmbus {

// The form names its message by number; it is the window system's own.
static_assert(WM_MBUSDATA == WM_USER + 180);

TWin32FormHost::TWin32FormHost() : FHandOverPosted(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (FHandOverPosted == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateEvent");
    }
}

TWin32FormHost::~TWin32FormHost() {
    SetView(nullptr);
    CloseHandle(FHandOverPosted);
}

void TWin32FormHost::SetView(TWin32FormView* view) {
    if (FView != nullptr) {
        FView->OnMainThreadWork = nullptr;
    }
    FView = view;
    if (view != nullptr) {
        view->OnMainThreadWork = [this] { FHandOvers.RunPending(); };
    }
}

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

// Safe to call from any thread. The loop is asked for one drain per batch;
// a drain that finds the queue emptied by a link's wait does nothing.
void TWin32FormHost::PostToMainThread(std::function<void()> work) {
    if (!FHandOvers.Post(std::move(work))) {
        return;
    }
    SetEvent(FHandOverPosted);
    if (TWin32FormView* view = FView) {
        PostMessageW(view->Window(), TWin32FormView::WM_MAINTHREADWORK, 0, 0);
    }
}

std::unique_ptr<MeteringLink> TWin32FormHost::CreateAutoPel() {
    return std::make_unique<TAutoPel>(
        std::make_unique<com::ComAutomationBackend>(&FHandOvers, FHandOverPosted));
}

std::unique_ptr<MeteringLink> TWin32FormHost::CreateAutoCltPel() {
    return std::make_unique<TAutoCltPel>(
        std::make_unique<com::ComAutomationBackend>(&FHandOvers, FHandOverPosted));
}

} // namespace pelmbus
