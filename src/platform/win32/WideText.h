// UTF-8 inside the program, UTF-16 in every Win32 call: the conversions at
// that boundary.
#pragma once

#include <string>
#include <string_view>

namespace pelmbus {

// A malformed sequence becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

} // namespace pelmbus
