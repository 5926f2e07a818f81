// The text a window holds, read whole.
#pragma once

#include <windows.h>

#include <string>

namespace pelmbus {

inline std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

} // namespace pelmbus
