// The Win32 view under Wine: the window built from the form's models, driven
// with the messages the operator's input produces, checked in the models and
// the port. No display is needed.
#include "Win32FormView.h"
#include "FakeFormHost.h"
#include "TextFile.h"
#include "UPelMBus.h"
#include "Win32FormHost.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace pelmbus {
namespace {

using testsupport::FakeFormHost;
using testsupport::TempDirectory;

class Win32FormViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Host.Directory = Dir.Path;
        // A port that does not exist, and the program's usual settings.
        ASSERT_TRUE(
            WriteTextLines(Dir.Path + "CfgMBus.txt",
                           {"Настройка_COM_порта=COM250:9600,N,8,2", "Номер_slave_устройства=1",
                            "Уставка_усреднения=6", "Уставка_скользящего_усреднения=6",
                            "Цикл_опроса_порта=250", "Задержка_ответа=0"}));
        Form = std::make_unique<TFPelMBus>(Host);
        View = std::make_unique<TWin32FormView>(*Form, GetModuleHandleW(nullptr));
        View->OnClose = [this] {
            ++Closes;
            Form->FormClose();
        };
        View->OnMBusData = [this](uintptr_t wParam, intptr_t) { Delivered.push_back(wParam); };
        Form->RunGuarded([this] { Form->FormCreate(); });
        ASSERT_TRUE(Form->InOutPort1);
        View->Show(SW_SHOWNOACTIVATE);
    }
    void TearDown() override {
        if (Form && Form->InOutPort1) {
            Form->FormClose();
        }
        View.reset();
    }

    HWND W(const TControl& control) const { return View->WindowOf(control); }
    // A click of a button, a check box or a speed button.
    void Click(const TControl& control) { SendMessageW(W(control), BM_CLICK, 0, 0); }
    // What the control sends its page when the operator changes it.
    void Notify(const TControl& control, UINT code) {
        SendMessageW(GetParent(W(control)), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(W(control)), code),
                     reinterpret_cast<LPARAM>(W(control)));
    }
    void Type(const TControl& control, const std::wstring& keys) {
        for (wchar_t key : keys) {
            SendMessageW(W(control), WM_CHAR, key, 0);
        }
    }
    // An arrow of an up-down: the control moves its position and reports it.
    void Arrow(const TControl& upDown, bool up) {
        HWND window = W(upDown);
        const int position = static_cast<int>(SendMessageW(window, UDM_GETPOS32, 0, 0));
        SendMessageW(window, UDM_SETPOS32, 0, position + (up ? 1 : -1));
        SendMessageW(GetParent(window), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0),
                     reinterpret_cast<LPARAM>(window));
    }
    std::wstring Text(const TControl& control) const {
        wchar_t text[512] = {};
        GetWindowTextW(W(control), text, 512);
        return text;
    }
    bool Shown(const TControl& control) const {
        return (GetWindowLongPtrW(W(control), GWL_STYLE) & WS_VISIBLE) != 0;
    }
    bool Enabled(const TControl& control) const { return IsWindowEnabled(W(control)) != FALSE; }
    int TabShown() const {
        return static_cast<int>(SendMessageW(W(Form->PageControl1), TCM_GETCURSEL, 0, 0));
    }
    void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    TempDirectory Dir;
    FakeFormHost Host;
    std::unique_ptr<TFPelMBus> Form;
    std::unique_ptr<TWin32FormView> View;
    int Closes = 0;
    std::vector<uintptr_t> Delivered;
};

