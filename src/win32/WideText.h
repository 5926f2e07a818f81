// UTF-8 (the program's own text) to and from UTF-16 (the Windows API's).
#pragma once

#include <string>

namespace pelmbus {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

} // namespace pelmbus
