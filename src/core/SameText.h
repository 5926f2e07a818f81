// Comparison of texts ignoring letter case, for Latin and Cyrillic letters
// alike (the letters of the Windows-1251 code page), as keys and entry names
// are matched.
#pragma once

#include <string_view>

namespace pelmbus {

bool SameText(std::string_view a, std::string_view b);

} // namespace pelmbus
