// Numbers in texts: whole numbers in decimal, and floating-point numbers with
// the locale's decimal separator (never a fixed one).
#pragma once

#include "FormatSettings.h"

#include <cstdint>
#include <string>

namespace pelmbus {

// Decimal signed 32-bit number: leading blanks and one sign allowed, nothing
// after the digits. StrToInt throws EConvertError naming the text.
bool TryStrToInt(const std::string& text, int32_t& value);
int32_t StrToInt(const std::string& text);

// Floating-point number with the locale's decimal separator and an optional
// exponent; blanks allowed around it. Any other separator, grouping, or a
// value outside the range of a double is not a number. StrToFloat throws
// EConvertError naming the text.
bool TryStrToFloat(const std::string& text, double& value, const TFormatSettings& format);
double StrToFloat(const std::string& text, const TFormatSettings& format);

// StrToFloat for a value stored in the float image: a number beyond the
// single-precision range is refused like text that is not a number.
float StrToSingle(const std::string& text, const TFormatSettings& format);

// "%g" with at most 15 significant digits and the locale's decimal separator,
// e.g. 12,5 or 1e+20.
std::string FormatGeneral(double value, const TFormatSettings& format);

// Fixed-point with the given number of decimals and the locale's separator
// ("%1.3f" with decimals 3): 42,000.
std::string FormatFixed(double value, int decimals, const TFormatSettings& format);

// Whole number grouped by thousands with the locale's separator: 1 000.
std::string FormatThousands(int64_t value, const TFormatSettings& format);

} // namespace pelmbus