TEST_F(Win32FormViewTest, WindowHasTheDesignClientAreaCaptionAndModelTexts) {
    RECT client;
    GetClientRect(View->Window(), &client);
    EXPECT_EQ(client.right, MulDiv(250, static_cast<int>(View->Dpi()), 96));
    EXPECT_EQ(client.bottom, MulDiv(211, static_cast<int>(View->Dpi()), 96));
    wchar_t caption[64] = {};
    GetWindowTextW(View->Window(), caption, 64);
    EXPECT_STREQ(caption, L"Модуль ModBus v2.20");
    const LONG style = static_cast<LONG>(GetWindowLongPtrW(View->Window(), GWL_STYLE));
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);

    EXPECT_EQ(Text(Form->Edit10), L"COM250:9600,N,8,2");
    EXPECT_EQ(SendMessageW(W(Form->PageControl1), TCM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(TabShown(), 0);
    EXPECT_TRUE(Shown(Form->TabSheet1));
    EXPECT_FALSE(Shown(Form->SetSheet));
    EXPECT_FALSE(Shown(Form->CheckListBox1));
    // Design positions, scaled: "Ввод" sits in its group on the first page.
    RECT button;
    GetWindowRect(W(Form->Button6), &button);
    MapWindowPoints(nullptr, W(Form->TabSheet1), reinterpret_cast<POINT*>(&button), 2);
    EXPECT_EQ(button.left, MulDiv(4 + 158, static_cast<int>(View->Dpi()), 96));
    EXPECT_FALSE(Enabled(Form->Button6)); // the port did not open
}

TEST_F(Win32FormViewTest, UpDownArrowsStepThePositionAndThePort) {
    ASSERT_EQ(Form->UpDown2.Position(), 250);
    Arrow(Form->UpDown2, true);
    EXPECT_EQ(Form->UpDown2.Position(), 255); // one step of 5, whatever the control moved
    EXPECT_EQ(Form->InOutPort1->CiclOprosa, 255u);
    EXPECT_EQ(Text(Form->Edit2), L"255");

    Arrow(Form->UpDown1, true);
    EXPECT_EQ(Form->InOutPort1->SlaveNomer, 2);
    Arrow(Form->UpDown1, false);
    Arrow(Form->UpDown1, false); // at the minimum: stays
    EXPECT_EQ(Form->InOutPort1->SlaveNomer, 1);
    EXPECT_EQ(Text(Form->Edit1), L"1");
    // The read-only edit takes no typing.
    Type(Form->Edit1, L"7");
    EXPECT_EQ(Form->Edit1.Text(), "1");
}

TEST_F(Win32FormViewTest, TypingThePortStringEnablesInputAndStopsTheWatchdog) {
    ASSERT_TRUE(Form->Timer1.Enabled());
    SendMessageW(W(Form->Edit10), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    Type(Form->Edit10, L"COM251");
    EXPECT_EQ(Form->Edit10.Text(), "COM251");
    EXPECT_TRUE(Enabled(Form->Button6));
    EXPECT_FALSE(Form->Timer1.Enabled());
    Click(Form->Button6); // does not open: stays enabled, watchdog back on
    EXPECT_TRUE(Enabled(Form->Button6));
    EXPECT_TRUE(Form->Timer1.Enabled());
    EXPECT_EQ(Form->InOutPort1->StrPort, "COM251");
}

TEST_F(Win32FormViewTest, DataKindChoiceThroughTheCheckListAndTheTabGuard) {
    Click(Form->Button1);
    EXPECT_TRUE(Shown(Form->CheckListBox1));
    EXPECT_TRUE(Enabled(Form->CheckListBox1));
    EXPECT_TRUE(Enabled(Form->Button7));
    EXPECT_FALSE(Enabled(Form->Button1));
    EXPECT_FALSE(Enabled(Form->Edit10)); // in a disabled group
    EXPECT_FALSE(Enabled(Form->Memo2));  // on a disabled page

    // A click on item 0 unticks it (all nine are ticked from the defaults).
    HWND list = W(Form->CheckListBox1);
    RECT item;
    SendMessageW(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.left + 3, item.top + 3));
    SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(item.left + 3, item.top + 3));
    EXPECT_FALSE(Form->CheckListBox1.Checked(0));

    // Any other page is refused while the choice is open.
    SendMessageW(W(Form->PageControl1), TCM_SETCURSEL, 2, 0);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), 0);
    EXPECT_EQ(TabShown(), 0);
    ASSERT_EQ(Host.Messages.size(), 1u);
    EXPECT_EQ(Host.Messages[0], "Вы не зафиксировали выбранные параметры");

    Click(Form->Button7); // kinds 1 and 8 without kind 0: refused
    EXPECT_EQ(Host.Messages.back(), "Усреднение не может производиться без текущих параметров");
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0); // ticks item 0 again
    EXPECT_TRUE(Form->CheckListBox1.Checked(0));
    Click(Form->Button7);
    EXPECT_FALSE(Shown(Form->CheckListBox1));
    EXPECT_TRUE(Enabled(Form->Memo2));
    SendMessageW(W(Form->PageControl1), TCM_SETCURSEL, 1, 0);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), 1);
    EXPECT_EQ(TabShown(), 1);
    EXPECT_TRUE(Shown(Form->TabSheet2));
    EXPECT_FALSE(Shown(Form->TabSheet1));
}

