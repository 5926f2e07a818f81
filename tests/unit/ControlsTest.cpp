#include "Controls.h"
#include "VisitControl.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace pelmbus;

namespace {

struct Window : TForm {
    Window() : TForm("Form", "Caption", {0, 0, 250, 211}) {
        OnErrorReport = [this](const std::string& text) { Errors.push_back(text); };
    }
    std::vector<std::string> Errors;
    TPageControl Pages{this, "Pages", {0, 0, 250, 211}};
    TTabSheet First{Pages, "First", "One"};
    TTabSheet Second{Pages, "Second", "Two"};
    TGroupBox Group{&First, "Group", {}, "Group"};
    TEdit Edit{&Group, "Edit", {}, "5"};
    TUpDown UpDown{&Group, "UpDown", {}, Edit, 5, 1000, 5, 5};
    TCheckBox Check{&First, "Check", {}, "Check"};
    TButton Button{&Second, "Button", {}, "Go"};
    TListBox List{&Second, "List", {}};
    TTimer Timer{*this, "Timer", 60000};
};

} // namespace

TEST(Controls, EditChangeRunsOnlyWhenTheTextReallyChanges) {
    Window w;
    int changes = 0;
    w.Edit.OnChange = [&] { ++changes; };
    w.Edit.SetText("5");
    EXPECT_EQ(changes, 0);
    w.Edit.SetText("6");
    w.Edit.SetText("6");
    EXPECT_EQ(changes, 1);

    w.Edit.ReadOnly = true;
    w.Edit.UserSetText("77");
    EXPECT_EQ(w.Edit.Text(), "6");
    EXPECT_EQ(changes, 1);
}

TEST(Controls, AnEditDropsPastedLineBreaksAndShowsTheTextWithout) {
    Window w;
    int changes = 0;
    int updates = 0;
    w.Edit.OnChange = [&] { ++changes; };
    w.Edit.OnViewUpdate = [&] { ++updates; };
    w.Edit.UserSetText("12\r\n34\n5\r");
    EXPECT_EQ(w.Edit.Text(), "12345");
    EXPECT_EQ(changes, 1);
    // Only a break pasted: the text stays, but the view must drop the break
    // it shows.
    updates = 0;
    w.Edit.UserSetText("12\n345");
    EXPECT_EQ(w.Edit.Text(), "12345");
    EXPECT_EQ(changes, 1);
    EXPECT_GE(updates, 1);
    w.Edit.SetText("a\rb");
    EXPECT_EQ(w.Edit.Text(), "ab");
}

TEST(Controls, EditKeyPressCanDiscardOrReplaceAndIsBlockedWhenDisabled) {
    Window w;
    w.Edit.OnKeyPress = [](char& key) { key = key == 'x' ? '\0' : key == '.' ? ',' : key; };
    EXPECT_EQ(w.Edit.UserKeyPress('x'), '\0');
    EXPECT_EQ(w.Edit.UserKeyPress('.'), ',');
    EXPECT_EQ(w.Edit.UserKeyPress('7'), '7');

    int presses = 0;
    w.Edit.OnKeyPress = [&](char&) { ++presses; };
    w.Group.SetEnabled(false); // a disabled container blocks its children
    EXPECT_EQ(w.Edit.UserKeyPress('7'), '\0');
    w.Group.SetEnabled(true);
    w.Edit.SetEnabled(false);
    EXPECT_EQ(w.Edit.UserKeyPress('7'), '\0');
    EXPECT_EQ(presses, 0);
}

