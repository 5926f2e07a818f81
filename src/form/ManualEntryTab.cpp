// The manual input tab: the entry being edited (register, value, comment)
// and the list of entries, which is the only store of the entries while the
// program runs. The registers follow at the next report refresh.
#include "UPelMBus.h"

#include "Cp1251.h"
#include "DvUtils.h"
#include "LocaleNumbers.h"
#include "ManualEntries.h"
#include "SinglePrecision.h"

#include <algorithm>

namespace pelmbus {

namespace {

constexpr int32_t FirstManualRegister = 178;
constexpr int32_t LastManualRegister = 218;
constexpr char CarriageReturn = 13;

} // namespace

void TFPelMBus::BindManualEntryTab() {
    for (TEdit* edit : {&eRegNum, &eParam, &eComment}) {
        edit->FontName = "Arial";
        edit->FontHeight = 12;
    }
    sbReg.OnUpClick = [this] { sbRegUpClick(); };
    sbReg.OnDownClick = [this] { sbRegDownClick(); };
    eParam.OnKeyPress = [this](char& key) { eParamKeyPress(key); };
    eComment.OnKeyPress = [this](char& key) { eCommentKeyPress(key); };
    AddBtn.Flat = true;
    AddBtn.Glyph = TGlyph::Apply;
    AddBtn.Hint = "Занести значения в регистр";
    AddBtn.OnClick = [this] { AddBtnClick(); };
    DelBtn.Glyph = TGlyph::Delete;
    DelBtn.OnClick = [this] { DelBtnClick(); };
    lbParams.OnClick = [this] { lbParamsClick(); };
}

// The clamps come after the step, so a number from a hand-edited file moves
// into the range at the first step in its direction. In 64 bits, so that no
// number from a file can overflow.
void TFPelMBus::sbRegUpClick() {
    ManualRegNum =
        static_cast<int32_t>(std::min<int64_t>(int64_t{ManualRegNum} + 2, LastManualRegister));
    eRegNum.SetText(std::to_string(ManualRegNum));
}

void TFPelMBus::sbRegDownClick() {
    ManualRegNum =
        static_cast<int32_t>(std::max<int64_t>(int64_t{ManualRegNum} - 2, FirstManualRegister));
    eRegNum.SetText(std::to_string(ManualRegNum));
}

void TFPelMBus::AddBtnClick() {
    // Text that is not a number is stored as 0, and so is a number beyond
    // the single-precision range: it could never be served from two
    // registers, and every report refresh would stop at its line.
    double value = 0.0;
    if (!TryStrToFloat(eParam.Text(), value, FFormat) || !FitsSingle(value)) {
        value = 0.0;
    }
    eParam.SetText(FormatGeneral(value, FFormat));

    // One line per register number: a new number goes to the end, a known
    // one is replaced in place with the current value and comment. The file
    // is Windows-1251: the line goes through that code page now, so that the
    // list shows what will be stored ("?" for a character it lacks) rather
    // than a text that changes at the next start.
    const std::string line =
        Cp1251ToUtf8(Utf8ToCp1251(eRegNum.Text() + "=" + eParam.Text() + " = " + eComment.Text()));
    const int index = FindEntry(lbParams.Items(), eRegNum.Text());
    if (index < 0) {
        lbParams.Add(line);
    } else {
        lbParams.SetItem(index, line);
    }
}

// Loads the chosen entry for editing. A register number that is not a whole
// number throws before anything changes; the error report names the text.
void TFPelMBus::lbParamsClick() {
    const int index = lbParams.ItemIndex();
    if (index < 0) {
        return;
    }
    const TEntryFields fields = ReadEntryFields(lbParams.Items()[static_cast<size_t>(index)]);
    ManualRegNum = fields.RegNum;
    eRegNum.SetText(std::to_string(ManualRegNum));
    eParam.SetText(fields.ValueText);
    eComment.SetText(fields.Comment);
}

// Only while the list has the focus: a click after typing into an edit must
// not delete the line that happens to be selected. The edits keep the
// deleted entry, so "AddBtn" puts it back.
void TFPelMBus::DelBtnClick() {
    if (lbParams.Focused() && lbParams.ItemIndex() >= 0) {
        lbParams.Delete(lbParams.ItemIndex());
    }
}

void TFPelMBus::eParamKeyPress(char& key) {
    NumKeyFilter(eParam.Text(), key, FFormat);
    if (key == CarriageReturn) {
        AddBtnClick();
    }
}

void TFPelMBus::eCommentKeyPress(char& key) {
    if (key == CarriageReturn) {
        AddBtnClick();
    }
}

} // namespace pelmbus
