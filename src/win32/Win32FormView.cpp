// The Win32 view's bridge to the form: the window and its procedures, the
// models' state shown in their controls, the form's messages and its close.
#include "Win32FormView.h"

#include "FormHost.h"
#include "PaintedControls.h"
#include "SystemServices.h"
#include "VisitControl.h"
#include "WideText.h"
#include "Win32Fonts.h"
#include "WindowText.h"

#include <commctrl.h>

#include <stdexcept>

namespace pelmbus {

TWin32FormView::TWin32FormView(TForm& form, HINSTANCE instance) : FForm(form), FInstance(instance) {
    static const bool registered = [instance] {
        WNDCLASSEXW main{};
        main.cbSize = sizeof main;
        main.lpfnWndProc = MainProc;
        main.hInstance = instance;
        main.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        main.hIconSm = main.hIcon;
        main.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        main.lpszClassName = MainClassName;
        RegisterClassExW(&main);

        WNDCLASSEXW page = main;
        page.lpfnWndProc = PageProc;
        page.hIcon = nullptr;
        page.hIconSm = nullptr;
        page.lpszClassName = PageClassName;
        RegisterClassExW(&page);

        RegisterPaintedControls(instance);
        return true;
    }();
    (void)registered;

    // Fixed single border, system menu and minimise button only.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    FWindow = CreateWindowExW(0, MainClassName, WideFromUtf8(form.Caption()).c_str(), style, 0, 0,
                              0, 0, nullptr, nullptr, instance, this);
    if (FWindow == nullptr) {
        // No desktop, or the class could not be registered: a program
        // without its window could neither answer nor be closed.
        const std::string why = LastSystemErrorText();
        throw std::runtime_error("Не удалось создать окно программы: " + why);
    }
    FDpi = WindowDpi(FWindow);
    MakeFonts();
    for (TControl* child : form.Children()) {
        Build(*child, FWindow);
    }
    Layout();
    for (TBound& bound : FBound) {
        ShowState(*bound.Model);
    }
    ShowPages();
}

TWin32FormView::~TWin32FormView() {
    for (TBound& bound : FBound) {
        bound.Model->OnViewUpdate = nullptr;
    }
    for (const auto& [timer, id] : FTimers) {
        const_cast<TControl*>(timer)->OnViewUpdate = nullptr;
    }
    if (IsWindow(FWindow)) {
        DestroyWindow(FWindow);
    }
    DeleteFonts();
    for (const auto& [color, brush] : FBrushes) {
        DeleteObject(brush);
    }
}

HWND TWin32FormView::WindowOf(const TControl& control) const {
    const auto found = FWindows.find(&control);
    return found == FWindows.end() ? nullptr : found->second;
}

TControl* TWin32FormView::ModelOf(HWND window) const {
    const auto found = FModels.find(window);
    return found == FModels.end() ? nullptr : found->second;
}

void TWin32FormView::Show(int showCommand) {
    ShowWindow(FWindow, showCommand);
    UpdateWindow(FWindow);
    // The first control in the order of the models gets the focus.
    if (!FTabOrder.empty()) {
        if (HWND first = WindowOf(*FTabOrder.front())) {
            SetFocus(first);
        }
    }
}

// --- showing the models' state ---

bool TWin32FormView::EffectiveEnabled(const TControl& control) const {
    // Disabled when it or any group or page holding it is disabled, as the
    // operator cannot reach it then.
    for (const TControl* c = &control; c != nullptr; c = c->Parent()) {
        if (!c->Enabled()) {
            return false;
        }
        if (IsKind<TTabSheet>(*c)) {
            break;
        }
    }
    return true;
}

void TWin32FormView::ShowTree(TControl& control) {
    const auto showChildren = [this](TWinControl& container) {
        for (TControl* child : container.Children()) {
            ShowTree(*child);
        }
    };
    VisitControl(
        control, [&](TTabSheet& sheet) { showChildren(sheet); },
        [&](TPageControl& pages) {
            ShowState(pages);
            showChildren(pages);
            ShowPages();
        },
        [&](TWinControl& container) {
            ShowState(container);
            showChildren(container);
        },
        [this](TControl& other) { ShowState(other); });
}

