#include "Controls.h"

#include <algorithm>
#include <exception>

namespace pelmbus {

// --- TControl ---

TControl::TControl(TWinControl* parent, std::string name, TBounds bounds)
    : FName(std::move(name)), FParent(parent), FBounds(bounds) {
    if (FParent != nullptr) {
        FParent->FChildren.push_back(this);
    }
}

void TControl::SetEnabled(bool value) {
    if (FEnabled != value) {
        FEnabled = value;
        Changed();
    }
}

void TControl::SetVisible(bool value) {
    if (FVisible != value) {
        FVisible = value;
        Changed();
    }
}

bool TControl::AcceptsInput() const {
    if (!FEnabled || !FVisible) {
        return false;
    }
    for (const TControl* c = FParent; c != nullptr; c = c->FParent) {
        if (!c->FEnabled) {
            return false;
        }
        // A sheet that is not the active page is not hidden for this test:
        // its contents are only out of sight.
        if (!c->FVisible && dynamic_cast<const TTabSheet*>(c) == nullptr) {
            return false;
        }
    }
    return true;
}

bool TControl::Focused() const {
    const TControl* c = this;
    while (c->FParent != nullptr) {
        c = c->FParent;
    }
    const auto* form = dynamic_cast<const TForm*>(c);
    return form != nullptr && form->ActiveControl() == this;
}

void TControl::UserFocus() {
    if (!AcceptsInput()) {
        return;
    }
    if (TForm* form = Form()) {
        form->SetActiveControl(this);
    }
}

void TControl::Changed() {
    if (OnViewUpdate) {
        OnViewUpdate();
    }
}

TForm* TControl::Form() {
    TControl* c = this;
    while (c->FParent != nullptr) {
        c = c->FParent;
    }
    return dynamic_cast<TForm*>(c);
}

void TControl::RunOperatorEvent(const std::function<void()>& handler) {
    if (!handler) {
        return;
    }
    if (TForm* form = Form()) {
        form->RunGuarded(handler);
    } else {
        handler();
    }
}

// --- TForm ---

TForm::TForm(std::string name, std::string caption, TBounds bounds)
    : TWinControl(nullptr, std::move(name), bounds), FCaption(std::move(caption)) {}

void TForm::ReportError(const std::string& text) {
    // One report at a time: an error raised while a report is shown (its
    // box runs the message loop) is dropped, so failures cannot stack up
    // boxes inside boxes, nor follow the open one in a flood.
    if (!OnErrorReport || FReportingError) {
        return;
    }
    FReportingError = true;
    try {
        OnErrorReport(text);
    } catch (...) {
        FReportingError = false;
        throw;
    }
    FReportingError = false;
}

void TForm::RunGuarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        ReportError(e.what());
    } catch (...) {
        ReportError("Неизвестная ошибка");
    }
}

// --- simple captioned controls ---

TLabel::TLabel(TWinControl* parent, std::string name, TBounds bounds, std::string caption)
    : TControl(parent, std::move(name), bounds), FCaption(std::move(caption)) {}

TGroupBox::TGroupBox(TWinControl* parent, std::string name, TBounds bounds, std::string caption)
    : TWinControl(parent, std::move(name), bounds), FCaption(std::move(caption)) {}

// --- TEdit ---

TEdit::TEdit(TWinControl* parent, std::string name, TBounds bounds, std::string text)
    : TControl(parent, std::move(name), bounds), FText(std::move(text)) {}

void TEdit::SetText(const std::string& text) {
    if (text == FText) {
        return;
    }
    FText = text;
    Changed();
    if (OnChange) {
        OnChange();
    }
}

char TEdit::UserKeyPress(char key) {
    if (!AcceptsInput()) {
        return '\0';
    }
    UserFocus();
    if (OnKeyPress) {
        RunOperatorEvent([&] { OnKeyPress(key); });
    }
    return key;
}

