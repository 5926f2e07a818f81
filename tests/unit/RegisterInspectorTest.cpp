// The register inspector driven through its controls: what it shows of
// BufReg in both representations, the moves and their wrap-around, writing
// and its failures, edit mode and the tab guard.
#include "FormFixture.h"

#include <atomic>
#include <mutex>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

class RegisterInspector : public FormFixture {
protected:
    void SetUp() override { Create(); }
    std::array<uint8_t, TInOutPort::BlockSize>& Image() { return Form->InOutPort1->BufReg; }
    void Spin(TUDBtnType button, int times = 1) {
        for (int i = 0; i < times; ++i) {
            Form->SpinButton1.UserClick(button);
        }
    }
    // The operator types a value into Edit5 and presses "Ввод".
    void Enter(const std::string& text) {
        Form->Edit5.UserKeyPress('0');
        Form->Edit5.UserSetText(text);
        Form->Button3.UserClick();
    }
    bool EditMode() const { return Form->Button3.Enabled(); }
};

TEST_F(RegisterInspector, ShowsIntegersAndFloatsWithTheirHexAndTheLocalesSeparator) {
    Image()[0] = 0x12;
    Image()[1] = 0x34;
    Form->Button2Click(); // any refresh
    EXPECT_EQ(Form->Edit4.Text(), "0");
    EXPECT_EQ(Form->Edit5.Text(), "4660");
    EXPECT_EQ(Form->Edit6.Text(), "        1234");

    Image()[0] = 0x42;
    Image()[1] = 0x28;
    Form->ComboBox2.UserSelect(1);
    EXPECT_EQ(Form->Edit5.Text(), "42.000");
    EXPECT_EQ(Form->Edit6.Text(), "42280000");

    Close();
    UseComma();
    Create();
    Image()[0] = 0xC2; // -42.125
    Image()[1] = 0x28;
    Image()[2] = 0x80;
    Form->ComboBox2.UserSelect(1);
    EXPECT_EQ(Form->Edit5.Text(), "-42,125");
    EXPECT_EQ(Form->Edit6.Text(), "C2288000");
    Image()[0] = 0x7F; // not a number
    Image()[1] = 0xC0;
    Form->Button2Click();
    EXPECT_EQ(Form->Edit5.Text(), "NAN");
}

TEST_F(RegisterInspector, MovesWrapAroundInBothRepresentations) {
    Spin(TUDBtnType::btPrev);
    EXPECT_EQ(Form->Edit4.Text(), "511");
    Spin(TUDBtnType::btNext);
    EXPECT_EQ(Form->Edit4.Text(), "0");

    Spin(TUDBtnType::btNext, 5); // register 5 moves down to its pair's 4
    Form->ComboBox2.UserSelect(1);
    EXPECT_EQ(Form->Edit4.Text(), "4");
    Form->ComboBox2.UserSelect(0);
    EXPECT_EQ(Form->Edit4.Text(), "4");

    // Each change moves the bound once: 511 for floats, 512 for integers.
    Form->ComboBox2.UserSelect(1);
    Form->ComboBox2.UserSelect(0);
    Form->ComboBox2.UserSelect(1);
    Spin(TUDBtnType::btPrev, 3);
    EXPECT_EQ(Form->Edit4.Text(), "510");
    Spin(TUDBtnType::btNext);
    EXPECT_EQ(Form->Edit4.Text(), "0");
    Form->ComboBox2.UserSelect(0);
    Spin(TUDBtnType::btPrev);
    EXPECT_EQ(Form->Edit4.Text(), "511");
    EXPECT_EQ(Form->RegNomerMax, 512);
}

TEST_F(RegisterInspector, WritesIntegersModulo65536AndFloatsInSinglePrecision) {
    Form->InOutPort1->BufFloat[255] = 9.0f;
    const auto floats = Form->InOutPort1->BufFloat;
    Enter("-1");
    EXPECT_EQ(Image()[0], 0xFF);
    EXPECT_EQ(Image()[1], 0xFF);
    EXPECT_EQ(Form->Edit5.Text(), "65535");
    EXPECT_FALSE(EditMode());
    EXPECT_TRUE(Form->SpinButton1.Enabled());

    Spin(TUDBtnType::btPrev); // register 511: the last two bytes
    Enter("70000");
    EXPECT_EQ(Image()[1022], 0x11);
    EXPECT_EQ(Image()[1023], 0x70);
    EXPECT_EQ(Form->Edit5.Text(), "4464");

    Form->ComboBox2.UserSelect(1); // register 510, the last float
    Enter("0.1");
    EXPECT_EQ((std::array<uint8_t, 4>{Image()[1020], Image()[1021], Image()[1022], Image()[1023]}),
              (std::array<uint8_t, 4>{0x3D, 0xCC, 0xCC, 0xCD}));
    EXPECT_EQ(Form->Edit5.Text(), "0.100");
    EXPECT_EQ(Form->InOutPort1->BufFloat, floats); // the float image is not touched
}

