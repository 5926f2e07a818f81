// Control models: what each control of the window shows (text, position,
// tick, enabled, visible, items, selection) and the events it fires, without
// any window system. A view builds real widgets from them, shows their state
// and turns the operator's input into the User* calls below.
//
// Events fire at the moments the window's handlers rely on:
// - setting an edit's text runs its change handler, but only when the text
//   really changes;
// - an up-down clamps its position to its range and rewrites its buddy edit;
// - a check box runs its click handler whenever its tick changes, also when
//   code sets it;
// - a combo box, a list box, a page control and an up-down fire only on the
//   operator's action;
// - a control that is disabled or hidden, or sits in a disabled container,
//   takes no input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelmbus {

struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// Colour value as the window system stores it: red in the low byte, then
// green, then blue.
using TColor = uint32_t;

constexpr TColor RGBColor(uint8_t red, uint8_t green, uint8_t blue) {
    return TColor{red} | (TColor{green} << 8) | (TColor{blue} << 16);
}
inline constexpr TColor clLime = RGBColor(0, 255, 0);  // 65280
inline constexpr TColor clGreen = RGBColor(0, 128, 0); // 32768
// The default: the view keeps the platform's own colour.
inline constexpr TColor clDefault = 0xFF000000u;

class TWinControl;
class TForm;
class TLabel;
class TGroupBox;
class TEdit;
class TUpDown;
class TCheckBox;
class TCheckListBox;
class TButton;
class TComboBox;
class TListBox;
class TMemo;
class TShape;
class TTabSheet;
class TPageControl;
class TSpinButton;
class TSpeedButton;
class TTimer;

// One Visit per kind of control a view builds. A view implements it, so a
// new kind that the view does not handle stops its build.
class TControlVisitor {
public:
    virtual void Visit(TLabel& control) = 0;
    virtual void Visit(TGroupBox& control) = 0;
    virtual void Visit(TEdit& control) = 0;
    virtual void Visit(TUpDown& control) = 0;
    virtual void Visit(TCheckBox& control) = 0;
    virtual void Visit(TCheckListBox& control) = 0;
    virtual void Visit(TButton& control) = 0;
    virtual void Visit(TComboBox& control) = 0;
    virtual void Visit(TListBox& control) = 0;
    virtual void Visit(TMemo& control) = 0;
    virtual void Visit(TShape& control) = 0;
    virtual void Visit(TTabSheet& control) = 0;
    virtual void Visit(TPageControl& control) = 0;
    virtual void Visit(TSpinButton& control) = 0;
    virtual void Visit(TSpeedButton& control) = 0;
    virtual void Visit(TTimer& control) = 0;

protected:
    ~TControlVisitor() = default;
};

class TControl {
public:
    TControl(TWinControl* parent, std::string name, TBounds bounds);
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string& Name() const { return FName; }
    // Calls the visitor's Visit for this control's kind.
    virtual void Accept(TControlVisitor& visitor) = 0;
    TWinControl* Parent() const { return FParent; }
    const TBounds& Bounds() const { return FBounds; }

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);

    // True when the operator can reach the control: it and every container
    // up to the form are enabled and shown.
    bool AcceptsInput() const;

    // True when this control has the input focus.
    bool Focused() const;
    // The operator moved the input focus here (a click, the Tab key); a
    // control that takes no input does not get it.
    void UserFocus();

    // The view's hook, run after the control's state changed.
    std::function<void()> OnViewUpdate;

protected:
    void Changed();
    // Runs a handler that the operator's input started. An exception that
    // escapes it ends the handler's work and goes to the form's error report.
    void RunOperatorEvent(const std::function<void()>& handler);
    TForm* Form();

private:
    std::string FName;
    TWinControl* FParent;
    TBounds FBounds;
    bool FEnabled = true;
    bool FVisible = true;
};

// A control that holds other controls; disabling it disables their input.
class TWinControl : public TControl {
public:
    using TControl::TControl;
    const std::vector<TControl*>& Children() const { return FChildren; }

private:
    friend class TControl;
    std::vector<TControl*> FChildren;
};

class TForm : public TWinControl {
public:
    TForm(std::string name, std::string caption, TBounds bounds);

