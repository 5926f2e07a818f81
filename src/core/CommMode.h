// The line settings of a serial port and the parser of their text form.
// The text has one of the two forms the Windows "mode" command and
// BuildCommDCB accept, so that one settings string works on every platform:
//   "9600,N,8,2"                        baud[,parity[,data[,stop[,x|p]]]]
//   "baud=9600 parity=N data=8 stop=2"  key=value items separated by blanks
#pragma once

#include <cstdint>
#include <string_view>

namespace pelmbus {

// Values in the order of the Win32 DCB constants, so a Windows layer can
// copy them over unchanged.
enum class CommParity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class CommStopBits : uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
enum class DtrControl : uint8_t { Disable = 0, Enable = 1, Handshake = 2 };
enum class RtsControl : uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

// Everything a device needs to set up its line. A new value describes
// 9600 baud, 8 data bits, no parity, one stop bit and no flow control; a
// mode text that leaves out parity or data bits keeps what was there.
struct CommMode {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8; // 5 to 8
    CommParity Parity = CommParity::None;
    CommStopBits StopBits = CommStopBits::One;
    bool OutxCtsFlow = false;    // output waits for CTS
    bool OutxDsrFlow = false;    // output waits for DSR
    bool DsrSensitivity = false; // input ignored while DSR is low
    bool OutX = false;           // XON/XOFF obeyed on output
    bool InX = false;            // XON/XOFF sent on input
    DtrControl Dtr = DtrControl::Enable;
    RtsControl Rts = RtsControl::Enable;
    uint8_t EvtChar = 0; // character that signals a flag event; unused by the line itself

    bool operator==(const CommMode&) const = default;
};

// Fills `mode` from a mode text and returns true. On a text that does not
// parse it returns false and leaves `mode` as it was. The old two-digit baud
// rates (11 15 30 60 12 24 48 96 19) stand for 110 to 19200 baud. Without a
// stop-bit item the line gets one stop bit, two at 110 baud.
bool ParseCommMode(std::string_view text, CommMode& mode);

} // namespace pelmbus
