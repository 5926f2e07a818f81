// Creating the Win32 view's native controls from the models and laying them
// out at the window's DPI, with their fonts.
#include "Win32FormView.h"

#include "PaintedControls.h"
#include "VisitControl.h"
#include "WideText.h"
#include "Win32Fonts.h"

#include <commctrl.h>

#include <algorithm>

namespace pelmbus {

namespace {

// The kinds that Tab visits.
bool TakesFocus(const TControl& control) {
    bool takes = false;
    VisitControl(
        control, [&takes](const TEdit&) { takes = true; },
        [&takes](const TCheckBox&) { takes = true; },
        [&takes](const TCheckListBox&) { takes = true; },
        [&takes](const TButton&) { takes = true; }, [&takes](const TItemList&) { takes = true; },
        [&takes](const TMemo&) { takes = true; }, [&takes](const TPageControl&) { takes = true; },
        [](const TControl&) {});
    return takes;
}

} // namespace

void TWin32FormView::Build(TControl& control, HWND page) {
    HWND window = Create(control, page);
    if (window == nullptr) {
        return;
    }
    FWindows[&control] = window;
    FModels[window] = &control;
    FBound.push_back({&control, window});
    if (TakesFocus(control)) {
        FTabOrder.push_back(&control);
    }
    SetWindowSubclass(window, ControlProc, SubclassId, reinterpret_cast<DWORD_PTR>(this));
    control.OnViewUpdate = [this, &control] { ShowTree(control); };

    VisitControl(
        control, [this, window](TPageControl& pages) { BuildPages(pages, window); },
        [this, window, page](TGroupBox& group) {
            // Group boxes only frame: their controls are the page's
            // children, so that their notifications reach the page. Below
            // them in the stacking order, so that the frame never hides a
            // control.
            for (TControl* child : group.Children()) {
                Build(*child, page);
            }
            SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        },
        [](TControl&) {});
}

void TWin32FormView::BuildPages(TPageControl& pages, HWND window) {
    FTabs = window;
    FPageControl = &pages;
    for (int i = 0; i < pages.PageCount(); ++i) {
        TTabSheet& sheet = pages.Page(i);
        std::wstring caption = WideFromUtf8(sheet.Caption());
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        ++FShowing;
        SendMessageW(window, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&item));
        --FShowing;
        // Not clipping its children: a group box paints only its frame, and
        // the page paints the inside.
        HWND pageWindow = CreateWindowExW(WS_EX_CONTROLPARENT, PageClassName, L"", WS_CHILD, 0, 0,
                                          0, 0, window, nullptr, FInstance, this);
        FPages.push_back(pageWindow);
        FWindows[&sheet] = pageWindow;
        FModels[pageWindow] = &sheet;
        sheet.OnViewUpdate = [this, &sheet] { ShowTree(sheet); };
        for (TControl* child : sheet.Children()) {
            Build(*child, pageWindow);
        }
    }
}

