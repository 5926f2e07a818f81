// The stored text files: Windows-1251 on disk, one item per line, every line
// ended by CR LF; UTF-8 lines in the program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelmbus {

// Splits text into lines: CR LF, a lone LF or a lone CR ends a line. The end
// of the last line is optional, so "" has no line and "\r\n" one empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

// Replaces lines by the file's lines. False, with lines unchanged, when the
// file is missing, not a regular file, or cannot be read.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines);

// Writes every line followed by CR LF. The file is replaced whole or not at
// all: the bytes go to a temporary file beside it, which is flushed to disk
// and then renamed over the old file. False when any step fails; the old
// file is then left as it was.
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines);

} // namespace pelmbus