void TWin32FormView::ShowPages() {
    if (FTabs == nullptr || FPageControl == nullptr) {
        return;
    }
    const int active = FPageControl->ActivePageIndex();
    // An ordinary message: while the view shows, the tab control's subclass
    // passes it on unchanged (the page is the model's already).
    ++FShowing;
    if (SendMessageW(FTabs, TCM_GETCURSEL, 0, 0) != active) {
        SendMessageW(FTabs, TCM_SETCURSEL, static_cast<WPARAM>(active), 0);
    }
    --FShowing;
    for (size_t i = 0; i < FPages.size(); ++i) {
        const bool shown = static_cast<int>(i) == active;
        if (((GetWindowLongPtrW(FPages[i], GWL_STYLE) & WS_VISIBLE) != 0) != shown) {
            ShowWindow(FPages[i], shown ? SW_SHOW : SW_HIDE);
        }
    }
}

void TWin32FormView::ShowState(TControl& control) {
    HWND window = WindowOf(control);
    if (window == nullptr || IsKind<TTabSheet>(control)) {
        return;
    }
    ++FShowing;
    // The window's own flag: the whole window may still be hidden.
    const bool visible = control.Visible();
    const bool shownNow = (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shownNow != visible) {
        ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
        if (visible) {
            // Shown over the controls it covers.
            SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    const bool enabled = EffectiveEnabled(control);
    if ((IsWindowEnabled(window) != FALSE) != enabled) {
        if (!enabled && GetFocus() == window) {
            // The focus leaves a control that is disabled under it.
            SetFocus(FTabs != nullptr ? FTabs : FWindow);
        }
        EnableWindow(window, enabled ? TRUE : FALSE);
    }
    ShowKindState(control, window);
    --FShowing;
}

// What each kind shows beyond being shown and enabled.
void TWin32FormView::ShowKindState(TControl& control, HWND window) {
    const auto repaint = [window](const TControl&) { InvalidateRect(window, nullptr, TRUE); };
    VisitControl(
        control,
        [window](TEdit& edit) {
            const std::wstring text = WideFromUtf8(edit.Text());
            if (WindowText(window) != text) {
                SetWindowTextW(window, text.c_str());
            }
            SendMessageW(window, EM_SETREADONLY, edit.ReadOnly ? TRUE : FALSE, 0);
        },
        [window](TUpDown& upDown) { SendMessageW(window, UDM_SETPOS32, 0, upDown.Position()); },
        [window](TCheckBox& check) {
            SendMessageW(window, BM_SETCHECK, check.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
        },
        [repaint](TCheckListBox& checkList) { repaint(checkList); },
        [window](TComboBox& combo) {
            const int count = static_cast<int>(SendMessageW(window, CB_GETCOUNT, 0, 0));
            if (count != combo.Count()) {
                SendMessageW(window, CB_RESETCONTENT, 0, 0);
                for (const std::string& item : combo.Items()) {
                    SendMessageW(window, CB_ADDSTRING, 0,
                                 reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
                }
            }
            SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
        },
        [this, window](TListBox& list) { ShowListItems(list, window); },
        [window](TMemo& memo) {
            std::string joined;
            for (const std::string& line : memo.Lines()) {
                if (!joined.empty() || &line != &memo.Lines().front()) {
                    joined += "\r\n";
                }
                joined += line;
            }
            const std::wstring text = WideFromUtf8(joined);
            if (WindowText(window) != text) {
                SetWindowTextW(window, text.c_str());
            }
            SendMessageW(window, EM_SETREADONLY, memo.ReadOnly ? TRUE : FALSE, 0);
        },
        [repaint](TLabel& label) { repaint(label); }, [repaint](TShape& shape) { repaint(shape); },
        [repaint](TSpeedButton& speed) { repaint(speed); }, [](TGroupBox&) {}, [](TButton&) {},
        [](TSpinButton&) {}, [](TPageControl&) {}, [](TTabSheet&) {}, [](TTimer&) {});
}

// Rewritten only when the items differ, so that the scroll position stays
// while the operator moves through the list.
void TWin32FormView::ShowListItems(const TListBox& list, HWND window) {
    const int count = static_cast<int>(SendMessageW(window, LB_GETCOUNT, 0, 0));
    bool same = count == list.Count();
    for (int i = 0; same && i < count; ++i) {
        const int length = static_cast<int>(SendMessageW(window, LB_GETTEXTLEN, i, 0));
        std::wstring item(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(window, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<size_t>(length));
        same = item == WideFromUtf8(list.Items()[static_cast<size_t>(i)]);
    }
    if (!same) {
        const int top = static_cast<int>(SendMessageW(window, LB_GETTOPINDEX, 0, 0));
        SendMessageW(window, WM_SETREDRAW, FALSE, 0);
        SendMessageW(window, LB_RESETCONTENT, 0, 0);
        for (const std::string& item : list.Items()) {
            SendMessageW(window, LB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
        }
        SendMessageW(window, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
        SendMessageW(window, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(window, nullptr, TRUE);
    }
    if (SendMessageW(window, LB_GETCURSEL, 0, 0) != list.ItemIndex()) {
        SendMessageW(window, LB_SETCURSEL, static_cast<WPARAM>(list.ItemIndex()), 0);
    }
}

// --- window procedures ---

LRESULT CALLBACK TWin32FormView::MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* view = static_cast<TWin32FormView*>(create->lpCreateParams);
        view->FWindow = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
    }
    auto* view = reinterpret_cast<TWin32FormView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const HandlerScope scope(*view);
    return view->HandleMain(message, wParam, lParam);
}

LRESULT CALLBACK TWin32FormView::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* view = reinterpret_cast<TWin32FormView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const HandlerScope scope(*view);
    LRESULT result = 0;
    if (view->HandleInputMessage(message, wParam, lParam, result) ||
        view->HandlePaintMessage(message, wParam, lParam, result)) {
        return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TWin32FormView::HandleMain(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleInputMessage(message, wParam, lParam, result) ||
        HandlePaintMessage(message, wParam, lParam, result)) {
        return result;
    }
    if (message == WM_MBUSDATA) {
        if (OnMBusData) {
            OnMBusData(static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam));
        }
        return 0;
    }
    switch (message) {
    case WM_MAINTHREADWORK:
        if (OnMainThreadWork) {
            OnMainThreadWork();
        }
        return 0;
    case WM_TIMER:
        for (const auto& [timer, id] : FTimers) {
            if (id == wParam) {
                const_cast<TTimer*>(static_cast<const TTimer*>(timer))->Fire();
            }
        }
        return 0;
    case WM_CLOSE:
        if (DeferClose && DeferClose()) {
            return 0;
        }
        RunClose();
        DestroyWindow(FWindow);
        return 0;
    case WM_ACTIVATE:
        // As a dialog does: the control that has the focus when the window
        // is left gets it back when the window is activated again.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus != nullptr && IsChild(FWindow, focus)) {
                FFocusWhenLeft = focus;
            }
        }
        break; // activation puts the focus on the window: WM_SETFOCUS
    case WM_SETFOCUS:
        RestoreFocus();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The session ends and the process with it once this returns: the
        // files are written now. It is a sent message, delivered also inside
        // a wait for the station's program: what that wait's caller still
        // uses is released only when it has returned.
        if (wParam != FALSE && !FClosed) {
            const bool callOnStack = FHandlerDepth > 1;
            if (OnSessionEnd) {
                OnSessionEnd(callOnStack);
            }
            if (callOnStack) {
                FCloseWhenUnwound = true;
            } else {
                RunClose();
            }
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_DPICHANGED: {
        FDpi = HIWORD(wParam);
        MakeFonts();
        Layout();
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(FWindow, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(FWindow, message, wParam, lParam);
}

// The focus that reached the window itself goes on to a control: the one
// that had it when the window was left, or else the first one Tab reaches.
void TWin32FormView::RestoreFocus() {
    HWND target = FFocusWhenLeft;
    if (target == nullptr || !IsWindow(target) || !IsChild(FWindow, target) ||
        !IsWindowVisible(target) || !IsWindowEnabled(target)) {
        target = nullptr;
        for (TControl* control : FTabOrder) {
            HWND window = WindowOf(*control);
            if (window != nullptr && IsWindowVisible(window) && IsWindowEnabled(window)) {
                target = window;
                break;
            }
        }
    }
    if (target != nullptr) {
        SetFocus(target);
    }
}

TWin32FormView::HandlerScope::HandlerScope(TWin32FormView& view) : FView(view) {
    ++FView.FHandlerDepth;
}

TWin32FormView::HandlerScope::~HandlerScope() {
    if (--FView.FHandlerDepth > 0 || !FView.FCloseWhenUnwound) {
        return;
    }
    FView.FCloseWhenUnwound = false;
    FView.RunClose();
    if (IsWindow(FView.FWindow)) {
        DestroyWindow(FView.FWindow);
    }
}

void TWin32FormView::RunHandler(const std::function<void()>& handler) {
    const HandlerScope scope(*this);
    handler();
}

void TWin32FormView::RunClose() {
    if (FClosed) {
        return;
    }
    FClosed = true;
    if (OnClose) {
        OnClose();
    }
}

} // namespace pelmbus