TEST(Controls, UpDownClampsRewritesItsBuddyAndFiresClickOnlyForTheOperator) {
    Window w;
    std::vector<std::string> texts;
    std::vector<TUDBtnType> clicks;
    w.Edit.OnChange = [&] { texts.push_back(w.Edit.Text()); };
    w.UpDown.OnClick = [&](TUDBtnType b) { clicks.push_back(b); };
    w.UpDown.FormatPosition = [](int p) { return p >= 1000 ? "1 000" : std::to_string(p); };

    w.UpDown.SetPosition(3); // below the range: 5, which the edit already shows
    EXPECT_EQ(w.UpDown.Position(), 5);
    EXPECT_TRUE(texts.empty());
    w.UpDown.SetPosition(5000);
    EXPECT_EQ(w.UpDown.Position(), 1000);
    EXPECT_EQ(w.Edit.Text(), "1 000");
    EXPECT_TRUE(clicks.empty());

    w.UpDown.UserClick(TUDBtnType::btNext); // already at the top: stays, still a click
    EXPECT_EQ(w.UpDown.Position(), 1000);
    w.UpDown.UserClick(TUDBtnType::btPrev);
    EXPECT_EQ(w.UpDown.Position(), 995);
    EXPECT_EQ(w.Edit.Text(), "995");
    EXPECT_EQ(clicks, (std::vector<TUDBtnType>{TUDBtnType::btNext, TUDBtnType::btPrev}));
    EXPECT_EQ(texts, (std::vector<std::string>{"1 000", "995"}));

    w.UpDown.SetEnabled(false);
    w.UpDown.UserClick(TUDBtnType::btPrev);
    EXPECT_EQ(w.UpDown.Position(), 995);
    EXPECT_EQ(clicks.size(), 2u);
}

TEST(Controls, CheckBoxClickRunsOnEveryChangeOfTheTickAlsoFromCode) {
    Window w;
    int clicks = 0;
    w.Check.OnClick = [&] { ++clicks; };
    w.Check.SetChecked(false);
    EXPECT_EQ(clicks, 0);
    w.Check.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    w.Check.UserClick();
    EXPECT_FALSE(w.Check.Checked());
    EXPECT_EQ(clicks, 2);
    w.First.SetEnabled(false); // a disabled sheet disables what it holds
    w.Check.UserClick();
    EXPECT_FALSE(w.Check.Checked());
    EXPECT_EQ(clicks, 2);
}

TEST(Controls, PageControlAsksBeforeChangingAndCodeFiresNothing) {
    Window w;
    bool allow = false;
    int asked = 0, changed = 0;
    w.Pages.OnChanging = [&](bool& a) {
        ++asked;
        a = allow;
    };
    w.Pages.OnChange = [&] { ++changed; };

    EXPECT_FALSE(w.Pages.UserSelectPage(1));
    EXPECT_EQ(w.Pages.ActivePageIndex(), 0);
    allow = true;
    w.Second.SetEnabled(false); // the tab of a disabled sheet can still be chosen
    EXPECT_TRUE(w.Pages.UserSelectPage(1));
    EXPECT_EQ(w.Pages.ActivePageIndex(), 1);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(changed, 1);
    EXPECT_FALSE(w.Button.AcceptsInput());

    w.Pages.SetActivePageIndex(0);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(changed, 1);
}

TEST(Controls, ListSelectionFiresOnlyOnTheOperatorsChoice) {
    Window w;
    int clicks = 0;
    w.List.OnClick = [&] { ++clicks; };
    w.List.SetItems({"a", "b"});
    w.List.SetItemIndex(1);
    EXPECT_EQ(clicks, 0);
    w.List.UserSelect(0);
    w.List.UserSelect(0);
    w.List.UserSelect(7);
    EXPECT_EQ(w.List.ItemIndex(), 0);
    EXPECT_EQ(clicks, 1);
    w.List.SetItems({"c"});
    EXPECT_EQ(w.List.ItemIndex(), 0);
    w.List.SetItems({});
    EXPECT_EQ(w.List.ItemIndex(), -1);
}

TEST(Controls, ErrorEscapingAnOperatorEventEndsItAndIsReported) {
    Window w;
    bool after = false;
    w.Button.OnClick = [&] {
        throw std::runtime_error("\"x\" — недопустимое число");
        after = true;
    };
    w.Button.UserClick();
    EXPECT_FALSE(after);
    EXPECT_EQ(w.Errors, std::vector<std::string>{"\"x\" — недопустимое число"});

    // A failing change handler started by an up-down click ends that click.
    int clicks = 0;
    w.Edit.OnChange = [] { throw std::runtime_error("change"); };
    w.UpDown.OnClick = [&](TUDBtnType) { ++clicks; };
    w.UpDown.UserClick(TUDBtnType::btNext);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(w.Errors.back(), "change");
}

