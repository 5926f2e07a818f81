// Painting in the Win32 view: the owner-drawn labels and check-list items,
// and the background colours the models give their controls.
#include "Win32FormView.h"

#include "PaintedControls.h"
#include "VisitControl.h"
#include "WideText.h"

#include <algorithm>

namespace pelmbus {

bool TWin32FormView::HandlePaintMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                        LRESULT& result) {
    switch (message) {
    case WM_MEASUREITEM: {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        measure->itemHeight = static_cast<UINT>(Scale(13));
        result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        TControl* model = ModelOf(draw->hwndItem);
        if (model == nullptr) {
            return false;
        }
        bool drawn = false;
        VisitControl(
            *model,
            [&](const TCheckListBox& checkList) {
                DrawCheckListItem(checkList, *draw);
                drawn = true;
            },
            [&](const TLabel& label) {
                DrawLabel(label, *draw);
                drawn = true;
            },
            [](const TControl&) {});
        if (drawn) {
            result = TRUE;
        }
        return drawn;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX: {
        HWND window = reinterpret_cast<HWND>(lParam);
        TControl* model = ModelOf(window);
        TColor color = clDefault;
        bool readOnlyEdit = false;
        if (model != nullptr) {
            VisitControl(
                *model,
                [&](const TEdit& edit) {
                    color = edit.Color;
                    readOnlyEdit = edit.ReadOnly && IsWindowEnabled(window);
                },
                [&color](const TListBox& list) { color = list.Color; },
                [&color](const TMemo& memo) { color = memo.Color; }, [](const TControl&) {});
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

RECT TWin32FormView::CheckBoxOfItem(const RECT& item) const {
    const int height = item.bottom - item.top;
    const int box = std::min(height - 2, Scale(13));
    RECT check{item.left + Scale(2), item.top + (height - box) / 2, 0, 0};
    check.right = check.left + box;
    check.bottom = check.top + box;
    return check;
}

void TWin32FormView::DrawCheckListItem(const TCheckListBox& model, const DRAWITEMSTRUCT& item) {
    if (item.itemID == static_cast<UINT>(-1) || static_cast<int>(item.itemID) >= model.Count()) {
        return;
    }
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool enabled = IsWindowEnabled(item.hwndItem) != FALSE;
    FillRect(dc, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    RECT check = CheckBoxOfItem(item.rcItem);
    const int index = static_cast<int>(item.itemID);
    DrawFrameControl(dc, &check, DFC_BUTTON,
                     DFCS_BUTTONCHECK | DFCS_FLAT | (model.Checked(index) ? DFCS_CHECKED : 0) |
                         (enabled ? 0 : DFCS_INACTIVE));
    const std::wstring text = WideFromUtf8(model.Items()[item.itemID]);
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

} // namespace pelmbus