    const std::string& Caption() const { return FCaption; }
    // The form is the view's window itself, never a control built in it.
    void Accept(TControlVisitor&) final {}

    // The font of every control that names none of its own: a face and a
    // size in points.
    std::string FontName;
    int FontSize = 0;

    // The default error report: shows the text of an error that escaped a
    // handler, unless a report is being shown already. The program goes on
    // afterwards.
    std::function<void(const std::string& text)> OnErrorReport;
    void ReportError(const std::string& text);

    // Runs work that the message loop delivered, guarded like an operator's
    // event.
    void RunGuarded(const std::function<void()>& work);

    // The control with the input focus, or none.
    TControl* ActiveControl() const { return FActiveControl; }
    void SetActiveControl(TControl* control) { FActiveControl = control; }

private:
    std::string FCaption;
    TControl* FActiveControl = nullptr;
    bool FReportingError = false;
};

class TLabel : public TControl {
public:
    TLabel(TWinControl* parent, std::string name, TBounds bounds, std::string caption);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    const std::string& Caption() const { return FCaption; }

private:
    std::string FCaption;
};

class TGroupBox : public TWinControl {
public:
    TGroupBox(TWinControl* parent, std::string name, TBounds bounds, std::string caption);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    const std::string& Caption() const { return FCaption; }

private:
    std::string FCaption;
};

class TEdit : public TControl {
public:
    TEdit(TWinControl* parent, std::string name, TBounds bounds, std::string text);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }

    const std::string& Text() const { return FText; }
    // Runs OnChange when the text differs from what the edit held. Line
    // breaks (CR, LF) are dropped: the edit holds one line.
    void SetText(const std::string& text);

    bool ReadOnly = false;
    bool Bold = false;
    TColor Color = clDefault;
    // A face and a height in pixels of its own; empty and 0 use the form's.
    std::string FontName;
    int FontHeight = 0;

    std::function<void()> OnChange;
    // The typed character, one byte; the handler may replace it or set it to
    // NUL to discard it.
    std::function<void(char& key)> OnKeyPress;

    // The operator typed a key; returns it as the handler left it (NUL: the
    // key is discarded and must not reach the text).
    char UserKeyPress(char key);
    // The operator changed the text by typing; ignored when read-only.
    void UserSetText(const std::string& text);

private:
    std::string FText;
};

enum class TUDBtnType { btNext, btPrev };

// An up-down bound to its buddy edit: the edit shows the position, which
// changes only through the up-down.
class TUpDown : public TControl {
public:
    TUpDown(TWinControl* parent, std::string name, TBounds bounds, TEdit& associate, int min,
            int max, int increment, int position);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }

    TEdit& Associate() const { return FAssociate; }
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Increment() const { return FIncrement; }
    int Position() const { return FPosition; }
    // Clamps to Min..Max and rewrites the buddy edit's text.
    void SetPosition(int position);

    // Text of a position in the buddy edit; plain decimal when unset.
    std::function<std::string(int position)> FormatPosition;

    std::function<void(TUDBtnType button)> OnClick;
    // The operator pressed an arrow (or an arrow key in the buddy edit).
    void UserClick(TUDBtnType button);

private:
    TEdit& FAssociate;
    int FMin;
    int FMax;
    int FIncrement;
    int FPosition;
};

class TCheckBox : public TControl {
public:
    TCheckBox(TWinControl* parent, std::string name, TBounds bounds, std::string caption);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }

    const std::string& Caption() const { return FCaption; }
    bool Checked() const { return FChecked; }
    // Runs OnClick whenever the tick changes.
    void SetChecked(bool checked);

    std::function<void()> OnClick;
    void UserClick();

private:
    std::string FCaption;
    bool FChecked = false;
};

class TCheckListBox : public TControl {
public:
    TCheckListBox(TWinControl* parent, std::string name, TBounds bounds,
                  std::vector<std::string> items);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }

    const std::vector<std::string>& Items() const { return FItems; }
    int Count() const { return static_cast<int>(FItems.size()); }
    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
    void UserToggle(int index);

private:
    std::vector<std::string> FItems;
    std::vector<bool> FChecked;
};

class TButton : public TControl {
public:
    TButton(TWinControl* parent, std::string name, TBounds bounds, std::string caption);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }

    const std::string& Caption() const { return FCaption; }
    std::function<void()> OnClick;
    void UserClick();