TEST(Controls, TimerFiresOnlyWhileEnabled) {
    Window w;
    int ticks = 0;
    w.Timer.OnTimer = [&] { ++ticks; };
    w.Timer.Fire();
    w.Timer.SetEnabled(false);
    w.Timer.Fire();
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(w.Timer.Interval(), 60000);
}

TEST(Controls, ViewIsToldOfEveryStateChangeFromCode) {
    Window w;
    int updates = 0;
    w.Edit.OnViewUpdate = [&] { ++updates; };
    w.UpDown.SetPosition(10); // rewrites the edit
    w.Edit.SetEnabled(false);
    w.Edit.SetEnabled(false);
    EXPECT_EQ(updates, 2);
}

TEST(Controls, FocusFollowsTheOperatorButNotIntoDisabledControlsOrSpeedButtons) {
    Window w;
    TSpeedButton speed{&w.Second, "Speed", {}, "Speed"};
    int clicks = 0;
    speed.OnClick = [&] { clicks += w.List.Focused() ? 1 : 100; };
    w.Pages.SetActivePageIndex(1);
    w.List.SetItems({"a", "b"});
    w.List.UserSelect(1);
    speed.UserClick();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(w.ActiveControl(), &w.List);

    w.Edit.SetEnabled(false);
    w.Edit.UserFocus();
    EXPECT_TRUE(w.List.Focused());
    // A new page: the tab control keeps the focus.
    EXPECT_TRUE(w.Pages.UserSelectPage(0));
    EXPECT_TRUE(w.Pages.Focused());
}

TEST(Controls, DeletingAnItemDropsOrShiftsTheSelection) {
    Window w;
    w.List.SetItems({"a", "b", "c"});
    w.List.SetItemIndex(2);
    w.List.Delete(0);
    EXPECT_EQ(w.List.Items(), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(w.List.ItemIndex(), 1);
    w.List.SetItem(1, "C");
    EXPECT_EQ(w.List.ItemIndex(), 1);
    w.List.Delete(1);
    EXPECT_EQ(w.List.ItemIndex(), -1);
    w.List.Delete(5); // nothing there
    EXPECT_EQ(w.List.Items(), std::vector<std::string>{"b"});
}

// Each control reaches the overload of its own kind; an overload for a base
// class takes the kinds that have none of their own; the form itself is no
// control a view builds.
TEST(Controls, VisitorReachesEachKindAndBaseOverloadsStandForTheRest) {
    Window w;
    const auto kindOf = [](TControl& control) {
        std::string kind;
        VisitControl(
            control, [&](TEdit&) { kind = "edit"; }, [&](TUpDown&) { kind = "updown"; },
            [&](TTabSheet&) { kind = "sheet"; }, [&](TWinControl&) { kind = "container"; },
            [&](TItemList&) { kind = "items"; }, [&](const TControl&) { kind = "other"; });
        return kind;
    };
    EXPECT_EQ(kindOf(w.Edit), "edit");
    EXPECT_EQ(kindOf(w.UpDown), "updown");
    EXPECT_EQ(kindOf(w.First), "sheet");
    EXPECT_EQ(kindOf(w.Pages), "container");
    EXPECT_EQ(kindOf(w.Group), "container");
    EXPECT_EQ(kindOf(w.List), "items");
    EXPECT_EQ(kindOf(w.Check), "other");
    EXPECT_EQ(kindOf(w.Timer), "other");
    EXPECT_EQ(kindOf(w), "");

    EXPECT_TRUE(IsKind<TItemList>(w.List));
    EXPECT_FALSE(IsKind<TComboBox>(w.List));
    EXPECT_TRUE(IsKind<TWinControl>(w.Group));
    EXPECT_FALSE(IsKind<TTabSheet>(w.Pages));
}
