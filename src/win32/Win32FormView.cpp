#include "Win32FormView.h"

#include "FormHost.h"
#include "PaintedControls.h"
#include "WideText.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

namespace pelmbus {

namespace {

constexpr wchar_t MainClassName[] = L"TFPelMBus";
constexpr wchar_t PageClassName[] = L"TPelMBusPage";
constexpr UINT_PTR SubclassId = 1;
constexpr UINT FirstControlId = 100;
// A spin button without a buddy rests in the middle of this range, so that
// either arrow moves it and the direction shows which one was pressed.
constexpr int SpinRest = 1;

// Per-monitor DPI functions of Windows 10, looked up at run time so that the
// program still starts on older systems.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Fn> Fn User32Function(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

UINT WindowDpi(HWND window) {
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) {
            return dpi;
        }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    static const auto adjust =
        User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    if (adjust != nullptr) {
        adjust(&rect, style, FALSE, exStyle, dpi);
    } else {
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    }
}

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

// The typed character as the one byte a key handler takes: itself below
// 0x80, else the first byte of its UTF-8 form, which no handler accepts
// as a digit or a separator.
char KeyByte(wchar_t typed) {
    if (typed < 0x80) {
        return static_cast<char>(typed);
    }
    const std::string utf8 = Utf8FromWide(std::wstring(1, typed));
    return utf8.empty() ? '?' : utf8[0];
}

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FaceInstalled(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// Windows keeps the design's face as a bitmap font that does not scale; its
// TrueType twin has the same metrics and stays crisp at any DPI. Where the
// twin is missing (Wine), the design's face is a TrueType font itself.
std::wstring ScalableFace(const std::string& face) {
    if (face == "MS Sans Serif" && FaceInstalled(L"Microsoft Sans Serif")) {
        return L"Microsoft Sans Serif";
    }
    return WideFromUtf8(face);
}

HFONT MakeFont(const std::wstring& face, int height, bool bold) {
    return CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

bool TakesFocus(const TControl& control) {
    return dynamic_cast<const TEdit*>(&control) != nullptr ||
           dynamic_cast<const TCheckBox*>(&control) != nullptr ||
           dynamic_cast<const TCheckListBox*>(&control) != nullptr ||
           dynamic_cast<const TButton*>(&control) != nullptr ||
           dynamic_cast<const TItemList*>(&control) != nullptr ||
           dynamic_cast<const TMemo*>(&control) != nullptr ||
           dynamic_cast<const TPageControl*>(&control) != nullptr;
}

TUDBtnType Direction(bool up) {
    return up ? TUDBtnType::btNext : TUDBtnType::btPrev;
}

} // namespace

// --- construction ---

TWin32FormView::TWin32FormView(TForm& form, HINSTANCE instance)
    : FForm(form), FInstance(instance), FWorkEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
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
    FDpi = WindowDpi(FWindow);
    MakeFonts();
    for (TControl* child : form.Children()) {
        Build(*child, FWindow);
    }
    Layout();
    for (Bound& bound : FBound) {
        ShowState(*bound.Model);
    }
    ShowPages();
}

TWin32FormView::~TWin32FormView() {
    for (Bound& bound : FBound) {
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
    CloseHandle(FWorkEvent);
}

HWND TWin32FormView::WindowOf(const TControl& control) const {
    const auto found = FWindows.find(&control);
    return found == FWindows.end() ? nullptr : found->second;
}

TControl* TWin32FormView::ModelOf(HWND window) const {
    const auto found = FModels.find(window);
    return found == FModels.end() ? nullptr : found->second;
}

void TWin32FormView::Build(TControl& control, HWND page) {
    if (auto* timer = dynamic_cast<TTimer*>(&control)) {
        // Not shown: a window timer that runs while the model is enabled.
        const UINT_PTR id = FTimers.size() + 1;
        FTimers[timer] = id;
        const auto show = [this, timer, id] {
            if (timer->Enabled()) {
                SetTimer(FWindow, id, static_cast<UINT>(timer->Interval()), nullptr);
            } else {
                KillTimer(FWindow, id);
            }
        };
        timer->OnViewUpdate = show;
        show();
        return;
    }
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

    if (auto* pages = dynamic_cast<TPageControl*>(&control)) {
        FTabs = window;
        FPageControl = pages;
        for (int i = 0; i < pages->PageCount(); ++i) {
            TTabSheet& sheet = pages->Page(i);
            std::wstring caption = WideFromUtf8(sheet.Caption());
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = caption.data();
            ++FShowing;
            SendMessageW(window, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(&item));
            --FShowing;
            // Not clipping its children: a group box paints only its frame,
            // and the page paints the inside.
            HWND pageWindow = CreateWindowExW(WS_EX_CONTROLPARENT, PageClassName, L"", WS_CHILD, 0,
                                              0, 0, 0, window, nullptr, FInstance, this);
            FPages.push_back(pageWindow);
            FWindows[&sheet] = pageWindow;
            FModels[pageWindow] = &sheet;
            sheet.OnViewUpdate = [this, &sheet] { ShowTree(sheet); };
            for (TControl* child : sheet.Children()) {
                Build(*child, pageWindow);
            }
        }
    } else if (auto* group = dynamic_cast<TGroupBox*>(&control)) {
        // Group boxes only frame: their controls are the page's children,
        // so that their notifications reach the page. Below them in the
        // stacking order, so that the frame never hides a control.
        for (TControl* child : group->Children()) {
            Build(*child, page);
        }
        SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

HWND TWin32FormView::Create(TControl& control, HWND page) {
    const HMENU id = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(FirstControlId + FBound.size()));
    const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    const auto make = [&](DWORD exStyle, const wchar_t* className, const std::wstring& text,
                          DWORD style, void* param = nullptr) {
        return CreateWindowExW(exStyle, className, text.c_str(), child | style, 0, 0, 0, 0, page,
                               id, FInstance, param);
    };

    if (auto* pages = dynamic_cast<TPageControl*>(&control)) {
        return make(0, WC_TABCONTROLW, L"",
                    WS_TABSTOP | WS_CLIPCHILDREN | (pages->HotTrack ? TCS_HOTTRACK : 0));
    }
    if (auto* group = dynamic_cast<TGroupBox*>(&control)) {
        return make(0, L"BUTTON", WideFromUtf8(group->Caption()), BS_GROUPBOX);
    }
    if (auto* label = dynamic_cast<TLabel*>(&control)) {
        // Drawn here, so that a letter that reaches left of its box (the
        // first letter of "Данные:" in some faces) is not cut.
        return make(0, L"STATIC", WideFromUtf8(label->Caption()), SS_OWNERDRAW);
    }
    if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        return make(WS_EX_CLIENTEDGE, L"EDIT", WideFromUtf8(edit->Text()),
                    WS_TABSTOP | ES_AUTOHSCROLL | (edit->ReadOnly ? ES_READONLY : 0));
    }
    if (auto* upDown = dynamic_cast<TUpDown*>(&control)) {
        // The model writes the buddy's text itself (with the locale's
        // thousands separator), so the control only steps and reports.
        HWND window = make(0, UPDOWN_CLASSW, L"", UDS_ARROWKEYS | UDS_NOTHOUSANDS);
        SendMessageW(window, UDM_SETBUDDY, reinterpret_cast<WPARAM>(WindowOf(upDown->Associate())),
                     0);
        SendMessageW(window, UDM_SETRANGE32, static_cast<WPARAM>(upDown->Min()),
                     static_cast<LPARAM>(upDown->Max()));
        UDACCEL step{0, static_cast<UINT>(upDown->Increment())};
        SendMessageW(window, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
        return window;
    }
    if (dynamic_cast<TSpinButton*>(&control) != nullptr) {
        HWND window = make(0, UPDOWN_CLASSW, L"", 0);
        SendMessageW(window, UDM_SETRANGE32, SpinRest - 1, SpinRest + 1);
        SendMessageW(window, UDM_SETPOS32, 0, SpinRest);
        return window;
    }
    if (auto* check = dynamic_cast<TCheckBox*>(&control)) {
        return make(0, L"BUTTON", WideFromUtf8(check->Caption()), WS_TABSTOP | BS_CHECKBOX);
    }
    if (auto* checkList = dynamic_cast<TCheckListBox*>(&control)) {
        HWND window = make(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                           WS_TABSTOP | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                               LBS_NOTIFY | LBS_NOINTEGRALHEIGHT);
        for (const std::string& item : checkList->Items()) {
            SendMessageW(window, LB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
        }
        return window;
    }
    if (auto* button = dynamic_cast<TButton*>(&control)) {
        return make(0, L"BUTTON", WideFromUtf8(button->Caption()), WS_TABSTOP | BS_PUSHBUTTON);
    }
    if (dynamic_cast<TComboBox*>(&control) != nullptr) {
        return make(0, WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
    }
    if (dynamic_cast<TListBox*>(&control) != nullptr) {
        return make(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                    WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT);
    }
    if (auto* memo = dynamic_cast<TMemo*>(&control)) {
        const TScrollStyle bars = memo->ScrollBars;
        const bool horizontal = bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssHorizontal;
        const bool vertical = bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssVertical;
        return make(WS_EX_CLIENTEDGE, L"EDIT", L"",
                    WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL |
                        (memo->WordWrap ? 0 : ES_AUTOHSCROLL) | (horizontal ? WS_HSCROLL : 0) |
                        (vertical ? WS_VSCROLL : 0) | (memo->ReadOnly ? ES_READONLY : 0));
    }
    if (auto* speed = dynamic_cast<TSpeedButton*>(&control)) {
        HWND window = make(0, SpeedButtonClassName, L"", 0, speed);
        if (!speed->Hint.empty()) {
            // The hint as a tooltip of the button.
            HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                       WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FWindow,
                                       nullptr, FInstance, nullptr);
            std::wstring hint = WideFromUtf8(speed->Hint);
            TTTOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = page;
            tool.uId = reinterpret_cast<UINT_PTR>(window);
            tool.lpszText = hint.data();
            SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        return window;
    }
    if (auto* shape = dynamic_cast<TShape*>(&control)) {
        return make(0, ShapeClassName, L"", 0, shape);
    }
    return nullptr;
}

// --- fonts, scale and positions ---

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
    for (const TControl* c = control.Parent(); c != nullptr; c = c->Parent()) {
        if (dynamic_cast<const TGroupBox*>(c) == nullptr) {
            break;
        }
        left += c->Bounds().Left;
        top += c->Bounds().Top;
    }
    return RECT{left, top, left + b.Width, top + b.Height};
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

    for (Bound& bound : FBound) {
        TControl& control = *bound.Model;
        HFONT font = FFont;
        bool bold = false;
        std::string face;
        int height = 0;
        if (const auto* edit = dynamic_cast<const TEdit*>(&control)) {
            bold = edit->Bold;
            face = edit->FontName;
            height = edit->FontHeight;
        } else if (const auto* list = dynamic_cast<const TListBox*>(&control)) {
            bold = list->Bold;
        }
        if (!face.empty() || height > 0) {
            const std::string key = face + "/" + std::to_string(height) + (bold ? "b" : "");
            auto found = FOwnFonts.find(key);
            if (found == FOwnFonts.end()) {
                const std::wstring ownFace =
                    face.empty() ? ScalableFace(FForm.FontName) : ScalableFace(face);
                const int pixels =
                    height > 0 ? Scale(height) : MulDiv(FForm.FontSize, static_cast<int>(FDpi), 72);
                found = FOwnFonts.emplace(key, MakeFont(ownFace, pixels, bold)).first;
            }
            font = found->second;
        } else if (bold) {
            font = FBoldFont;
        }
        SendMessageW(bound.Window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

        if (dynamic_cast<TPageControl*>(&control) != nullptr) {
            const TBounds& b = control.Bounds();
            MoveWindow(bound.Window, Scale(b.Left), Scale(b.Top), Scale(b.Width), Scale(b.Height),
                       TRUE);
            continue;
        }
        const RECT r = DesignRect(control);
        int width = Scale(r.right) - Scale(r.left);
        int heightPx = Scale(r.bottom) - Scale(r.top);
        // A label is as wide as its text, as the design's self-sizing labels
        // are, so that a wider design box never covers its neighbour.
        if (const auto* label = dynamic_cast<const TLabel*>(&control)) {
            width = TextWidth(label->Caption(), font) + Scale(2);
        }
        // The design reaches a pixel or two past the page at its right and
        // bottom edges; such a control ends inside the page, whole.
        if (GetParent(bound.Window) != FWindow && pageWidth > 0) {
            width = std::min(width, pageWidth - Scale(2) - Scale(r.left));
            heightPx = std::min(heightPx, pageHeight - Scale(2) - Scale(r.top));
        }
        if (dynamic_cast<TComboBox*>(&control) != nullptr) {
            heightPx += Scale(120); // the drop-down list
        }
        MoveWindow(bound.Window, Scale(r.left), Scale(r.top), width, heightPx, TRUE);
        if (dynamic_cast<TCheckListBox*>(&control) != nullptr) {
            SendMessageW(bound.Window, LB_SETITEMHEIGHT, 0, rowHeight);
        }
    }
    InvalidateRect(FWindow, nullptr, TRUE);
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
        if (dynamic_cast<const TTabSheet*>(c) != nullptr) {
            break;
        }
    }
    return true;
}

void TWin32FormView::ShowTree(TControl& control) {
    if (dynamic_cast<TTabSheet*>(&control) == nullptr) {
        ShowState(control);
    }
    if (auto* container = dynamic_cast<TWinControl*>(&control)) {
        for (TControl* child : container->Children()) {
            ShowTree(*child);
        }
    }
    if (dynamic_cast<TPageControl*>(&control) != nullptr) {
        ShowPages();
    }
}

void TWin32FormView::ShowPages() {
    if (FTabs == nullptr || FPageControl == nullptr) {
        return;
    }
    const int active = FPageControl->ActivePageIndex();
    ++FShowing;
    if (SendMessageW(FTabs, TCM_GETCURSEL, 0, 0) != active) {
        DefSubclassProc(FTabs, TCM_SETCURSEL, static_cast<WPARAM>(active), 0);
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
    if (window == nullptr || dynamic_cast<TTabSheet*>(&control) != nullptr) {
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

    if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        const std::wstring text = WideFromUtf8(edit->Text());
        if (WindowText(window) != text) {
            SetWindowTextW(window, text.c_str());
        }
        SendMessageW(window, EM_SETREADONLY, edit->ReadOnly ? TRUE : FALSE, 0);
    } else if (auto* upDown = dynamic_cast<TUpDown*>(&control)) {
        SendMessageW(window, UDM_SETPOS32, 0, upDown->Position());
    } else if (auto* check = dynamic_cast<TCheckBox*>(&control)) {
        SendMessageW(window, BM_SETCHECK, check->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (dynamic_cast<TCheckListBox*>(&control) != nullptr) {
        InvalidateRect(window, nullptr, TRUE);
    } else if (auto* combo = dynamic_cast<TComboBox*>(&control)) {
        const int count = static_cast<int>(SendMessageW(window, CB_GETCOUNT, 0, 0));
        if (count != combo->Count()) {
            SendMessageW(window, CB_RESETCONTENT, 0, 0);
            for (const std::string& item : combo->Items()) {
                SendMessageW(window, CB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
            }
        }
        SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(combo->ItemIndex()), 0);
    } else if (auto* list = dynamic_cast<TListBox*>(&control)) {
        // Rewritten only when the items differ, so that the scroll position
        // stays while the operator moves through the list.
        const int count = static_cast<int>(SendMessageW(window, LB_GETCOUNT, 0, 0));
        bool same = count == list->Count();
        for (int i = 0; same && i < count; ++i) {
            const int length = static_cast<int>(SendMessageW(window, LB_GETTEXTLEN, i, 0));
            std::wstring item(static_cast<size_t>(length) + 1, L'\0');
            SendMessageW(window, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
            item.resize(static_cast<size_t>(length));
            same = item == WideFromUtf8(list->Items()[static_cast<size_t>(i)]);
        }
        if (!same) {
            const int top = static_cast<int>(SendMessageW(window, LB_GETTOPINDEX, 0, 0));
            SendMessageW(window, WM_SETREDRAW, FALSE, 0);
            SendMessageW(window, LB_RESETCONTENT, 0, 0);
            for (const std::string& item : list->Items()) {
                SendMessageW(window, LB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
            }
            SendMessageW(window, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
            SendMessageW(window, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(window, nullptr, TRUE);
        }
        if (SendMessageW(window, LB_GETCURSEL, 0, 0) != list->ItemIndex()) {
            SendMessageW(window, LB_SETCURSEL, static_cast<WPARAM>(list->ItemIndex()), 0);
        }
    } else if (auto* memo = dynamic_cast<TMemo*>(&control)) {
        std::string joined;
        for (const std::string& line : memo->Lines()) {
            if (!joined.empty() || &line != &memo->Lines().front()) {
                joined += "\r\n";
            }
            joined += line;
        }
        const std::wstring text = WideFromUtf8(joined);
        if (WindowText(window) != text) {
            SetWindowTextW(window, text.c_str());
        }
        SendMessageW(window, EM_SETREADONLY, memo->ReadOnly ? TRUE : FALSE, 0);
    } else if (dynamic_cast<TLabel*>(&control) != nullptr ||
               dynamic_cast<TShape*>(&control) != nullptr ||
               dynamic_cast<TSpeedButton*>(&control) != nullptr) {
        InvalidateRect(window, nullptr, TRUE);
    }
    --FShowing;
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
    return view->HandleMain(message, wParam, lParam);
}

LRESULT CALLBACK TWin32FormView::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* view = reinterpret_cast<TWin32FormView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (view != nullptr && view->HandleControlMessage(message, wParam, lParam, result)) {
        return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TWin32FormView::HandleMain(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleControlMessage(message, wParam, lParam, result)) {
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
        RunQueuedWork();
        return 0;
    case WM_TIMER:
        for (const auto& [timer, id] : FTimers) {
            if (id == wParam) {
                const_cast<TTimer*>(static_cast<const TTimer*>(timer))->Fire();
            }
        }
        return 0;
    case WM_CLOSE:
        RunClose();
        DestroyWindow(FWindow);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The session ends and the process with it once this returns: the
        // files are written now.
        if (wParam != FALSE) {
            if (OnSessionEnd) {
                OnSessionEnd();
            }
            RunClose();
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

void TWin32FormView::RunClose() {
    if (FClosed) {
        return;
    }
    FClosed = true;
    if (OnClose) {
        OnClose();
    }
}

// --- the operator's input ---

bool TWin32FormView::HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                          LRESULT& result) {
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0) {
            HandleCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
            result = 0;
            return true;
        }
        return false;
    case WM_VSCROLL:
        if (lParam != 0 && LOWORD(wParam) == SB_THUMBPOSITION) {
            HandleUpDown(reinterpret_cast<HWND>(lParam));
            result = 0;
            return true;
        }
        return false;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == FTabs && header->code == TCN_SELCHANGING) {
            // Every change of page goes through the page control's guard,
            // which the view runs itself: the tab control never changes the
            // page on its own.
            result = FShowing > 0 ? FALSE : TRUE;
            return true;
        }
        return false;
    }
    case WM_MEASUREITEM: {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        measure->itemHeight = static_cast<UINT>(Scale(13));
        result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        TControl* model = ModelOf(draw->hwndItem);
        if (dynamic_cast<TCheckListBox*>(model) != nullptr) {
            DrawCheckListItem(*draw);
        } else if (auto* label = dynamic_cast<TLabel*>(model)) {
            DrawLabel(*label, *draw);
        } else {
            return false;
        }
        result = TRUE;
        return true;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX: {
        TControl* model = ModelOf(reinterpret_cast<HWND>(lParam));
        TColor color = clDefault;
        bool readOnlyEdit = false;
        if (const auto* edit = dynamic_cast<const TEdit*>(model)) {
            color = edit->Color;
            readOnlyEdit = edit->ReadOnly && IsWindowEnabled(reinterpret_cast<HWND>(lParam));
        } else if (const auto* list = dynamic_cast<const TListBox*>(model)) {
            color = list->Color;
        } else if (const auto* memo = dynamic_cast<const TMemo*>(model)) {
            color = memo->Color;
        }
        if (color == clDefault && !readOnlyEdit) {
            return false;
        }
        // A read-only edit keeps the white of an edit: its value changes
        // through its up-down.
        const COLORREF background =
            color == clDefault ? GetSysColor(COLOR_WINDOW) : ToColorRef(color);
        auto found = FBrushes.find(background);
        if (found == FBrushes.end()) {
            found = FBrushes.emplace(background, CreateSolidBrush(background)).first;
        }
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, background);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        result = reinterpret_cast<LRESULT>(found->second);
        return true;
    }
    default:
        return false;
    }
}

void TWin32FormView::HandleCommand(HWND window, UINT code) {
    TControl* model = ModelOf(window);
    if (model == nullptr || FShowing > 0) {
        return;
    }
    if (auto* edit = dynamic_cast<TEdit*>(model)) {
        if (code == EN_CHANGE) {
            edit->UserSetText(Utf8FromWide(WindowText(window)));
        }
    } else if (auto* memo = dynamic_cast<TMemo*>(model)) {
        if (code == EN_CHANGE) {
            memo->UserSetText(Utf8FromWide(WindowText(window)));
        }
    } else if (auto* check = dynamic_cast<TCheckBox*>(model)) {
        if (code == BN_CLICKED) {
            check->UserClick();
            ShowState(*check); // also when the model refused the click
        }
    } else if (auto* button = dynamic_cast<TButton*>(model)) {
        if (code == BN_CLICKED) {
            button->UserClick();
        }
    } else if (auto* speed = dynamic_cast<TSpeedButton*>(model)) {
        if (code == BN_CLICKED) {
            speed->UserClick();
        }
    } else if (auto* combo = dynamic_cast<TComboBox*>(model)) {
        if (code == CBN_SELCHANGE) {
            combo->UserSelect(static_cast<int>(SendMessageW(window, CB_GETCURSEL, 0, 0)));
            ShowState(*combo);
        }
    } else if (auto* list = dynamic_cast<TListBox*>(model)) {
        if (code == LBN_SELCHANGE) {
            list->UserSelect(static_cast<int>(SendMessageW(window, LB_GETCURSEL, 0, 0)));
            ShowState(*list);
        }
    }
}

// An arrow of an up-down or a spin button was pressed (or an arrow key in an
// up-down's edit): the direction of the move is what the model takes.
void TWin32FormView::HandleUpDown(HWND window) {
    TControl* model = ModelOf(window);
    if (model == nullptr || FShowing > 0) {
        return;
    }
    const int position = static_cast<int>(SendMessageW(window, UDM_GETPOS32, 0, 0));
    if (auto* upDown = dynamic_cast<TUpDown*>(model)) {
        if (position != upDown->Position()) {
            upDown->UserClick(Direction(position > upDown->Position()));
        }
        ShowState(*upDown);
    } else if (auto* spin = dynamic_cast<TSpinButton*>(model)) {
        ++FShowing;
        SendMessageW(window, UDM_SETPOS32, 0, SpinRest);
        --FShowing;
        if (position != SpinRest) {
            spin->UserClick(Direction(position > SpinRest));
        }
    }
}

int TWin32FormView::TextWidth(const std::string& text, HFONT font) const {
    const std::wstring wide = WideFromUtf8(text);
    HDC dc = GetDC(FWindow);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(FWindow, dc);
    return size.cx;
}

void TWin32FormView::DrawLabel(const TLabel& label, const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    const std::wstring text = WideFromUtf8(label.Caption());
    if (text.empty()) {
        return;
    }
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
    RECT box = item.rcItem;
    // A first letter that reaches left of its origin starts that much later
    // (at least a pixel: some faces draw a pixel left of a zero bearing).
    ABC first{};
    if (GetCharABCWidthsW(dc, text[0], text[0], &first) && first.abcA <= 0) {
        box.left += std::max(1, -first.abcA);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc,
                 GetSysColor(IsWindowEnabled(item.hwndItem) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_LEFT | DT_TOP | DT_NOPREFIX | DT_WORDBREAK);
    SelectObject(dc, old);
}

void TWin32FormView::DrawCheckListItem(const DRAWITEMSTRUCT& item) {
    const auto* model = dynamic_cast<const TCheckListBox*>(ModelOf(item.hwndItem));
    if (model == nullptr || item.itemID == static_cast<UINT>(-1) ||
        static_cast<int>(item.itemID) >= model->Count()) {
        return;
    }
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool enabled = IsWindowEnabled(item.hwndItem) != FALSE;
    FillRect(dc, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const int height = item.rcItem.bottom - item.rcItem.top;
    const int box = std::min(height - 2, Scale(13));
    RECT check{item.rcItem.left + Scale(2), item.rcItem.top + (height - box) / 2, 0, 0};
    check.right = check.left + box;
    check.bottom = check.top + box;
    const int index = static_cast<int>(item.itemID);
    DrawFrameControl(dc, &check, DFC_BUTTON,
                     DFCS_BUTTONCHECK | DFCS_FLAT | (model->Checked(index) ? DFCS_CHECKED : 0) |
                         (enabled ? 0 : DFCS_INACTIVE));
    const std::wstring text = WideFromUtf8(model->Items()[item.itemID]);
    RECT textBox = item.rcItem;
    textBox.left = check.right + Scale(3);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(!enabled   ? COLOR_GRAYTEXT
                                 : selected ? COLOR_HIGHLIGHTTEXT
                                            : COLOR_WINDOWTEXT));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textBox,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    if ((item.itemState & ODS_FOCUS) != 0) {
        DrawFocusRect(dc, &item.rcItem);
    }
}

LRESULT CALLBACK TWin32FormView::ControlProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR /*id*/, DWORD_PTR data) {
    auto* view = reinterpret_cast<TWin32FormView*>(data);
    TControl* model = view->ModelOf(window);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, ControlProc, SubclassId);
    }
    if (model == nullptr) {
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return view->HandleControl(window, *model, message, wParam, lParam);
}

LRESULT TWin32FormView::HandleControl(HWND window, TControl& model, UINT message, WPARAM wParam,
                                      LPARAM lParam) {
    if (message == WM_SETFOCUS) {
        model.UserFocus();
    }
    if (auto* edit = dynamic_cast<TEdit*>(&model); edit != nullptr && message == WM_CHAR) {
        // Each typed character passes the model's key handler first, which
        // may discard or replace it. Carriage return never reaches the text.
        const wchar_t typed = static_cast<wchar_t>(wParam);
        const char key = KeyByte(typed);
        const char result = edit->UserKeyPress(key);
        if (result == '\0' || result == '\r') {
            return 0;
        }
        const WPARAM passed =
            result == key ? wParam : static_cast<WPARAM>(static_cast<unsigned char>(result));
        return DefSubclassProc(window, message, passed, lParam);
    }
    if (auto* checkList = dynamic_cast<TCheckListBox*>(&model)) {
        // A click on an item, or the space bar, toggles its tick.
        if (message == WM_LBUTTONDOWN) {
            const LRESULT answer = DefSubclassProc(window, message, wParam, lParam);
            const LRESULT hit = SendMessageW(window, LB_ITEMFROMPOINT, 0, lParam);
            if (HIWORD(hit) == 0) {
                checkList->UserToggle(LOWORD(hit));
            }
            return answer;
        }
        if (message == WM_KEYDOWN && wParam == VK_SPACE) {
            const int index = static_cast<int>(SendMessageW(window, LB_GETCURSEL, 0, 0));
            if (index >= 0) {
                checkList->UserToggle(index);
            }
            return 0;
        }
    }
    if (dynamic_cast<TPageControl*>(&model) != nullptr) {
        // The page changes only through the model's guard: a click on a tab,
        // the arrow keys on the tabs, and a selection asked for by another
        // program all become the operator's choice of that page.
        switch (message) {
        case WM_LBUTTONDOWN: {
            TCHITTESTINFO hit{{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, 0};
            const int index = static_cast<int>(
                SendMessageW(window, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
            if (index >= 0 && index != FPageControl->ActivePageIndex()) {
                SetFocus(window);
                FPageControl->UserSelectPage(index);
                return 0;
            }
            break;
        }
        case WM_KEYDOWN:
            if (wParam == VK_LEFT || wParam == VK_RIGHT) {
                SelectPageByKeyboard(wParam == VK_RIGHT ? 1 : -1);
                return 0;
            }
            break;
        case TCM_SETCURSEL:
        case TCM_SETCURFOCUS:
            if (FShowing == 0) {
                const int before = FPageControl->ActivePageIndex();
                FPageControl->UserSelectPage(static_cast<int>(wParam));
                return message == TCM_SETCURSEL ? before : 0;
            }
            break;
        default:
            break;
        }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

void TWin32FormView::SelectPageByKeyboard(int step) {
    if (FPageControl == nullptr || FPageControl->PageCount() == 0) {
        return;
    }
    const int count = FPageControl->PageCount();
    FPageControl->UserSelectPage((FPageControl->ActivePageIndex() + step + count) % count);
}

bool TWin32FormView::PreTranslate(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_TAB) {
        return false;
    }
    if (message.hwnd != FWindow && !IsChild(FWindow, message.hwnd)) {
        return false;
    }
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    if (GetKeyState(VK_CONTROL) < 0) {
        SelectPageByKeyboard(shift ? -1 : 1);
    } else {
        MoveFocus(shift);
    }
    return true;
}

// The next control in the order of the models that the operator can reach:
// on the active page (or the page control itself), shown and enabled.
void TWin32FormView::MoveFocus(bool backwards) {
    std::vector<HWND> reachable;
    for (TControl* control : FTabOrder) {
        HWND window = WindowOf(*control);
        if (window != nullptr && IsWindowVisible(window) && IsWindowEnabled(window)) {
            reachable.push_back(window);
        }
    }
    if (reachable.empty()) {
        return;
    }
    HWND focus = GetFocus();
    // A combo box's focus may sit in a child of it.
    while (focus != nullptr && ModelOf(focus) == nullptr && IsChild(FWindow, focus)) {
        focus = GetParent(focus);
    }
    const auto at = std::find(reachable.begin(), reachable.end(), focus);
    const int count = static_cast<int>(reachable.size());
    int index = at == reachable.end()
                    ? (backwards ? count - 1 : 0)
                    : static_cast<int>(at - reachable.begin()) + (backwards ? count - 1 : 1);
    HWND next = reachable[static_cast<size_t>(index % count)];
    SetFocus(next);
    if (dynamic_cast<TEdit*>(ModelOf(next)) != nullptr) {
        SendMessageW(next, EM_SETSEL, 0, -1);
    }
}

// --- work from other threads ---

void TWin32FormView::PostWork(std::function<void()> work) {
    {
        std::lock_guard lock(FWorkMutex);
        FWork.push_back(std::move(work));
    }
    SetEvent(FWorkEvent);
    PostMessageW(FWindow, WM_MAINTHREADWORK, 0, 0);
}

void TWin32FormView::RunQueuedWork() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(FWorkMutex);
        work.swap(FWork);
    }
    for (auto& item : work) {
        item();
    }
}

} // namespace pelmbus