private:
    std::string FCaption;
};

// Shared by the combo box and the list box: items and one selected index
// (-1 for none). Code changes fire nothing.
class TItemList : public TControl {
public:
    using TControl::TControl;

    const std::vector<std::string>& Items() const { return FItems; }
    int Count() const { return static_cast<int>(FItems.size()); }
    void SetItems(std::vector<std::string> items);
    void Add(const std::string& item);
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int index);
    // Replaces one item; the selection stays.
    void SetItem(int index, const std::string& item);
    // Removes one item; a selection of it is dropped, a later one follows it.
    void Delete(int index);

protected:
    // The operator chose an item; true when the selection changed.
    bool SelectByOperator(int index);

private:
    std::vector<std::string> FItems;
    int FItemIndex = -1;
};

class TComboBox : public TItemList {
public:
    TComboBox(TWinControl* parent, std::string name, TBounds bounds,
              std::vector<std::string> items);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    std::function<void()> OnChange;
    void UserSelect(int index);
};

class TListBox : public TItemList {
public:
    using TItemList::TItemList;
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    bool Bold = false;
    TColor Color = clDefault;
    std::function<void()> OnClick;
    void UserSelect(int index);
};

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo : public TControl {
public:
    using TControl::TControl;
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    const std::vector<std::string>& Lines() const { return FLines; }
    void SetLines(std::vector<std::string> lines);
    TColor Color = clDefault;
    TScrollStyle ScrollBars = TScrollStyle::ssNone;
    bool WordWrap = true;
    bool ReadOnly = false;

    // The operator edited the text: its lines, split at line breaks (CR LF,
    // LF or CR); a break at the very end starts no further line.
    void UserSetText(const std::string& text);

private:
    std::vector<std::string> FLines;
};

class TShape : public TControl {
public:
    using TControl::TControl;
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    TColor BrushColor() const { return FBrushColor; }
    void SetBrushColor(TColor color);

private:
    TColor FBrushColor = RGBColor(255, 255, 255);
};

class TTabSheet : public TWinControl {
public:
    TTabSheet(class TPageControl& parent, std::string name, std::string caption);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    const std::string& Caption() const { return FCaption; }

private:
    std::string FCaption;
};

// Pages are its TTabSheet children. A disabled sheet disables what it holds;
// its tab can still be chosen, and the Changing handler decides.
class TPageControl : public TWinControl {
public:
    using TWinControl::TWinControl;
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }

    int PageCount() const { return static_cast<int>(Children().size()); }
    TTabSheet& Page(int index) const;
    int ActivePageIndex() const { return FActivePageIndex; }
    void SetActivePageIndex(int index);

    bool HotTrack = false;
    std::function<void(bool& allowChange)> OnChanging;
    std::function<void()> OnChange;
    // The operator chose a tab; returns whether the page changed.
    bool UserSelectPage(int index);

private:
    int FActivePageIndex = 0;
};

// Two arrow buttons without a buddy: each click runs its handler. They never
// take the input focus.
class TSpinButton : public TControl {
public:
    using TControl::TControl;
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    std::function<void()> OnUpClick;
    std::function<void()> OnDownClick;
    void UserClick(TUDBtnType button);
};

// The picture a speed button shows.
enum class TGlyph { None, Apply, Delete };

// A button with a picture that never takes the input focus: clicking it
// leaves the focus where it was, so its handler can ask who has it.
class TSpeedButton : public TControl {
public:
    TSpeedButton(TWinControl* parent, std::string name, TBounds bounds, std::string caption);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }

    const std::string& Caption() const { return FCaption; }
    bool Flat = false;
    TGlyph Glyph = TGlyph::None;
    std::string Hint;

    std::function<void()> OnClick;
    void UserClick();

private:
    std::string FCaption;
};

// A timer: not shown, but bound by the view to the window system's timer.
class TTimer : public TControl {
public:
    TTimer(TForm& form, std::string name, int interval);
    void Accept(TControlVisitor& visitor) override { visitor.Visit(*this); }
    int Interval() const { return FInterval; }
    std::function<void()> OnTimer;
    // The interval has passed: runs OnTimer when enabled.
    void Fire();

private:
    int FInterval;
};

} // namespace pelmbus