TEST_F(RegisterInspector, TextThatIsNoValueShowsErrorWritesNothingAndKeepsEditMode) {
    Image()[2] = 0x01;
    Spin(TUDBtnType::btNext);
    const auto before = Image();
    for (const std::string text : {"abc", "", "1,5", "2147483648"}) {
        Enter(text);
        EXPECT_EQ(Form->Edit5.Text(), "Ошибка") << text;
    }
    Form->Button2.UserClick(); // "Сброс" brings the value back
    EXPECT_FALSE(EditMode());
    EXPECT_EQ(Form->Edit5.Text(), "256");

    Form->ComboBox2.UserSelect(1);
    for (const std::string text : {"1e39", "-3.5e38", "x"}) { // beyond single precision too
        Enter(text);
        EXPECT_EQ(Form->Edit5.Text(), "Ошибка") << text;
    }
    EXPECT_EQ(Image(), before);
    EXPECT_TRUE(EditMode());
    EXPECT_FALSE(Form->ComboBox2.Enabled());
    EXPECT_TRUE(Host.Errors.empty());
    Enter("3.4e38"); // "Ввод" works from here
    EXPECT_FALSE(EditMode());
    EXPECT_EQ(Form->Edit6.Text(), "7F7FC99E");
}

TEST_F(RegisterInspector, EnterOnlyEntersEditModeAndTheTabGuardHoldsUntilItEnds) {
    ASSERT_TRUE(Form->PageControl1.UserSelectPage(3));
    const auto before = Image();
    EXPECT_EQ(Form->Edit5.UserKeyPress('\r'), '\r');
    EXPECT_TRUE(EditMode());
    EXPECT_FALSE(Form->SpinButton1.Enabled());
    EXPECT_EQ(Image(), before);

    // A key in Edit4 refreshes at once; edit mode stays.
    Form->Edit5.UserSetText("123");
    Form->Edit4.UserSetText("77");
    EXPECT_EQ(Form->Edit4.Text(), "0");
    EXPECT_EQ(Form->Edit5.Text(), "0");
    EXPECT_TRUE(EditMode());

    EXPECT_FALSE(Form->PageControl1.UserSelectPage(0));
    EXPECT_EQ(Host.Messages,
              std::vector<std::string>{"Вы не закончили изменение содержимого регистров"});
    Form->Button2.UserClick();
    EXPECT_TRUE(Form->PageControl1.UserSelectPage(0));
}

TEST_F(RegisterInspector, AReportRefreshesItOnlyWhileItsTabIsActive) {
    Image()[1] = 7;
    Form->RefreshInspectorAfterReport();
    EXPECT_EQ(Form->Edit5.Text(), "0");
    ASSERT_TRUE(Form->PageControl1.UserSelectPage(3));
    Form->RefreshInspectorAfterReport();
    EXPECT_EQ(Form->Edit5.Text(), "7");
}

TEST_F(RegisterInspector, AReportLeavesTheValueBeingTypedAloneUntilEditModeEnds) {
    ASSERT_TRUE(Form->PageControl1.UserSelectPage(3));
    Form->Edit5.UserKeyPress('1');
    Form->Edit5.UserSetText("12");
    Image()[1] = 7;
    Form->RefreshInspectorAfterReport();
    EXPECT_EQ(Form->Edit5.Text(), "12");
    EXPECT_EQ(Form->Edit6.Text(), "        0007"); // the raw content still follows
    Form->Button3.UserClick();
    EXPECT_EQ(Image()[1], 12); // what was typed, not the refreshed value
    Image()[1] = 9;
    Form->RefreshInspectorAfterReport();
    EXPECT_EQ(Form->Edit5.Text(), "9");
}

// Under ThreadSanitizer: the inspector's reads and writes of BufReg hold the
// image mutex, as the receive thread does while it handles a request.
TEST_F(RegisterInspector, ReadsAndWritesHoldTheImageMutex) {
    std::atomic<bool> stop{false};
    std::thread master([this, &stop] {
        while (!stop) {
            std::lock_guard lock(Form->InOutPort1->ImageMutex);
            Image()[0] = static_cast<uint8_t>(Image()[0] + 1);
        }
    });
    for (int i = 0; i < 200; ++i) {
        Enter(std::to_string(i));
        Form->Button2Click();
    }
    stop = true;
    master.join();
    EXPECT_FALSE(EditMode());
}

} // namespace
