// The Win32 view of a form model: one native control per control model,
// placed at the model's design coordinates scaled to the window's DPI. It
// shows the model's state and hands the operator's input to the model; it
// holds no behaviour of its own.
#pragma once

#include "Controls.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pelmbus {

class TWin32FormView {
public:
    // The main window's private message besides WM_MBUSDATA: work that
    // another thread handed to the main thread waits in the host's queue.
    static constexpr UINT WM_MAINTHREADWORK = WM_APP + 1;

    // Builds the window hidden; Show() shows it. Throws std::runtime_error
    // with the system's reason when the window cannot be created.
    TWin32FormView(TForm& form, HINSTANCE instance);
    ~TWin32FormView();
    TWin32FormView(const TWin32FormView&) = delete;
    TWin32FormView& operator=(const TWin32FormView&) = delete;

    HWND Window() const { return FWindow; }
    // The native control built for a model (nullptr for none). For a tab
    // sheet, its page window.
    HWND WindowOf(const TControl& control) const;
    // Dots per inch the window is laid out for.
    UINT Dpi() const { return FDpi; }

    void Show(int showCommand);

    // Keyboard navigation the loop runs before dispatching: Tab and
    // Shift+Tab move the focus in the order of the models, Ctrl+Tab and
    // Ctrl+Shift+Tab change pages through the page control's guard. True when
    // the message was used.
    bool PreTranslate(const MSG& message);

    // Run once when the window closes (close button, Alt+F4, WM_CLOSE, or
    // the end of the Windows session), before it is destroyed.
    std::function<void()> OnClose;
    // Asked when WM_CLOSE arrives: true when the close must wait because it
    // came inside a message window's loop (taskkill posts it, and the box's
    // loop dispatches it); whoever says so posts WM_CLOSE again later.
    std::function<bool()> DeferClose;
    // Run for every WM_MAINTHREADWORK the loop delivers.
    std::function<void()> OnMainThreadWork;
    // Run when the Windows session ends, before the close. `callOnStack`
    // is true when a handler of this window is still on the stack (the end
    // arrived inside a wait for the station's program): the files must be
    // stored now, and the close runs only once that handler has returned.
    std::function<void(bool callOnStack)> OnSessionEnd;
    // Runs `handler` as one of this window's handlers: for work outside the
    // loop's messages, such as the form's start.
    void RunHandler(const std::function<void()>& handler);
    // Run for every WM_MBUSDATA the loop delivers.
    std::function<void(uintptr_t wParam, intptr_t lParam)> OnMBusData;

    // Window procedures; public for the registration of their classes.
    static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    // Counts the window's handlers on the stack; the last one to return
    // runs a close that a session end left for it.
    class HandlerScope {
    public:
        explicit HandlerScope(TWin32FormView& view);
        ~HandlerScope();
        HandlerScope(const HandlerScope&) = delete;
        HandlerScope& operator=(const HandlerScope&) = delete;

    private:
        TWin32FormView& FView;
    };

    struct TBound {
        TControl* Model = nullptr;
        HWND Window = nullptr;
    };

    static constexpr wchar_t MainClassName[] = L"TFPelMBus";
    static constexpr wchar_t PageClassName[] = L"TPelMBusPage";
    static constexpr UINT_PTR SubclassId = 1;
    static constexpr UINT FirstControlId = 100;
    // A spin button without a buddy rests in the middle of this range, so
    // that either arrow moves it and the direction shows which one was
    // pressed.
    static constexpr int SpinRest = 1;

    // Creating and laying out (Win32FormLayout.cpp).
    void Build(TControl& control, HWND page);
    void BuildPages(TPageControl& pages, HWND window);
    HWND Create(TControl& control, HWND page);
    void AddHint(const TSpeedButton& speed, HWND window, HWND page);
    // Places every window at its scaled design position, with fonts for
    // the present DPI.
    void Layout();
    HFONT FontOf(const TControl& control);
    void MakeFonts();
    void DeleteFonts();
    int Scale(int value) const;
    RECT DesignRect(const TControl& control) const;

    // The bridge to the form (Win32FormView.cpp).
    void ShowState(TControl& control);
    void ShowKindState(TControl& control, HWND window);
    void ShowListItems(const TListBox& list, HWND window);
    void ShowTree(TControl& control);
    void ShowPages();
    bool EffectiveEnabled(const TControl& control) const;
    TControl* ModelOf(HWND window) const;
    LRESULT HandleMain(UINT message, WPARAM wParam, LPARAM lParam);
    void RestoreFocus();
    void RunClose();

    // Painting (Win32FormPaint.cpp): owner-drawn items and the colours of
    // the controls. True when handled; `result` then holds the answer.
    bool HandlePaintMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void DrawCheckListItem(const TCheckListBox& model, const DRAWITEMSTRUCT& item);
    // Where a check list item's box is drawn; a click ticks only there.
    RECT CheckBoxOfItem(const RECT& item) const;
    void DrawLabel(const TLabel& label, const DRAWITEMSTRUCT& item);
    int TextWidth(const std::string& text, HFONT font) const;

    // The operator's input (Win32FormInput.cpp). Notifications of the
    // controls, forwarded by their page (or the main window for the page
    // control). True when handled; `result` then holds the answer.
    bool HandleInputMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void HandleCommand(HWND control, UINT code);
    void HandleUpDown(HWND control);
    void MoveFocus(bool backwards);
    // Ctrl+Tab goes round from the last page to the first; the arrow keys
    // on the tabs do not.
    void SelectPageByKeyboard(int step, bool goRound);
    static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR data);
    LRESULT HandleControl(HWND window, TControl& model, UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> HandlePageControl(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

    TForm& FForm;
    HINSTANCE FInstance;
    HWND FWindow = nullptr;
    HWND FTabs = nullptr;
    TPageControl* FPageControl = nullptr;
    UINT FDpi = 96;
    HFONT FFont = nullptr;
    HFONT FBoldFont = nullptr;
    std::map<std::string, HFONT> FOwnFonts;
    std::vector<TBound> FBound;
    std::map<const TControl*, HWND> FWindows;
    std::map<HWND, TControl*> FModels;
    std::vector<HWND> FPages;
    std::map<TColor, HBRUSH> FBrushes;
    // The models in the order Tab visits them.
    std::vector<TControl*> FTabOrder;
    std::map<const TControl*, UINT_PTR> FTimers;
    // Set while the view writes to a control, so that its notifications are
    // not taken for the operator's input.
    int FShowing = 0;
    bool FClosed = false;
    int FHandlerDepth = 0;
    bool FCloseWhenUnwound = false;
    // The control that had the focus when the window was last deactivated.
    HWND FFocusWhenLeft = nullptr;
};

} // namespace pelmbus
