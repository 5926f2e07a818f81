// The manual input tab driven through its controls: adding, replacing,
// selecting and deleting entries, the register spin and the restart.
#include "FormFixture.h"

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

using Lines = std::vector<std::string>;

class ManualEntryTab : public FormFixture {
protected:
    void Add(int steps, const std::string& value, const std::string& comment) {
        TFPelMBus& f = *Form;
        for (int i = 0; i < steps; ++i) {
            f.sbReg.UserClick(TUDBtnType::btNext);
        }
        f.eParam.UserSetText(value);
        f.eComment.UserSetText(comment);
        f.AddBtn.UserClick();
    }
};

TEST_F(ManualEntryTab, AddAtOnceAfterAStartWithoutFileReadsTheDesignValueWithTheLocale) {
    UseComma();
    Create();
    Form->AddBtn.UserClick();
    EXPECT_EQ(Form->eParam.Text(), "100");
    EXPECT_EQ(Form->lbParams.Items(), Lines{"178=100 = Параметр №1"});
    Close();

    Host.Format = TFormatSettings{}; // "." : "100,000" is not a number
    std::filesystem::remove(Dir.Path + "RegData.mrd");
    Create();
    Form->AddBtn.UserClick();
    EXPECT_EQ(Form->eParam.Text(), "0");
    EXPECT_EQ(Form->lbParams.Items(), Lines{"178=0 = Параметр №1"});
}

TEST_F(ManualEntryTab, SameRegisterTwiceIsReplacedInPlace) {
    UseComma();
    Create();
    Add(1, "1,5", "Первый");
    Add(0, "abc", ""); // not a number: 0; an empty comment ends the line in " = "
    Form->sbReg.UserClick(TUDBtnType::btPrev);
    Add(0, "7", "Другой");
    Add(1, "2,25", "Второй");
    // Beyond single precision a value could never be served: stored as 0.
    Add(1, "1e39", "Большой");
    EXPECT_EQ(Form->lbParams.Items(),
              (Lines{"180=2,25 = Второй", "178=7 = Другой", "182=0 = Большой"}));
}

TEST_F(ManualEntryTab, TypedValueAndCarriageReturnAddTheEntry) {
    UseComma();
    Create();
    Form->eParam.UserSetText("");
    Type(Form->eParam, "1x2.5\r"); // "x" is refused, "." becomes ","
    EXPECT_EQ(Form->lbParams.Items(), Lines{"178=12,5 = Параметр №1"});
    Form->eComment.UserSetText("Давление");
    Type(Form->eComment, "\r");
    EXPECT_EQ(Form->lbParams.Items(), Lines{"178=12,5 = Давление"});
}

// The list shows an entry as the file will hold it: one line, in the file's
// code page, and the same after a restart.
TEST_F(ManualEntryTab, PastedBreaksAndCharactersOutsideTheCodePageShowAsStored) {
    UseComma();
    Create();
    Form->eParam.UserSetText("1,5\r\n");
    Form->eComment.UserSetText("Расход,\r\nм³/ч");
    Form->AddBtn.UserClick();
    const Lines shown = Form->lbParams.Items();
    EXPECT_EQ(shown, Lines{"178=1,5 = Расход,м?/ч"});
    Close();
    Create();
    EXPECT_EQ(Form->lbParams.Items(), shown);
}

TEST_F(ManualEntryTab, SpinStepsByTwoAndClampsAfterTheStep) {
    ASSERT_TRUE(WriteTextLines(Dir.Path + "RegData.mrd",
                               {"300=1 = a", "2147483647=1 = b", "-2147483648=1 = c"}));
    Create();
    TFPelMBus& f = *Form;
    const auto step = [&f](TUDBtnType button) {
        f.sbReg.UserClick(button);
        return f.eRegNum.Text();
    };
    EXPECT_EQ(step(TUDBtnType::btPrev), "298");
    f.lbParams.UserSelect(0);
    EXPECT_EQ(step(TUDBtnType::btNext), "218");
    EXPECT_EQ(step(TUDBtnType::btNext), "218");
    f.lbParams.UserSelect(1); // no overflow past the largest number
    EXPECT_EQ(step(TUDBtnType::btNext), "218");
    f.lbParams.UserSelect(2);
    EXPECT_EQ(step(TUDBtnType::btPrev), "178");
    for (int i = 0; i < 25; ++i) {
        step(TUDBtnType::btNext);
    }
    EXPECT_EQ(step(TUDBtnType::btPrev), "216");
    EXPECT_EQ(f.ManualRegNum, 216);
}

TEST_F(ManualEntryTab, SelectingLoadsTheFieldsAndABadRegisterNumberChangesNothing) {
    ASSERT_TRUE(
        WriteTextLines(Dir.Path + "RegData.mrd", {"180=1,5 = ", "182=2 = a=b", "abc=5 = x"}));
    Create();
    TFPelMBus& f = *Form;
    f.lbParams.UserSelect(1);
    EXPECT_EQ(f.eRegNum.Text(), "182");
    EXPECT_EQ(f.eParam.Text(), "2");
    EXPECT_EQ(f.eComment.Text(), "a"); // only the part before the next "="
    f.lbParams.UserSelect(0);
    EXPECT_EQ(f.eComment.Text(), "");

    f.lbParams.UserSelect(2);
    ASSERT_EQ(Host.Errors.size(), 1u);
    EXPECT_NE(Host.Errors[0].find("abc"), std::string::npos);
    EXPECT_EQ(f.ManualRegNum, 180);
    EXPECT_EQ(f.eRegNum.Text(), "180");
    EXPECT_EQ(f.eParam.Text(), "1,5");
}

TEST_F(ManualEntryTab, DeleteOnlyWhileTheListHasTheFocusAndAddPutsItBack) {
    ASSERT_TRUE(WriteTextLines(Dir.Path + "RegData.mrd", {"178=1 = a", "180=2 = b"}));
    Create();
    TFPelMBus& f = *Form;
    f.lbParams.UserSelect(0);
    Type(f.eComment, "c"); // the focus leaves the list
    f.DelBtn.UserClick();
    EXPECT_EQ(f.lbParams.Count(), 2);

    f.lbParams.UserFocus();
    f.DelBtn.UserClick();
    EXPECT_TRUE(f.lbParams.Focused()); // the speed button took no focus
    EXPECT_EQ(f.lbParams.Items(), Lines{"180=2 = b"});
    EXPECT_EQ(f.lbParams.ItemIndex(), -1);
    f.DelBtn.UserClick(); // nothing selected
    EXPECT_EQ(f.lbParams.Count(), 1);

    f.AddBtn.UserClick();
    EXPECT_EQ(f.lbParams.Items(), (Lines{"180=2 = b", "178=1 = ac"}));
}

TEST_F(ManualEntryTab, RestartKeepsTheOrderAndShowsTheFirstEntry) {
    UseComma();
    Create();
    Add(3, "3,5", "Третий");
    Form->sbReg.UserClick(TUDBtnType::btPrev);
    Add(0, "-1", "");
    Close();
    Form.reset();

    Create();
    EXPECT_EQ(Form->lbParams.Items(), (Lines{"184=3,5 = Третий", "182=-1 = "}));
    EXPECT_EQ(Form->ManualRegNum, 184);
    EXPECT_EQ(Form->eParam.Text(), "3,5");
    EXPECT_EQ(Form->eComment.Text(), "Третий");
}

} // namespace