void TEdit::UserSetText(const std::string& text) {
    UserFocus();
    if (!AcceptsInput() || ReadOnly) {
        Changed(); // the view shows the model's text again
        return;
    }
    RunOperatorEvent([&] { SetText(text); });
}

// --- TUpDown ---

TUpDown::TUpDown(TWinControl* parent, std::string name, TBounds bounds, TEdit& associate, int min,
                 int max, int increment, int position)
    : TControl(parent, std::move(name), bounds), FAssociate(associate), FMin(min), FMax(max),
      FIncrement(increment), FPosition(std::clamp(position, min, max)) {}

void TUpDown::SetPosition(int position) {
    FPosition = std::clamp(position, FMin, FMax);
    Changed();
    FAssociate.SetText(FormatPosition ? FormatPosition(FPosition) : std::to_string(FPosition));
}

void TUpDown::UserClick(TUDBtnType button) {
    if (!AcceptsInput()) {
        return;
    }
    RunOperatorEvent([&] {
        // In 64 bits, so that a step past the range cannot overflow.
        const int64_t step = button == TUDBtnType::btNext ? FIncrement : -int64_t{FIncrement};
        SetPosition(static_cast<int>(std::clamp<int64_t>(FPosition + step, FMin, FMax)));
        if (OnClick) {
            OnClick(button);
        }
    });
}

// --- TCheckBox ---

TCheckBox::TCheckBox(TWinControl* parent, std::string name, TBounds bounds, std::string caption)
    : TControl(parent, std::move(name), bounds), FCaption(std::move(caption)) {}

void TCheckBox::SetChecked(bool checked) {
    if (checked == FChecked) {
        return;
    }
    FChecked = checked;
    Changed();
    if (OnClick) {
        OnClick();
    }
}

void TCheckBox::UserClick() {
    if (!AcceptsInput()) {
        Changed();
        return;
    }
    UserFocus();
    RunOperatorEvent([&] { SetChecked(!FChecked); });
}

// --- TCheckListBox ---

TCheckListBox::TCheckListBox(TWinControl* parent, std::string name, TBounds bounds,
                             std::vector<std::string> items)
    : TControl(parent, std::move(name), bounds), FItems(std::move(items)),
      FChecked(FItems.size(), false) {}

bool TCheckListBox::Checked(int index) const {
    return FChecked.at(static_cast<size_t>(index));
}

void TCheckListBox::SetChecked(int index, bool checked) {
    if (FChecked.at(static_cast<size_t>(index)) != checked) {
        FChecked[static_cast<size_t>(index)] = checked;
        Changed();
    }
}

void TCheckListBox::UserToggle(int index) {
    if (AcceptsInput() && index >= 0 && index < Count()) {
        SetChecked(index, !Checked(index));
    } else {
        Changed();
    }
}

// --- TButton ---

TButton::TButton(TWinControl* parent, std::string name, TBounds bounds, std::string caption)
    : TControl(parent, std::move(name), bounds), FCaption(std::move(caption)) {}

void TButton::UserClick() {
    if (AcceptsInput()) {
        UserFocus();
        RunOperatorEvent(OnClick);
    }
}

// --- TItemList, TComboBox, TListBox ---

void TItemList::SetItems(std::vector<std::string> items) {
    FItems = std::move(items);
    if (FItemIndex >= Count()) {
        FItemIndex = -1;
    }
    Changed();
}

void TItemList::Add(const std::string& item) {
    FItems.push_back(item);
    Changed();
}

void TItemList::SetItem(int index, const std::string& item) {
    if (index >= 0 && index < Count()) {
        FItems[static_cast<size_t>(index)] = item;
        Changed();
    }
}

void TItemList::Delete(int index) {
    if (index < 0 || index >= Count()) {
        return;
    }
    FItems.erase(FItems.begin() + index);
    if (FItemIndex == index) {
        FItemIndex = -1;
    } else if (FItemIndex > index) {
        --FItemIndex;
    }
    Changed();
}

