// The program's message window: the text, one OK button, the application
// title "ModBus" as caption, centred on the screen.
#pragma once

#include <windows.h>

#include <string>

namespace pelmbus {

inline constexpr wchar_t ApplicationTitle[] = L"ModBus";

// Modal to `owner`; `error` adds the error sign of the default error report.
void ShowMessageWindow(HWND owner, const std::string& text, bool error);

} // namespace pelmbus
