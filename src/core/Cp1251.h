// Conversion between the Windows-1251 bytes of the stored files and the
// UTF-8 text the program works with.
#pragma once

#include <string>
#include <string_view>

namespace pelmbus {

// Every byte has a character: the one byte the code page leaves unassigned
// (0x98) becomes U+0098, so any file reads and writes back unchanged.
std::string Cp1251ToUtf8(std::string_view bytes);

// A character without a Windows-1251 form, and a byte that is not valid
// UTF-8, becomes "?"; nothing is dropped.
std::string Utf8ToCp1251(std::string_view text);

} // namespace pelmbus