// The tab control's selection as it reaches the control: every message
// that a subclass installed after the view's sees.
LRESULT CALLBACK RecordSelection(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR data) {
    if (message == TCM_SETCURSEL) {
        reinterpret_cast<std::vector<int>*>(data)->push_back(static_cast<int>(wParam));
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// Keys as the loop meets them, with Ctrl held down or not.
void PressTab(TWin32FormView& view, HWND focus, bool control, bool shift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    BYTE pressed[256];
    std::copy(std::begin(keys), std::end(keys), std::begin(pressed));
    pressed[VK_CONTROL] = control ? 0x80 : 0;
    pressed[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(pressed);
    const MSG message{focus, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    view.PreTranslate(message);
    SetKeyboardState(keys);
}

TEST_F(Win32FormViewTest, CtrlTabSelectsTheTabOfThePageShownArrowsStopAtTheEnds) {
    HWND tabs = W(Form->PageControl1);
    std::vector<int> selections;
    ASSERT_TRUE(
        SetWindowSubclass(tabs, RecordSelection, 77, reinterpret_cast<DWORD_PTR>(&selections)));
    const int last = Form->PageControl1.PageCount() - 1;

    PressTab(*View, tabs, true, false);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), 1);
    EXPECT_EQ(TabShown(), 1);
    EXPECT_EQ(selections, std::vector<int>{1}) << "selected with an ordinary message";
    PressTab(*View, tabs, true, true);
    PressTab(*View, tabs, true, true); // Ctrl+Shift+Tab goes round to the last page
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), last);
    EXPECT_EQ(TabShown(), last);
    EXPECT_TRUE(Shown(Form->PageControl1.Page(last)));

    SendMessageW(tabs, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), last) << "the arrows stop at the last tab";
    SendMessageW(tabs, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), last - 1);
    EXPECT_EQ(TabShown(), last - 1);
    SendMessageW(tabs, TCM_SETCURSEL, 0, 0);
    SendMessageW(tabs, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), 0) << "the arrows stop at the first tab";
    RemoveWindowSubclass(tabs, RecordSelection, 77);
}

TEST_F(Win32FormViewTest, CheckListTicksOnlyOnTheItemsBox) {
    Click(Form->Button1);
    HWND list = W(Form->CheckListBox1);
    RECT item;
    SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    ASSERT_TRUE(Form->CheckListBox1.Checked(1));
    const LPARAM onText = MAKELPARAM(item.left + (item.right - item.left) / 2, item.top + 3);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, onText);
    SendMessageW(list, WM_LBUTTONUP, 0, onText);
    EXPECT_TRUE(Form->CheckListBox1.Checked(1)) << "a click on the text only selects";
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
    const LPARAM onBox = MAKELPARAM(item.left + 5, item.top + 3);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, onBox);
    SendMessageW(list, WM_LBUTTONUP, 0, onBox);
    EXPECT_FALSE(Form->CheckListBox1.Checked(1));
}

// Activation (Alt+Tab, a taskbar click, a message box closing) gives the
// window itself the focus; it goes on to the control that had it.
TEST_F(Win32FormViewTest, FocusComesBackToItsControlWhenTheWindowIsActivatedAgain) {
    HWND edit = W(Form->Edit1);
    ASSERT_TRUE(IsWindowEnabled(edit));
    SetFocus(edit);
    ASSERT_EQ(GetFocus(), edit);
    SendMessageW(View->Window(), WM_ACTIVATE, WA_INACTIVE, 0);
    SetFocus(View->Window()); // what activation does
    EXPECT_EQ(GetFocus(), edit);
}

