// The two controls the window system lacks, painted here: the status shape
// (a rounded rectangle in the model's colour) and the speed button (a
// button with a picture that never takes the input focus).
#pragma once

#include "Controls.h"

#include <windows.h>

namespace pelmbus {

// The model's colours and the window system's both keep red in the low byte.
inline COLORREF ToColorRef(TColor color) {
    return static_cast<COLORREF>(color & 0xFFFFFFu);
}

inline constexpr wchar_t ShapeClassName[] = L"TPelMBusShape";
inline constexpr wchar_t SpeedButtonClassName[] = L"TPelMBusSpeedButton";

// Registers both classes once per process. CreateWindowExW takes the model
// (TShape* or TSpeedButton*) as its last argument. A speed button reports a
// click to its parent as a button does (WM_COMMAND, BN_CLICKED) and also
// answers BM_CLICK.
void RegisterPaintedControls(HINSTANCE instance);

} // namespace pelmbus
