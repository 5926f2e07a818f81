// Any bytes as a manual entry line: field cutting stays inside the line,
// conversions either succeed or raise the conversion error, numbers written
// in the locale's form read back, and the code page round trip is exact.
#include "Cp1251.h"
#include "DvUtils.h"
#include "Errors.h"
#include "LocaleNumbers.h"
#include "ManualEntries.h"
#include "SameText.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace pelmbus;

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

const TFormatSettings Comma{",", "\u00A0", "dd.MM.yyyy", "hh:mm:ss"};
const TFormatSettings Point{".", ",", "MM/dd/yy", "hh:mm:ss"};

void CheckNumberRoundTrip(double value, const TFormatSettings& format) {
    if (!(std::abs(value) <= 1e308)) {
        return;
    }
    double back = 0.0;
    Check(TryStrToFloat(FormatGeneral(value, format), back, format));
    Check(std::abs(back - value) <= std::abs(value) * 1e-14);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int index = static_cast<int8_t>(data[0]) % 6;
    const int count = static_cast<int8_t>(data[1]) % 4;
    const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::string text = Cp1251ToUtf8(bytes);
    Check(Utf8ToCp1251(text) == bytes);
    Check(SameText(text, text));
    Check(Utf8ToCp1251(bytes).size() <= bytes.size());

    for (const std::string& line : {bytes, text}) {
        const std::string field = ExtractField(line, index, count, '=');
        Check(field.size() <= line.size());
        Check(field.empty() || line.find(field) != std::string::npos);

        int32_t whole = 0;
        if (TryStrToInt(field, whole)) {
            Check(StrToInt(std::to_string(whole)) == whole);
        }
        for (const TFormatSettings* format : {&Comma, &Point}) {
            double value = 0.0;
            if (TryStrToFloat(field, value, *format)) {
                Check(std::isfinite(value));
                CheckNumberRoundTrip(value, *format);
            }
            try {
                const TEntryValue entry = ReadEntryValue(line, *format);
                (void)EntryFloatIndex(entry.RegNum);
            } catch (const EConvertError&) {
            }
            char key = field.empty() ? 'x' : field[0];
            NumKeyFilter(line, key, *format);
            Check(key == '\0' || key == ',' || key == '.' || key == '+' || key == '-' || key == 8 ||
                  key == 13 || (key >= '0' && key <= '9'));
        }
        try {
            const TEntryFields fields = ReadEntryFields(line);
            Check(std::to_string(fields.RegNum).size() <= line.size());
        } catch (const EConvertError&) {
        }
    }
    return 0;
}