TEST_F(Win32FormViewTest, ManualEntryTypedAddedAndChosenFromTheList) {
    SendMessageW(W(Form->PageControl1), TCM_SETCURSEL, 2, 0);
    Arrow(Form->sbReg, true);
    EXPECT_EQ(Text(Form->eRegNum), L"180");
    EXPECT_EQ(SendMessageW(W(Form->sbReg), UDM_GETPOS32, 0, 0), 1); // back at rest

    SendMessageW(W(Form->eParam), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    Type(Form->eParam, L"12x5"); // the letter does not pass the number filter
    EXPECT_EQ(Form->eParam.Text(), "125");
    SendMessageW(W(Form->eComment), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Давление"));
    EXPECT_EQ(Form->eComment.Text(), "Давление");
    Type(Form->eComment, L"\r"); // Enter stores the entry
    ASSERT_EQ(Form->lbParams.Count(), 1);
    EXPECT_EQ(Form->lbParams.Items()[0], "180=125 = Давление");
    EXPECT_EQ(SendMessageW(W(Form->lbParams), LB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(Text(Form->eComment), L"Давление"); // Enter never reaches the text

    // Choosing the line loads it; "Удалить параметр" deletes it only while
    // the list has the focus.
    Arrow(Form->sbReg, true);
    SendMessageW(W(Form->lbParams), LB_SETCURSEL, 0, 0);
    Notify(Form->lbParams, LBN_SELCHANGE);
    EXPECT_EQ(Form->ManualRegNum, 180);
    EXPECT_EQ(Text(Form->eRegNum), L"180");
    SetFocus(W(Form->eComment));
    Click(Form->DelBtn);
    EXPECT_EQ(Form->lbParams.Count(), 1);
    SetFocus(W(Form->lbParams));
    EXPECT_TRUE(Form->lbParams.Focused());
    Click(Form->DelBtn); // a speed button leaves the focus where it was
    EXPECT_EQ(Form->lbParams.Count(), 0);
    EXPECT_EQ(SendMessageW(W(Form->lbParams), LB_GETCOUNT, 0, 0), 0);
}

TEST_F(Win32FormViewTest, InspectorEditModeHoldsThePageUntilReset) {
    SendMessageW(W(Form->PageControl1), TCM_SETCURSEL, 3, 0);
    ASSERT_EQ(TabShown(), 3);
    Form->InOutPort1->BufReg[0] = 0x42;
    Form->InOutPort1->BufReg[1] = 0x28;
    SendMessageW(W(Form->ComboBox2), CB_SETCURSEL, 1, 0);
    Notify(Form->ComboBox2, CBN_SELCHANGE);
    EXPECT_EQ(Form->ComboBox2.ItemIndex(), 1);
    EXPECT_EQ(Text(Form->Edit6), L"42280000");

    Type(Form->Edit5, L"\r"); // Enter only enters edit mode
    EXPECT_TRUE(Enabled(Form->Button3));
    EXPECT_FALSE(Enabled(Form->ComboBox2));
    SendMessageW(W(Form->PageControl1), TCM_SETCURSEL, 0, 0);
    EXPECT_EQ(TabShown(), 3);
    EXPECT_EQ(Host.Messages.back(), "Вы не закончили изменение содержимого регистров");

    // The arrow keys on the tabs go through the same guard.
    SendMessageW(W(Form->PageControl1), WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), 3);
    Click(Form->Button2);
    EXPECT_FALSE(Enabled(Form->Button3));
    SendMessageW(W(Form->PageControl1), WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), 2);
    EXPECT_EQ(TabShown(), 2);
}

TEST_F(Win32FormViewTest, MemoShowsTheModelLinesAndTakesTypedOnes) {
    Form->Memo2.SetLines({"0103", "0104"});
    EXPECT_EQ(Text(Form->Memo2), L"0103\r\n0104");
    SendMessageW(W(Form->Memo2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"a\r\nb\r\nc"));
    Notify(Form->Memo2, EN_CHANGE); // a multi-line edit does not send it for WM_SETTEXT
    EXPECT_EQ(Form->Memo2.Lines(), (std::vector<std::string>{"a", "b", "c"}));
    // The shape follows the port state.
    EXPECT_EQ(Form->shStatus.BrushColor(), clGreen);
}

TEST_F(Win32FormViewTest, PostedMessagesAndHandedOverWorkRunFromTheLoop) {
    PostMessageW(View->Window(), WM_MBUSDATA, 210, 0);
    EXPECT_TRUE(Delivered.empty()); // posted, not sent
    // The program's host queues hand-overs for this window's loop.
    TWin32FormHost host;
    host.SetView(View.get());
    std::atomic<int> ran{0};
    std::thread other([&] {
        host.PostToMainThread([&] { ++ran; });
        host.PostToMainThread([&] { ++ran; });
    });
    other.join();
    EXPECT_EQ(ran, 0);
    Pump();
    EXPECT_EQ(Delivered, (std::vector<uintptr_t>{210}));
    EXPECT_EQ(ran, 2);
    host.SetView(nullptr);
}

TEST_F(Win32FormViewTest, CloseAndEndOfSessionRunTheCloseOnceAndWriteTheFiles) {
    std::filesystem::remove(testing_files::FsPath(Dir.Path + "RegData.mrd"));
    EXPECT_EQ(SendMessageW(View->Window(), WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageW(View->Window(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(Closes, 1);
    EXPECT_TRUE(std::filesystem::exists(testing_files::FsPath(Dir.Path + "RegData.mrd")));
    EXPECT_TRUE(std::filesystem::exists(testing_files::FsPath(Dir.Path + "CfgMBus.txt")));
    SendMessageW(View->Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(Closes, 1);
    EXPECT_FALSE(IsWindow(View->Window()));
}

// The real host's message windows, with the files in a directory of the test.
class HostInDirectory : public TWin32FormHost {
public:
    explicit HostInDirectory(std::string directory) : FDirectory(std::move(directory)) {}
    std::string ExecutableDirectory() override { return FDirectory; }

private:
    std::string FDirectory;
};

// WM_CLOSE posted while a message window is open, as taskkill does: the
// box's own loop dispatches it. The box ends as if dismissed, and the close
// runs once, from the loop, after the code that opened the box went on.
TEST(Win32CloseInAMessageWindow, EndsTheWindowAndClosesOnceAfterItReturned) {
    TempDirectory dir;
    HostInDirectory host(dir.Path);
    TFPelMBus form(host);
    TWin32FormView view(form, GetModuleHandleW(nullptr));
    host.SetView(&view);
    std::vector<std::string> steps;
    view.OnClose = [&] {
        steps.push_back("close");
        form.FormClose();
    };
    view.DeferClose = [&] { return host.EndMessagesBeforeClose(); };
    form.RunGuarded([&] { form.FormCreate(); });
    view.Show(SW_SHOWNOACTIVATE);

    PostMessageW(view.Window(), WM_CLOSE, 0, 0);
    host.ShowError("Ошибка");
    steps.push_back("box returned");
    EXPECT_TRUE(form.InOutPort1) << "the close ran inside the box";

    MSG message;
    for (int i = 0; i < 200 && IsWindow(view.Window()); ++i) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
    EXPECT_FALSE(IsWindow(view.Window()));
    EXPECT_EQ(steps, (std::vector<std::string>{"box returned", "close"}));
    EXPECT_FALSE(form.InOutPort1);
    EXPECT_TRUE(std::filesystem::exists(testing_files::FsPath(dir.Path + "RegData.mrd")));
    EXPECT_TRUE(std::filesystem::exists(testing_files::FsPath(dir.Path + "CfgMBus.txt")));
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    host.SetView(nullptr);
}

// A window that cannot be created (here refused by a hook, as on a station
// without a desktop) is an error with the reason, not a view without one.
LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
    return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Win32FormViewCreation, WindowThatCannotBeCreatedIsAnErrorWithItsReason) {
    TempDirectory dir;
    FakeFormHost host;
    host.Directory = dir.Path;
    TFPelMBus form(host);
    const HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseWindows, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    try {
        TWin32FormView view(form, GetModuleHandleW(nullptr));
        ADD_FAILURE() << "a view without a window";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("Не удалось создать окно"), std::string::npos)
            << error.what();
    }
    UnhookWindowsHookEx(hook);
}

} // namespace
} // namespace pelmbus
