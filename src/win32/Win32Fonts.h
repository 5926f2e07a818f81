// The window's DPI and the fonts of the Win32 view: per-monitor DPI where
// Windows offers it, and scalable faces for the design's bitmap font.
#pragma once

#include <windows.h>

#include <string>

namespace pelmbus {

// Dots per inch of the window's monitor, else of the screen.
UINT WindowDpi(HWND window);
// The outer rectangle of a window whose client area is `rect` at `dpi`.
void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);
// The design's face, or its TrueType twin where the design's is a bitmap
// font.
std::wstring ScalableFace(const std::string& face);
// A font `height` pixels high.
HFONT MakeFont(const std::wstring& face, int height, bool bold);

} // namespace pelmbus
