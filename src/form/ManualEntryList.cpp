// The list of manual register entries: loaded from "RegData.mrd" when the
// window is created, written back when it closes.
#include "UPelMBus.h"

#include "Errors.h"
#include "ManualEntries.h"

namespace pelmbus {

std::string TFPelMBus::ManualEntriesPath() const {
    return ExeDir + ManualEntryFileName;
}

void TFPelMBus::LoadManualEntries() {
    ManualRegNum = 178;
    eRegNum.SetText("178");

    std::vector<std::string> lines;
    const TTextFileRead read = ReadManualEntryFile(ManualEntriesPath(), lines);
    FEntriesRead = read;
    FEntriesUnreadable = read == TTextFileRead::Unreadable;
    if (read != TTextFileRead::Read) {
        return; // no file: an empty list, the edits keep their texts
    }
    lbParams.SetItems(lines);
    if (lines.empty()) {
        return;
    }
    // The first entry is ready for editing. A first line whose register is
    // not a whole number leaves 178 and the edits' texts: start-up goes on.
    TEntryFields fields;
    try {
        fields = ReadEntryFields(lines.front());
    } catch (const EConvertError&) {
        return;
    }
    ManualRegNum = fields.RegNum;
    eRegNum.SetText(std::to_string(ManualRegNum));
    eParam.SetText(fields.ValueText);
    eComment.SetText(fields.Comment);
}

bool TFPelMBus::SaveManualEntries(std::string& failure) {
    // An empty list in place of a file that could not be read is not what
    // the operator stored: that file is kept.
    if (FEntriesUnreadable) {
        failure = "при запуске файл не удалось прочитать";
        return false;
    }
    return SaveManualEntryFile(ManualEntriesPath(), lbParams.Items(), failure);
}

} // namespace pelmbus
