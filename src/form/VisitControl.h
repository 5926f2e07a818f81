// Runs one of a set of callables on a control, chosen by its kind, through
// the form's visitor: the views' way to tell the kinds apart.
#pragma once

#include "Controls.h"

#include <utility>

namespace pelmbus {

template <typename... Calls> struct TOverloaded : Calls... { using Calls::operator()...; };
template <typename... Calls> TOverloaded(Calls...) -> TOverloaded<Calls...>;

// Calls `call` with the visited control as its own kind. `call` must take
// every kind; an overload for a base class (TControl&, TWinControl&,
// TItemList&) stands for the kinds derived from it. Without such an
// overload, a kind added to the form stops the build of every caller.
template <typename Call> class TCallingVisitor final : public TControlVisitor {
public:
    explicit TCallingVisitor(Call& call) : FCall(call) {}

    void Visit(TLabel& control) override { FCall(control); }
    void Visit(TGroupBox& control) override { FCall(control); }
    void Visit(TEdit& control) override { FCall(control); }
    void Visit(TUpDown& control) override { FCall(control); }
    void Visit(TCheckBox& control) override { FCall(control); }
    void Visit(TCheckListBox& control) override { FCall(control); }
    void Visit(TButton& control) override { FCall(control); }
    void Visit(TComboBox& control) override { FCall(control); }
    void Visit(TListBox& control) override { FCall(control); }
    void Visit(TMemo& control) override { FCall(control); }
    void Visit(TShape& control) override { FCall(control); }
    void Visit(TTabSheet& control) override { FCall(control); }
    void Visit(TPageControl& control) override { FCall(control); }
    void Visit(TSpinButton& control) override { FCall(control); }
    void Visit(TSpeedButton& control) override { FCall(control); }
    void Visit(TTimer& control) override { FCall(control); }

private:
    Call& FCall;
};

// For example: VisitControl(control, [](TEdit& edit) {...}, [](TControl&) {}).
template <typename... Calls> void VisitControl(TControl& control, Calls&&... calls) {
    TOverloaded overloaded{std::forward<Calls>(calls)...};
    TCallingVisitor<decltype(overloaded)> visitor(overloaded);
    control.Accept(visitor);
}

// The same for a control the caller may only read; the callables take
// const references.
template <typename... Calls> void VisitControl(const TControl& control, Calls&&... calls) {
    VisitControl(const_cast<TControl&>(control), std::forward<Calls>(calls)...);
}

// True when the control is of the kind `Kind` or derives from it.
template <typename Kind> bool IsKind(const TControl& control) {
    bool is = false;
    VisitControl(
        control, [&is](const Kind&) { is = true; }, [](const TControl&) {});
    return is;
}

} // namespace pelmbus