// The native control of one model, or none: a timer becomes a window timer,
// and a tab sheet's page is built with its page control.
HWND TWin32FormView::Create(TControl& control, HWND page) {
    const HMENU id = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(FirstControlId + FBound.size()));
    const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    const auto make = [&](DWORD exStyle, const wchar_t* className, const std::wstring& text,
                          DWORD style, void* param = nullptr) {
        return CreateWindowExW(exStyle, className, text.c_str(), child | style, 0, 0, 0, 0, page,
                               id, FInstance, param);
    };

    HWND window = nullptr;
    VisitControl(
        control,
        [&](TPageControl& pages) {
            window = make(0, WC_TABCONTROLW, L"",
                          WS_TABSTOP | WS_CLIPCHILDREN | (pages.HotTrack ? TCS_HOTTRACK : 0));
        },
        [&](TGroupBox& group) {
            window = make(0, L"BUTTON", WideFromUtf8(group.Caption()), BS_GROUPBOX);
        },
        [&](TLabel& label) {
            // Drawn here, so that a letter that reaches left of its box (the
            // first letter of "Данные:" in some faces) is not cut.
            window = make(0, L"STATIC", WideFromUtf8(label.Caption()), SS_OWNERDRAW);
        },
        [&](TEdit& edit) {
            window = make(WS_EX_CLIENTEDGE, L"EDIT", WideFromUtf8(edit.Text()),
                          WS_TABSTOP | ES_AUTOHSCROLL | (edit.ReadOnly ? ES_READONLY : 0));
        },
        [&](TUpDown& upDown) {
            // The model writes the buddy's text itself (with the locale's
            // thousands separator), so the control only steps and reports.
            window = make(0, UPDOWN_CLASSW, L"", UDS_ARROWKEYS | UDS_NOTHOUSANDS);
            SendMessageW(window, UDM_SETBUDDY,
                         reinterpret_cast<WPARAM>(WindowOf(upDown.Associate())), 0);
            SendMessageW(window, UDM_SETRANGE32, static_cast<WPARAM>(upDown.Min()),
                         static_cast<LPARAM>(upDown.Max()));
            UDACCEL step{0, static_cast<UINT>(upDown.Increment())};
            SendMessageW(window, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
        },
        [&](TSpinButton&) {
            window = make(0, UPDOWN_CLASSW, L"", 0);
            SendMessageW(window, UDM_SETRANGE32, SpinRest - 1, SpinRest + 1);
            SendMessageW(window, UDM_SETPOS32, 0, SpinRest);
        },
        [&](TCheckBox& check) {
            window = make(0, L"BUTTON", WideFromUtf8(check.Caption()), WS_TABSTOP | BS_CHECKBOX);
        },
        [&](TCheckListBox& checkList) {
            window = make(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                          WS_TABSTOP | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                              LBS_NOTIFY | LBS_NOINTEGRALHEIGHT);
            for (const std::string& item : checkList.Items()) {
                SendMessageW(window, LB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
            }
        },
        [&](TButton& button) {
            window = make(0, L"BUTTON", WideFromUtf8(button.Caption()), WS_TABSTOP | BS_PUSHBUTTON);
        },
        [&](TComboBox&) {
            window = make(0, WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
        },
        [&](TListBox&) {
            window = make(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                          WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT);
        },
        [&](TMemo& memo) {
            const TScrollStyle bars = memo.ScrollBars;
            const bool horizontal =
                bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssHorizontal;
            const bool vertical = bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssVertical;
            window = make(WS_EX_CLIENTEDGE, L"EDIT", L"",
                          WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL |
                              (memo.WordWrap ? 0 : ES_AUTOHSCROLL) | (horizontal ? WS_HSCROLL : 0) |
                              (vertical ? WS_VSCROLL : 0) | (memo.ReadOnly ? ES_READONLY : 0));
        },
        [&](TSpeedButton& speed) {
            window = make(0, SpeedButtonClassName, L"", 0, &speed);
            AddHint(speed, window, page);
        },
        [&](TShape& shape) { window = make(0, ShapeClassName, L"", 0, &shape); }, [](TTabSheet&) {},
        [&](TTimer& timer) {
            // Not shown: a window timer that runs while the model is enabled.
            const UINT_PTR timerId = FTimers.size() + 1;
            FTimers[&timer] = timerId;
            const auto show = [this, &timer, timerId] {
                if (timer.Enabled()) {
                    SetTimer(FWindow, timerId, static_cast<UINT>(timer.Interval()), nullptr);
                } else {
                    KillTimer(FWindow, timerId);
                }
            };
            timer.OnViewUpdate = show;
            show();
        });
    return window;
}

// A speed button's hint, as a tooltip of the button.
void TWin32FormView::AddHint(const TSpeedButton& speed, HWND window, HWND page) {
    if (speed.Hint.empty()) {
        return;
    }
    HWND tip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, FWindow, nullptr, FInstance, nullptr);
    std::wstring hint = WideFromUtf8(speed.Hint);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = page;
    tool.uId = reinterpret_cast<UINT_PTR>(window);
    tool.lpszText = hint.data();
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

int TWin32FormView::Scale(int value) const {
    return MulDiv(value, static_cast<int>(FDpi), 96);
}

void TWin32FormView::MakeFonts() {
    DeleteFonts();
    const std::wstring face =
        ScalableFace(FForm.FontName.empty() ? "MS Sans Serif" : FForm.FontName);
    const int points = FForm.FontSize > 0 ? FForm.FontSize : 8;
    const int height = MulDiv(points, static_cast<int>(FDpi), 72);
    FFont = MakeFont(face, height, false);
    FBoldFont = MakeFont(face, height, true);
}

void TWin32FormView::DeleteFonts() {
    for (HFONT font : {FFont, FBoldFont}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
    FFont = nullptr;
    FBoldFont = nullptr;
    for (const auto& [key, font] : FOwnFonts) {
        DeleteObject(font);
    }
    FOwnFonts.clear();
}

RECT TWin32FormView::DesignRect(const TControl& control) const {
    const TBounds& b = control.Bounds();
    int left = b.Left;
    int top = b.Top;
    // Group boxes are not parents of their controls' windows: their offsets
    // add up to the position on the page.
    for (const TControl* c = control.Parent(); c != nullptr && IsKind<TGroupBox>(*c);
         c = c->Parent()) {
        left += c->Bounds().Left;
        top += c->Bounds().Top;
    }
    return RECT{left, top, left + b.Width, top + b.Height};
}

// The form's font, or the control's own face, height or weight.
HFONT TWin32FormView::FontOf(const TControl& control) {
    bool bold = false;
    std::string face;
    int height = 0;
    VisitControl(
        control,
        [&](const TEdit& edit) {
            bold = edit.Bold;
            face = edit.FontName;
            height = edit.FontHeight;
        },
        [&bold](const TListBox& list) { bold = list.Bold; }, [](const TControl&) {});
    if (face.empty() && height <= 0) {
        return bold ? FBoldFont : FFont;
    }
    const std::string key = face + "/" + std::to_string(height) + (bold ? "b" : "");
    auto found = FOwnFonts.find(key);
    if (found == FOwnFonts.end()) {
        const std::wstring ownFace =
            face.empty() ? ScalableFace(FForm.FontName) : ScalableFace(face);
        const int pixels =
            height > 0 ? Scale(height) : MulDiv(FForm.FontSize, static_cast<int>(FDpi), 72);
        found = FOwnFonts.emplace(key, MakeFont(ownFace, pixels, bold)).first;
    }
    return found->second;
}

void TWin32FormView::Layout() {
    // The window: the design client area at the design place, scaled.
    const TBounds& form = FForm.Bounds();
    RECT frame{0, 0, Scale(form.Width), Scale(form.Height)};
    AdjustForDpi(frame, static_cast<DWORD>(GetWindowLongPtrW(FWindow, GWL_STYLE)),
                 static_cast<DWORD>(GetWindowLongPtrW(FWindow, GWL_EXSTYLE)), FDpi);
    SetWindowPos(FWindow, nullptr, Scale(form.Left), Scale(form.Top), frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);

    // Row height of the check list: a line of the form's font.
    int rowHeight = Scale(13);
    {
        HDC dc = GetDC(FWindow);
        HGDIOBJ old = SelectObject(dc, FFont);
        TEXTMETRICW metrics;
        if (GetTextMetricsW(dc, &metrics)) {
            rowHeight = std::max<int>(rowHeight, metrics.tmHeight);
        }
        SelectObject(dc, old);
        ReleaseDC(FWindow, dc);
    }

    // The pages fill the tab control's display area.
    RECT display{0, 0, 0, 0};
    if (FTabs != nullptr) {
        const TBounds& b = FPageControl->Bounds();
        MoveWindow(FTabs, Scale(b.Left), Scale(b.Top), Scale(b.Width), Scale(b.Height), FALSE);
        SendMessageW(FTabs, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
        GetClientRect(FTabs, &display);
        SendMessageW(FTabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
        for (HWND page : FPages) {
            MoveWindow(page, display.left, display.top, display.right - display.left,
                       display.bottom - display.top, TRUE);
        }
    }
    const int pageWidth = display.right - display.left;
    const int pageHeight = display.bottom - display.top;

    for (TBound& bound : FBound) {
        TControl& control = *bound.Model;
        HFONT font = FontOf(control);
        SendMessageW(bound.Window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

        if (IsKind<TPageControl>(control)) {
            const TBounds& b = control.Bounds();
            MoveWindow(bound.Window, Scale(b.Left), Scale(b.Top), Scale(b.Width), Scale(b.Height),
                       TRUE);
            continue;
        }
        const RECT r = DesignRect(control);
        int width = Scale(r.right) - Scale(r.left);
        int height = Scale(r.bottom) - Scale(r.top);
        VisitControl(
            control,
            [&](const TLabel& label) {
                // As wide as its text, as the design's self-sizing labels
                // are, so that a wider design box never covers its
                // neighbour.
                width = TextWidth(label.Caption(), font) + Scale(2);
            },
            [](const TControl&) {});
        // The design reaches a pixel or two past the page at its right and
        // bottom edges; such a control ends inside the page, whole.
        if (GetParent(bound.Window) != FWindow && pageWidth > 0) {
            width = std::min(width, pageWidth - Scale(2) - Scale(r.left));
            height = std::min(height, pageHeight - Scale(2) - Scale(r.top));
        }
        VisitControl(
            control, [&height, this](const TComboBox&) { height += Scale(120); }, // the drop-down
            [](const TControl&) {});
        MoveWindow(bound.Window, Scale(r.left), Scale(r.top), width, height, TRUE);
        VisitControl(
            control,
            [&bound, rowHeight](const TCheckListBox&) {
                SendMessageW(bound.Window, LB_SETITEMHEIGHT, 0, rowHeight);
            },
            [](const TControl&) {});
    }
    InvalidateRect(FWindow, nullptr, TRUE);
}

} // namespace pelmbus
