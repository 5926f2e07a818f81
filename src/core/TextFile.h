// The stored text files: Windows-1251 on disk, one item per line, every line
// ended by CR LF; UTF-8 lines in the program. Reading also takes a file that
// an editor saved as UTF-8 or UTF-16 (see StoredText.h); saving always writes
// Windows-1251.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelmbus {

// Splits text into lines: CR LF, a lone LF or a lone CR ends a line. The end
// of the last line is optional, so "" has no line and "\r\n" one empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

// What became of reading a file: Missing when nothing exists at the path,
// Unreadable when something exists that could not be read (permissions, a
// lock, a directory): such a file must not be replaced by what the program
// holds instead of its contents.
enum class TTextFileRead { Read, Missing, Unreadable };

// Replaces lines by the file's lines; lines stay unchanged unless Read.
TTextFileRead ReadTextFile(const std::string& path, std::vector<std::string>& lines);

// The same, true only when the file was read.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines);

// Writes every line followed by CR LF. The file is replaced whole or not at
// all: the bytes go to a new temporary file beside it, which is flushed to
// disk and then renamed over the old file. A symbolic link at the path keeps
// pointing at its target, which is what gets replaced; the new file keeps the
// old file's permission bits. Refused, and false, when a line holds CR or LF
// (it would come back as two lines), when the file is read-only or not a
// regular file, or when any step fails; the old file is then left as it was
// and failure says why, in the operator's words.
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines,
                    std::string& failure);
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines);

} // namespace pelmbus
