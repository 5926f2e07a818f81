// Text helpers of the window: the filter for typed decimal numbers and the
// field cutter for "="-separated entry lines.
#pragma once

#include "FormatSettings.h"

#include <string>

namespace pelmbus {

// Decides whether a character typed into a decimal-number field is taken.
// key is one byte, in and out; on return it is the character to insert
// (either of "," and "." becomes the locale's decimal separator) or NUL.
void NumKeyFilter(const std::string& text, char& key, const TFormatSettings& format);

// Advances position (counted from 1) over n fields of line: a run of
// delimiters counts as one separator. Never passes line.size() + 1.
void SkipFields(const std::string& line, int n, int& position, char delimiter);

// The count fields of line starting with field index (from 1), blanks and
// control characters trimmed, then one delimiter removed from the end and
// one from the start. Empty for an empty line, a ";" comment line, and
// index or count below 1.
std::string ExtractField(const std::string& line, int index, int count, char delimiter);

// Removes every character up to and including the space (code 32) from both
// ends, or from the start only.
std::string TrimBlanks(const std::string& text);
std::string TrimLeftBlanks(const std::string& text);

} // namespace pelmbus
