// Which encoding the bytes of a stored text file are in. The program writes
// Windows-1251; an operator's editor may save the same file as UTF-8 (with or
// without a byte-order mark) or as UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace pelmbus {

// The file's text as UTF-8. A UTF-8, UTF-16 LE or UTF-16 BE byte-order mark
// names the encoding (the mark itself is not text); without a mark, bytes that
// are valid UTF-8 and hold at least one character beyond ASCII are UTF-8;
// everything else is Windows-1251. Windows-1251 text with Cyrillic letters is
// practically never valid UTF-8, so every file the program writes reads as
// before.
std::string DecodeStoredText(std::string_view bytes);

} // namespace pelmbus
