#include "ManualEntries.h"

#include "DvUtils.h"
#include "LocaleNumbers.h"
#include "SameText.h"
#include "TextFile.h"

#include <cmath>
#include <limits>

namespace pelmbus {

namespace {

constexpr char Delimiter = '=';
constexpr int32_t RegisterCount = 512;

} // namespace

std::string MakeEntryLine(int32_t regNum, double value, const std::string& comment,
                          const TFormatSettings& format) {
    return std::to_string(regNum) + "=" + FormatGeneral(value, format) + " = " + comment;
}

int FindEntry(const std::vector<std::string>& lines, const std::string& name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t equals = lines[i].find(Delimiter);
        if (equals != std::string::npos && SameText(lines[i].substr(0, equals), name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TEntryFields ReadEntryFields(const std::string& line) {
    TEntryFields fields;
    fields.RegNum = StrToInt(ExtractField(line, 1, 1, Delimiter));
    fields.ValueText = TrimBlanks(ExtractField(line, 2, 1, Delimiter));
    fields.Comment = TrimBlanks(ExtractField(line, 3, 1, Delimiter));
    return fields;
}

TEntryValue ReadEntryValue(const std::string& line, const TFormatSettings& format) {
    TEntryValue entry;
    const std::string regField = ExtractField(line, 1, 1, Delimiter);
    if (regField.empty()) {
        entry.RegNum = NoEntryRegister;
        return entry;
    }
    entry.RegNum = StrToInt(regField);
    entry.Value = StrToSingle(ExtractField(line, 2, 1, Delimiter), format);
    return entry;
}

std::optional<int> EntryFloatIndex(int32_t regNum) {
    if (regNum < 0 || regNum >= RegisterCount) {
        return std::nullopt;
    }
    return regNum / 2;
}

TTextFileRead ReadManualEntryFile(const std::string& path, std::vector<std::string>& lines) {
    return ReadTextFile(path, lines);
}

bool LoadManualEntryFile(const std::string& path, std::vector<std::string>& lines) {
    return ReadTextLines(path, lines);
}

bool SaveManualEntryFile(const std::string& path, const std::vector<std::string>& lines,
                         std::string& failure) {
    return WriteTextLines(path, lines, failure);
}

bool SaveManualEntryFile(const std::string& path, const std::vector<std::string>& lines) {
    return WriteTextLines(path, lines);
}

} // namespace pelmbus
