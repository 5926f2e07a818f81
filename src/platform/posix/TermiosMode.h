// How a CommMode maps to termios flags; kept apart from the device so that
// the mapping can be checked on its own (pseudo-terminals, for example,
// force eight data bits and no parity whatever they are told).
#pragma once

#include "CommMode.h"

#include <termios.h>

namespace pelmbus {

// The combinations a UART cannot frame: 1.5 stop bits exist only with five
// data bits, and five data bits cannot have two.
bool FramingPossible(const CommMode& mode);

// Puts `tio` into raw mode with the framing and flow control of `mode`.
// The baud rate is set apart: it may need termios2.
void ApplyModeToTermios(const CommMode& mode, termios& tio);

// The termios constant of a baud rate; false when it has none.
bool StandardSpeed(uint32_t baud, speed_t& speed);

} // namespace pelmbus