void TItemList::SetItemIndex(int index) {
    const int valid = index >= 0 && index < Count() ? index : -1;
    if (valid != FItemIndex) {
        FItemIndex = valid;
        Changed();
    }
}

bool TItemList::SelectByOperator(int index) {
    if (!AcceptsInput() || index < 0 || index >= Count() || index == FItemIndex) {
        Changed();
        return false;
    }
    FItemIndex = index;
    Changed();
    return true;
}

TComboBox::TComboBox(TWinControl* parent, std::string name, TBounds bounds,
                     std::vector<std::string> items)
    : TItemList(parent, std::move(name), bounds) {
    SetItems(std::move(items));
}

void TComboBox::UserSelect(int index) {
    UserFocus();
    if (SelectByOperator(index)) {
        RunOperatorEvent(OnChange);
    }
}

void TListBox::UserSelect(int index) {
    UserFocus();
    if (SelectByOperator(index)) {
        RunOperatorEvent(OnClick);
    }
}

// --- TMemo, TShape ---

void TMemo::SetLines(std::vector<std::string> lines) {
    FLines = std::move(lines);
    Changed();
}

void TMemo::UserSetText(const std::string& text) {
    if (!AcceptsInput() || ReadOnly) {
        Changed();
        return;
    }
    UserFocus();
    FLines.clear();
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            FLines.push_back(text.substr(start));
            break;
        }
        FLines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    // The view shows this text already: no Changed(), which would move the
    // operator's cursor.
}

void TShape::SetBrushColor(TColor color) {
    if (color != FBrushColor) {
        FBrushColor = color;
        Changed();
    }
}

// --- TTabSheet, TPageControl ---

TTabSheet::TTabSheet(TPageControl& parent, std::string name, std::string caption)
    : TWinControl(&parent, std::move(name), parent.Bounds()), FCaption(std::move(caption)) {}

TTabSheet& TPageControl::Page(int index) const {
    return dynamic_cast<TTabSheet&>(*Children().at(static_cast<size_t>(index)));
}

void TPageControl::SetActivePageIndex(int index) {
    if (index >= 0 && index < PageCount() && index != FActivePageIndex) {
        FActivePageIndex = index;
        Changed();
    }
}

bool TPageControl::UserSelectPage(int index) {
    bool changed = false;
    if (AcceptsInput() && index >= 0 && index < PageCount() && index != FActivePageIndex) {
        RunOperatorEvent([&] {
            bool allowChange = true;
            if (OnChanging) {
                OnChanging(allowChange);
            }
            if (!allowChange) {
                return;
            }
            FActivePageIndex = index;
            changed = true;
            // The tab control keeps the focus, out of the page left behind.
            UserFocus();
            Changed();
            if (OnChange) {
                OnChange();
            }
        });
    }
    if (!changed) {
        Changed(); // the view goes back to the page that stays active
    }
    return changed;
}

// --- TSpinButton, TSpeedButton ---

void TSpinButton::UserClick(TUDBtnType button) {
    if (AcceptsInput()) {
        RunOperatorEvent(button == TUDBtnType::btNext ? OnUpClick : OnDownClick);
    }
}

TSpeedButton::TSpeedButton(TWinControl* parent, std::string name, TBounds bounds,
                           std::string caption)
    : TControl(parent, std::move(name), bounds), FCaption(std::move(caption)) {}

void TSpeedButton::UserClick() {
    if (AcceptsInput()) {
        RunOperatorEvent(OnClick);
    }
}

// --- TTimer ---

TTimer::TTimer(TForm& form, std::string name, int interval)
    : TControl(&form, std::move(name), TBounds{}), FInterval(interval) {}

void TTimer::Fire() {
    if (Enabled()) {
        RunOperatorEvent(OnTimer);
    }
}

} // namespace pelmbus
