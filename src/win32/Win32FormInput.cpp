// The operator's input in the Win32 view: the controls' notifications,
// typed keys, clicks on the check list and the tabs, and Tab navigation,
// turned into the models' User* calls.
#include "Win32FormView.h"

#include "VisitControl.h"
#include "WideText.h"
#include "WindowText.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <optional>

namespace pelmbus {

namespace {

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

TUDBtnType Direction(bool up) {
    return up ? TUDBtnType::btNext : TUDBtnType::btPrev;
}

} // namespace

bool TWin32FormView::HandleInputMessage(UINT message, WPARAM wParam, LPARAM lParam,
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
    default:
        return false;
    }
}

void TWin32FormView::HandleCommand(HWND window, UINT code) {
    TControl* model = ModelOf(window);
    if (model == nullptr || FShowing > 0) {
        return;
    }
    VisitControl(
        *model,
        [window, code](TEdit& edit) {
            if (code == EN_CHANGE) {
                edit.UserSetText(Utf8FromWide(WindowText(window)));
            }
        },
        [window, code](TMemo& memo) {
            if (code == EN_CHANGE) {
                memo.UserSetText(Utf8FromWide(WindowText(window)));
            }
        },
        [this, code](TCheckBox& check) {
            if (code == BN_CLICKED) {
                check.UserClick();
                ShowState(check); // also when the model refused the click
            }
        },
        [code](TButton& button) {
            if (code == BN_CLICKED) {
                button.UserClick();
            }
        },
        [code](TSpeedButton& speed) {
            if (code == BN_CLICKED) {
                speed.UserClick();
            }
        },
        [this, window, code](TComboBox& combo) {
            if (code == CBN_SELCHANGE) {
                combo.UserSelect(static_cast<int>(SendMessageW(window, CB_GETCURSEL, 0, 0)));
                ShowState(combo);
            }
        },
        [this, window, code](TListBox& list) {
            if (code == LBN_SELCHANGE) {
                list.UserSelect(static_cast<int>(SendMessageW(window, LB_GETCURSEL, 0, 0)));
                ShowState(list);
            }
        },
        [](TControl&) {});
}

// An arrow of an up-down or a spin button was pressed (or an arrow key in an
// up-down's edit): the direction of the move is what the model takes.
void TWin32FormView::HandleUpDown(HWND window) {
    TControl* model = ModelOf(window);
    if (model == nullptr || FShowing > 0) {
        return;
    }
    const int position = static_cast<int>(SendMessageW(window, UDM_GETPOS32, 0, 0));
    VisitControl(
        *model,
        [this, position](TUpDown& upDown) {
            if (position != upDown.Position()) {
                upDown.UserClick(Direction(position > upDown.Position()));
            }
            ShowState(upDown);
        },
        [this, window, position](TSpinButton& spin) {
            ++FShowing;
            SendMessageW(window, UDM_SETPOS32, 0, SpinRest);
            --FShowing;
            if (position != SpinRest) {
                spin.UserClick(Direction(position > SpinRest));
            }
        },
        [](TControl&) {});
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
    const HandlerScope scope(*view);
    return view->HandleControl(window, *model, message, wParam, lParam);
}

LRESULT TWin32FormView::HandleControl(HWND window, TControl& model, UINT message, WPARAM wParam,
                                      LPARAM lParam) {
    if (message == WM_SETFOCUS) {
        model.UserFocus();
    }
    std::optional<LRESULT> handled;
    VisitControl(
        model,
        [&](TEdit& edit) {
            if (message != WM_CHAR) {
                return;
            }
            // Each typed character passes the model's key handler first,
            // which may discard or replace it. Carriage return never reaches
            // the text.
            const char key = KeyByte(static_cast<wchar_t>(wParam));
            const char result = edit.UserKeyPress(key);
            if (result == '\0' || result == '\r') {
                handled = 0;
                return;
            }
            const WPARAM passed =
                result == key ? wParam : static_cast<WPARAM>(static_cast<unsigned char>(result));
            handled = DefSubclassProc(window, message, passed, lParam);
        },
        [&](TCheckListBox& checkList) {
            // A click on an item's box, or the space bar, toggles its tick;
            // a click elsewhere in the row only selects the item.
            if (message == WM_LBUTTONDOWN) {
                handled = DefSubclassProc(window, message, wParam, lParam);
                const LRESULT hit = SendMessageW(window, LB_ITEMFROMPOINT, 0, lParam);
                RECT item{};
                const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                if (HIWORD(hit) == 0 && SendMessageW(window, LB_GETITEMRECT, LOWORD(hit),
                                                     reinterpret_cast<LPARAM>(&item)) != LB_ERR) {
                    const RECT box = CheckBoxOfItem(item);
                    if (at.x >= box.left && at.x < box.right) {
                        checkList.UserToggle(LOWORD(hit));
                    }
                }
            } else if (message == WM_KEYDOWN && wParam == VK_SPACE) {
                const int index = static_cast<int>(SendMessageW(window, LB_GETCURSEL, 0, 0));
                if (index >= 0) {
                    checkList.UserToggle(index);
                }
                handled = 0;
            }
        },
        [&](TPageControl&) { handled = HandlePageControl(window, message, wParam, lParam); },
        [](TControl&) {});
    return handled ? *handled : DefSubclassProc(window, message, wParam, lParam);
}

// The page changes only through the model's guard: a click on a tab, the
// arrow keys on the tabs, and a selection asked for by another program all
// become the operator's choice of that page. Empty when the tab control
// handles the message itself.
std::optional<LRESULT> TWin32FormView::HandlePageControl(HWND window, UINT message, WPARAM wParam,
                                                         LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN: {
        TCHITTESTINFO hit{{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, 0};
        const int index =
            static_cast<int>(SendMessageW(window, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (index >= 0 && index != FPageControl->ActivePageIndex()) {
            SetFocus(window);
            FPageControl->UserSelectPage(index);
            return 0;
        }
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_LEFT || wParam == VK_RIGHT) {
            // As the native tab control: the arrows stop at the first and
            // the last tab.
            SelectPageByKeyboard(wParam == VK_RIGHT ? 1 : -1, false);
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
    return std::nullopt;
}

void TWin32FormView::SelectPageByKeyboard(int step, bool goRound) {
    if (FPageControl == nullptr || FPageControl->PageCount() == 0) {
        return;
    }
    const int count = FPageControl->PageCount();
    const int next = FPageControl->ActivePageIndex() + step;
    if (goRound) {
        FPageControl->UserSelectPage((next + count) % count);
    } else if (next >= 0 && next < count) {
        FPageControl->UserSelectPage(next);
    }
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
        SelectPageByKeyboard(shift ? -1 : 1, true);
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
    if (const TControl* model = ModelOf(next); model != nullptr && IsKind<TEdit>(*model)) {
        SendMessageW(next, EM_SETSEL, 0, -1);
    }
}

} // namespace pelmbus
