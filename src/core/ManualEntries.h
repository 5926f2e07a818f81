// Manual register entries: one line per entry, "register=value = comment",
// kept in "RegData.mrd" beside the executable.
#pragma once

#include "FormatSettings.h"
#include "TextFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelmbus {

inline constexpr const char* ManualEntryFileName = "RegData.mrd";

// "178=12,5 = Параметр №1": the value in the locale's "%g" form.
std::string MakeEntryLine(int32_t regNum, double value, const std::string& comment,
                          const TFormatSettings& format);

// Index of the first line whose text before its first "=" equals name,
// letter case ignored; -1 when there is none. Lines without "=" have no name.
int FindEntry(const std::vector<std::string>& lines, const std::string& name);

// What the tab shows of an entry: the register number and the value and
// comment texts, blanks trimmed. Throws EConvertError naming field 1 when it
// is not a whole number.
struct TEntryFields {
    int32_t RegNum = 0;
    std::string ValueText;
    std::string Comment;
};
TEntryFields ReadEntryFields(const std::string& line);

// What a report refresh applies of an entry: the register number and the
// value rounded to single precision. A line without a register field (blank,
// or a ";" comment, as hand-edited files have) gives NoEntryRegister, which
// no float holds, so the refresh passes over it. Throws EConvertError naming
// the field that is not a number (the value with the locale's decimal
// separator only).
inline constexpr int32_t NoEntryRegister = -1;
struct TEntryValue {
    int32_t RegNum = 0;
    float Value = 0.0f;
};
TEntryValue ReadEntryValue(const std::string& line, const TFormatSettings& format);

// The float of BufFloat that holds register regNum's entry (regNum div 2),
// or nothing when the register is outside the 512 holding registers.
std::optional<int> EntryFloatIndex(int32_t regNum);

// The file's lines as they are; lines stay unchanged unless it was read.
TTextFileRead ReadManualEntryFile(const std::string& path, std::vector<std::string>& lines);
// The same, true only when the file was read.
bool LoadManualEntryFile(const std::string& path, std::vector<std::string>& lines);

// Replaces the file whole (an empty list gives an empty file); false, with
// the old file left as it was and the reason in failure, when it cannot be
// written.
bool SaveManualEntryFile(const std::string& path, const std::vector<std::string>& lines,
                         std::string& failure);
bool SaveManualEntryFile(const std::string& path, const std::vector<std::string>& lines);

} // namespace pelmbus
